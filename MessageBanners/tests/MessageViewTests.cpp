#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "MessageBanners/MessageView.h"
#include "MessageBanners/Archiving.h"
#include "MessageBanners/NibLoading.h"
#include "platform/uikit/Archive.h"

namespace MessageBanners {
namespace {

using Layout = MessageView::Layout;
namespace fs = std::filesystem;

// A folder of its own per test, removed afterwards; the main bundle goes back to none.
class MessageViewTest : public ::testing::Test {
 protected:
  void TearDown() override {
    foundation::Bundle::setMainBundleName("");
    foundation::Bundle::resetMain();
    setCodeBundlePath("");
    if (!folder_.empty()) fs::remove_all(folder_);
  }
  fs::path folder() {
    if (folder_.empty()) {
      folder_ = fs::temp_directory_path() /
                ("banners-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
      fs::remove_all(folder_);
      fs::create_directories(folder_);
    }
    return folder_;
  }
  static void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  fs::path folder_;
};

TEST_F(MessageViewTest, EveryLayoutLoadsWithItsOutletsConnected) {
  struct Case {
    Layout layout;
    bool cardIsTheView;  // an edge-to-edge layout is its own background
    bool hasIconsAndButton;
    bool centred = false;
  };
  const Case cases[] = {
      {Layout::MessageView, true, true}, {Layout::CardView, false, true}, {Layout::TabView, false, true},
      {Layout::StatusLine, true, false}, {Layout::CenteredView, false, true, true},
  };
  for (const auto& c : cases) {
    auto name = MessageView::rawValue(c.layout);
    SCOPED_TRACE(name);
    // Loaded straight from the bundle first, so a broken archive shows the loader's reason.
    registerArchiveClasses();
    auto objects = uikit::loadNibNamedInBundle(name, newNullOwner(), resourceBundle());
    ASSERT_TRUE(objects) << objects.error().localizedDescription();

    auto view = MessageView::viewFromNib(c.layout);
    ASSERT_TRUE(view->bodyLabel());
    ASSERT_TRUE(view->backgroundView());
    EXPECT_EQ(view->backgroundView().get() == view.get(), c.cardIsTheView);
    EXPECT_TRUE(view->backgroundView()->isDescendantOfView(view.get()));
    EXPECT_TRUE(view->bodyLabel()->isDescendantOfView(view.get()));
    if (c.hasIconsAndButton) {
      for (uikit::UIView* outlet : std::initializer_list<uikit::UIView*>{
               view->titleLabel().get(), view->iconImageView().get(), view->iconLabel().get(), view->button().get()}) {
        ASSERT_TRUE(outlet);
        EXPECT_TRUE(outlet->isDescendantOfView(view->backgroundView().get()));
      }
      // Stretched to a wider screen, the card and its text widen and the button keeps to the
      // right, or to the middle in the centred layout.
      auto card = view->backgroundView();
      auto buttonPlace = [&] {
        auto frame = view->button()->frame();
        auto width = card->bounds().size.width;
        return c.centred ? frame.origin.x + frame.size.width / 2 - width / 2 : width - frame.origin.x;
      };
      auto place = buttonPlace();
      auto width = view->bodyLabel()->frame().size.width;
      view->setFrame({0, 0, view->frame().size.width + 200, view->frame().size.height});
      view->layoutIfNeeded();
      EXPECT_EQ(buttonPlace(), place);
      EXPECT_EQ(view->bodyLabel()->frame().size.width, width + 200);
      // The nib's button is wired to the view's action.
      EXPECT_EQ(view->button()->actionsForTarget(view.get(), uikit::UIControlEventTouchUpInside),
                std::vector<std::string>{"buttonTapped:"});
    }
  }
}

TEST_F(MessageViewTest, LayoutNamesAreExact) {
  EXPECT_EQ(MessageView::layoutFromRawValue("CardView"), Layout::CardView);
  EXPECT_EQ(MessageView::layoutFromRawValue("StatusLine"), Layout::StatusLine);
  for (const char* other : {"cardView", "", "CardView.nib"}) EXPECT_FALSE(MessageView::layoutFromRawValue(other)) << other;
}

TEST_F(MessageViewTest, IdentityAndSpokenText) {
  auto view = MessageView::viewFromNib(Layout::CardView);
  view->configureContent(std::nullopt, std::nullopt);
  EXPECT_EQ(view->id(), "MessageView:title=nil, body=nil");
  EXPECT_EQ(view->accessibilityMessage(), std::nullopt);

  view->configureContent("Saved", "Line \"one\"\nback\\slash");
  EXPECT_EQ(view->id(), "MessageView:title=Optional(\"Saved\"), body=Optional(\"Line \\\"one\\\"\\nback\\\\slash\")");
  auto twin = MessageView::viewFromNib(Layout::MessageView);
  twin->configureContent("Saved", "Line \"one\"\nback\\slash");
  EXPECT_EQ(twin->id(), view->id());
  view->customId = "mine";
  EXPECT_EQ(view->id(), "mine");

  struct Case {
    std::optional<std::string> prefix, title, body, spoken;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, "Body only", "Body only"},
      {"Warning", "Title", "Body", "Warning, Title, Body"},
      {"Warning", std::nullopt, "Body", "Warning, Body"},
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    view->accessibilityPrefix = c.prefix;
    view->configureContent(c.title, c.body);
    EXPECT_EQ(view->accessibilityMessage(), c.spoken);
  }
}

TEST_F(MessageViewTest, AccessibilityElementsAreWalkedDepthFirst) {
  auto view = MessageView::viewFromNib(Layout::CardView);
  EXPECT_EQ(view->accessibilityElement(), view->backgroundView());
  std::vector<uikit::UIView*> expected{view->titleLabel().get(), view->bodyLabel().get(), view->button().get()};
  std::vector<uikit::UIView*> found;
  for (const auto& e : view->additionalAccessibilityElements()) found.push_back(e.get());
  EXPECT_EQ(found, expected);

  // An element is not entered; a plain container is.
  auto group = uikit::UIView::create();
  auto inner = uikit::UIView::create();
  inner->isAccessibilityElement = true;
  auto hidden = uikit::UIView::create();
  hidden->isAccessibilityElement = true;
  inner->addSubview(hidden);
  group->addSubview(inner);
  view->backgroundView()->addSubview(group);
  EXPECT_EQ(view->additionalAccessibilityElements().back(), inner);

  // Without a card the view itself is walked, rather than nothing being there to walk.
  auto bare = MessageView::create();
  bare->setBackgroundView(nullptr);
  EXPECT_EQ(bare->accessibilityElement(), bare);
  auto label = uikit::UIView::create();
  label->isAccessibilityElement = true;
  bare->addSubview(label);
  EXPECT_EQ(bare->additionalAccessibilityElements(), std::vector<std::shared_ptr<uikit::UIView>>{label});
}

TEST_F(MessageViewTest, IconsSwitchBetweenImageAndText) {
  auto view = MessageView::viewFromNib(Layout::CardView);
  auto image = uikit::UIImage::create({20, 20});
  view->configureContent("T", "B", image);
  EXPECT_EQ(view->iconImageView()->image(), image);
  EXPECT_FALSE(view->iconImageView()->isHidden());
  EXPECT_TRUE(view->iconLabel()->isHidden());

  view->configureContent("T", "B", std::string("🙂"));
  EXPECT_EQ(view->iconImageView()->image(), nullptr);
  EXPECT_TRUE(view->iconImageView()->isHidden());
  EXPECT_EQ(view->iconLabel()->text(), "🙂");
  EXPECT_FALSE(view->iconLabel()->isHidden());

  // The full form clears what it is not given and shows each icon exactly when it has content.
  int taps = 0;
  view->configureContent("T", std::nullopt, image, std::nullopt, nullptr, "Undo", [&](uikit::UIButton&) { ++taps; });
  EXPECT_EQ(view->bodyLabel()->text(), "");
  EXPECT_FALSE(view->iconImageView()->isHidden());
  EXPECT_TRUE(view->iconLabel()->isHidden());
  EXPECT_EQ(view->button()->titleForState(uikit::UIControlStateNormal), "Undo");
  view->button()->sendActionsForControlEvents(uikit::UIControlEventTouchUpInside);
  EXPECT_EQ(taps, 1);
}

TEST_F(MessageViewTest, ReplacingTheButtonMovesItsAction) {
  auto view = MessageView::viewFromNib(Layout::CardView);
  auto old = view->button();
  auto replacement = uikit::UIButton::create();
  int taps = 0;
  uikit::UIButton* tapped = nullptr;
  view->buttonTapHandler = [&](uikit::UIButton& button) {
    ++taps;
    tapped = &button;
  };
  view->setButton(replacement);
  EXPECT_TRUE(old->actionsForTarget(view.get(), uikit::UIControlEventTouchUpInside).empty());
  old->sendActionsForControlEvents(uikit::UIControlEventTouchUpInside);
  EXPECT_EQ(taps, 0);
  replacement->sendActionsForControlEvents(uikit::UIControlEventTouchUpInside);
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(tapped, replacement.get());

  // Without a handler a tap does nothing.
  view->buttonTapHandler = nullptr;
  replacement->sendActionsForControlEvents(uikit::UIControlEventTouchUpInside);
  EXPECT_EQ(taps, 1);
}

TEST_F(MessageViewTest, ExplicitColoursAndIconSize) {
  auto view = MessageView::viewFromNib(Layout::CardView);
  auto blue = uikit::UIColor(0, 0, 1, 1);
  auto white = uikit::UIColor::whiteColor();
  view->configureTheme(blue, white, nullptr, "!");
  EXPECT_EQ(view->backgroundView()->backgroundColor(), blue);
  EXPECT_EQ(view->titleLabel()->textColor, white);
  EXPECT_EQ(view->bodyLabel()->textColor, white);
  EXPECT_EQ(view->iconLabel()->textColor, white);
  EXPECT_EQ(view->iconImageView()->tintColor(), white);
  EXPECT_TRUE(view->iconImageView()->isHidden());
  EXPECT_FALSE(view->iconLabel()->isHidden());
  // The button shows the theme inverted.
  EXPECT_EQ(view->button()->backgroundColor(), white);
  EXPECT_EQ(view->button()->tintColor(), blue);
  EXPECT_EQ(view->button()->contentEdgeInsets, (uikit::UIEdgeInsets{7, 7, 7, 7}));
  EXPECT_EQ(view->button()->layer()->cornerRadius(), 5);

  // Without a card the view itself takes the colour.
  auto bare = MessageView::create();
  bare->setBackgroundView(nullptr);
  bare->configureTheme(blue, white);
  EXPECT_EQ(bare->backgroundColor(), blue);

  auto mode = view->iconImageView()->contentMode;
  view->configureIcon({24, 20});
  EXPECT_EQ(view->iconImageView()->contentMode, mode);
  view->configureIcon({24, 20}, uikit::UIViewContentMode::ScaleAspectFit);
  EXPECT_EQ(view->iconImageView()->contentMode, uikit::UIViewContentMode::ScaleAspectFit);
  for (auto* icon : {static_cast<uikit::UIView*>(view->iconImageView().get()),
                     static_cast<uikit::UIView*>(view->iconLabel().get())}) {
    int sized = 0;
    for (const auto& c : icon->constraints())
      if (c->priority() == 999 && (c->constant() == 24 || c->constant() == 20)) ++sized;
    EXPECT_EQ(sized, 4);  // width and height from each of the two calls
  }
}

TEST_F(MessageViewTest, NibsComeFromTheMainBundleFirst) {
  // The app's own "CardView" replaces the library's, and a first object of another class is skipped.
  write(folder() / "App" / "CardView.nib", R"({"objects": [
      {"class": "UIView", "id": "other"},
      {"class": "MessageBanners.MessageView", "id": "m", "properties": {"accessibilityIdentifier": "app card"}}]})");
  foundation::Bundle::setMainBundleName((folder() / "App").string());
  foundation::Bundle::resetMain();
  EXPECT_EQ(MessageView::viewFromNib(Layout::CardView)->accessibilityIdentifier, "app card");
  // Another layout still comes from the library.
  EXPECT_TRUE(MessageView::viewFromNib(Layout::TabView)->titleLabel());
  // An explicit bundle is used as it is.
  auto library = MessageView::viewFromNib(Layout::CardView, resourceBundle(), newNullOwner());
  EXPECT_TRUE(library->titleLabel());

  // A view class loads the nib of its own name, whatever namespace it lives in.
  auto byType = viewFromNib<MessageView>(newNullOwner());
  ASSERT_TRUE(byType);
  EXPECT_TRUE((*byType)->titleLabel());
}

TEST_F(MessageViewTest, MissingNibsAndViewsAreErrorsCarryingTheName) {
  struct Case {
    const char* name;
    const char* text;
  };
  const Case cases[] = {
      {"Absent", nullptr},
      {"OnlyOthers", R"({"objects": [{"class": "UIView"}]})"},
      {"Broken", "{"},
  };
  auto bundle = foundation::Bundle::atPath(folder().string());
  for (const auto& c : cases) {
    if (c.text) write(folder() / (std::string(c.name) + ".nib"), c.text);
    auto loaded = viewFromNib<MessageView>(c.name, foundation::Bundle::atPath(folder().string()), newNullOwner());
    ASSERT_FALSE(loaded) << c.name;
    auto error = MessageBannersError::fromBridged(loaded.error());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), MessageBannersError::Code::CannotLoadViewFromNib);
  }
  // A layout that does not load gives a view without outlets, which every configure call takes.
  auto bare = MessageView::viewFromNib(Layout::CardView, bundle, newNullOwner());
  EXPECT_FALSE(bare->titleLabel());
  bare->configureContent("T", "B", std::string("x"));
  bare->configureTheme(Theme::Error, IconStyle::Default);
}

TEST_F(MessageViewTest, ResourceBundleLookup) {
  // The library's bundle in the code's folder is found.
  EXPECT_NE(resourceBundle()->bundlePath().find("MessageBanners.bundle"), std::string::npos);

  // Without any such bundle the code's own bundle is the answer.
  setCodeBundlePath((folder() / "code").string());
  fs::create_directories(folder() / "code");
  EXPECT_EQ(resourceBundle()->bundlePath(), (folder() / "code").string());

  // The longer name wins over the short one, and the main bundle's folder comes first.
  fs::create_directories(folder() / "code" / "MessageBanners.bundle");
  EXPECT_EQ(resourceBundle()->bundlePath(), (folder() / "code" / "MessageBanners.bundle").string());
  fs::create_directories(folder() / "code" / "MessageBanners_MessageBanners.bundle");
  EXPECT_EQ(resourceBundle()->bundlePath(), (folder() / "code" / "MessageBanners_MessageBanners.bundle").string());
  fs::create_directories(folder() / "App" / "MessageBanners_MessageBanners.bundle");
  foundation::Bundle::setMainBundleName((folder() / "App").string());
  foundation::Bundle::resetMain();
  EXPECT_EQ(resourceBundle()->bundlePath(), (folder() / "App" / "MessageBanners_MessageBanners.bundle").string());
}

}  // namespace
}  // namespace MessageBanners
