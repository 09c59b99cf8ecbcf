#include "TovelCommon/ReusableViews.h"

#include <gtest/gtest.h>

#include "platform/foundation/Bundle.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Log.h"

namespace {

using namespace uikit;

class TutorialController : public UIViewController, public tovel::StoryboardLoadable<TutorialController> {
 public:
  std::string className() const override { return "TutorialController"; }
};

class RenamedController : public UIViewController, public tovel::StoryboardLoadable<RenamedController> {
 public:
  std::string className() const override { return "RenamedController"; }
  static std::string storyboardIdentifier() { return "Welcome"; }
};

// Its scene exists but holds a plain controller; MissingController has no scene at all.
class WrongController : public UIViewController, public tovel::StoryboardLoadable<WrongController> {};
class MissingController : public UIViewController, public tovel::StoryboardLoadable<MissingController> {};

class GreetingView : public UIView, public tovel::ReusableView, public tovel::NibLoadable<GreetingView> {
 public:
  std::string className() const override { return "GreetingView"; }
  int prepared = 0;
  void prepareForReuse() override { prepared++; }
};

class PlainView : public UIView, public tovel::ReusableView, public tovel::ViewDataConfigurable<std::string> {
 public:
  std::string className() const override { return "PlainView"; }
  int prepared = 0;
  std::string shown;
  void prepareForReuse() override { prepared++; }
  void configure(const std::string& data) override { shown = data; }
};

class EmptyView : public UIView, public tovel::ReusableView, public tovel::NibLoadable<EmptyView> {
 public:
  void prepareForReuse() override {}
};
class WrongView : public UIView, public tovel::ReusableView, public tovel::NibLoadable<WrongView> {
 public:
  void prepareForReuse() override {}
};

class ReusableViewsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClassRegistry::registerClass("TutorialController", "UIViewController",
                                 [] { return std::make_shared<TutorialController>(); });
    ClassRegistry::registerClass("RenamedController", "UIViewController",
                                 [] { return std::make_shared<RenamedController>(); });
    ClassRegistry::registerClass("GreetingView", "UIView", [] { return std::make_shared<GreetingView>(); });
  }
  void SetUp() override {
    foundation::Bundle::setMainBundleName(TOVEL_TEST_ARCHIVES "/TestApp.app");
    foundation::Bundle::resetMain();
    previousSink = UIKitLog::setSink([this](const std::string& line) { log.push_back(line); });
  }
  void TearDown() override {
    UIKitLog::setSink(previousSink);
    foundation::Bundle::setMainBundleName("");
    foundation::Bundle::resetMain();
  }
  UIKitLog::Sink previousSink;
  std::vector<std::string> log;
};

TEST(StoryboardNameTest, OnlyTheExactRawValueNamesMain) {
  EXPECT_EQ(tovel::storyboardNameFromRawValue("Main"), tovel::StoryboardName::Main);
  for (const char* other : {"main", "", "Main ", "MAIN"})
    EXPECT_FALSE(tovel::storyboardNameFromRawValue(other)) << other;
  EXPECT_EQ(tovel::rawValue(tovel::StoryboardName::Main), "Main");
}

TEST(TypeNameTest, NamesCarryNoQualifiersButKeepTemplateArguments) {
  EXPECT_EQ(tovel::typeName<TutorialController>(), "TutorialController");
  EXPECT_EQ(tovel::typeName<tovel::ReusableTableViewCell<PlainView>>(), "ReusableTableViewCell<PlainView>");
  EXPECT_NE(tovel::typeName<tovel::ReusableTableViewCell<PlainView>>(),
            tovel::typeName<tovel::ReusableTableViewCell<GreetingView>>());
}

TEST_F(ReusableViewsTest, ControllersComeFromTheSceneNamedAfterTheirType) {
  auto tutorial = TutorialController::instantiate();
  ASSERT_TRUE(tutorial);
  EXPECT_EQ(tutorial->title, "Tutorial");
  auto renamed = RenamedController::instantiate();
  ASSERT_TRUE(renamed);
  EXPECT_EQ(renamed->title, "Welcome");
  EXPECT_TRUE(log.empty());
}

TEST_F(ReusableViewsTest, MismatchedResourcesGiveNothingAndALogLine) {
  EXPECT_FALSE(WrongController::instantiate());
  EXPECT_FALSE(MissingController::instantiate());
  EXPECT_FALSE(EmptyView::loadFromNib());
  EXPECT_FALSE(WrongView::loadFromNib());
  ASSERT_EQ(log.size(), 4u);
  EXPECT_NE(log[0].find("WrongController"), std::string::npos) << log[0];
  EXPECT_NE(log[1].find("MissingController"), std::string::npos) << log[1];
  EXPECT_NE(log[3].find("WrongView"), std::string::npos) << log[3];
}

TEST_F(ReusableViewsTest, NibViewIsTheFirstTopLevelObject) {
  auto view = GreetingView::loadFromNib();
  ASSERT_TRUE(view);
  EXPECT_EQ(view->frame().size.width, 200);
  ASSERT_EQ(view->subviews().size(), 1u);
  EXPECT_EQ(std::dynamic_pointer_cast<UILabel>(view->subviews()[0])->text(), "Hello");
}

// The wrapped view comes from the nib or from a zero frame, fills the content view, and the
// first reuse makes it before telling it.
TEST_F(ReusableViewsTest, WrappedViewsFillTheCellAndHearOfReuse) {
  auto table = std::make_shared<tovel::ReusableTableViewCell<GreetingView>>();
  table->setFrame({0, 0, 320, 60});
  auto& fromNib = table->wrappedView();
  ASSERT_EQ(fromNib->subviews().size(), 1u) << "the view came from its nib";
  table->layoutIfNeeded();
  EXPECT_EQ(fromNib->frame(), table->contentView()->bounds());
  EXPECT_EQ(fromNib->superview(), table->contentView());
  EXPECT_EQ(table->wrappedView(), fromNib) << "made once";

  auto collection = std::make_shared<tovel::ReusableCollectionViewCell<PlainView>>();
  collection->setFrame({0, 0, 80, 90});
  collection->prepareForReuse();
  auto plain = collection->wrappedView();
  EXPECT_EQ(plain->prepared, 1) << "the first reuse made the view and told it";
  EXPECT_TRUE(plain->subviews().empty());
  collection->layoutIfNeeded();
  EXPECT_EQ(plain->frame(), (CGRect{0, 0, 80, 90})) << "a zero frame stretched by its constraints";
  collection->prepareForReuse();
  EXPECT_EQ(collection->wrappedView(), plain);
  EXPECT_EQ(plain->prepared, 2);

  auto replacement = std::make_shared<PlainView>();
  collection->setWrappedView(replacement);
  EXPECT_EQ(collection->wrappedView(), replacement);
  EXPECT_EQ(plain->superview(), collection->contentView()) << "the old view stays in the content view";
}

class Rows : public UITableViewDataSource {
 public:
  long numberOfRowsInSection(UITableView&, long) override { return 30; }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& table, const NSIndexPath& path) override {
    auto cell = tovel::dequeue<tovel::ReusableTableViewCell<PlainView>>(table, path);
    cell->wrappedView()->configure("row " + std::to_string(path.row));
    return cell;
  }
};

TEST_F(ReusableViewsTest, CellsAreRegisteredDequeuedAndFoundUnderTheirTypeName) {
  using Cell = tovel::ReusableTableViewCell<PlainView>;
  auto table = std::make_shared<UITableView>();
  table->setFrame({0, 0, 320, 88});
  auto rows = std::make_shared<Rows>();
  table->dataSource = rows;
  tovel::registerCell<Cell>(*table);
  EXPECT_TRUE(table->hasCellFor("ReusableTableViewCell<PlainView>"));

  auto dequeued = tovel::dequeue<Cell>(*table, {0, 7});
  ASSERT_TRUE(dequeued);
  EXPECT_EQ(dequeued->reuseIdentifier(), "ReusableTableViewCell<PlainView>");

  table->reloadData();
  table->layoutIfNeeded();
  auto visible = tovel::cell<Cell>(*table, {0, 1});
  ASSERT_TRUE(visible);
  EXPECT_EQ(visible->wrappedView()->shown, "row 1");
  EXPECT_FALSE(tovel::cell<Cell>(*table, {0, 20})) << "off screen";
  using OtherCell = tovel::ReusableTableViewCell<GreetingView>;
  EXPECT_FALSE(tovel::cell<OtherCell>(*table, {0, 1})) << "another type";

  EXPECT_FALSE(tovel::dequeue<tovel::ReusableTableViewCell<GreetingView>>(*table, {0, 0})) << "never registered";
  EXPECT_FALSE(log.empty());

  auto collection = std::make_shared<UICollectionView>();
  tovel::registerCell<tovel::ReusableCollectionViewCell<PlainView>>(*collection);
  auto item = tovel::dequeue<tovel::ReusableCollectionViewCell<PlainView>>(*collection, {0, 3});
  ASSERT_TRUE(item);
  EXPECT_EQ(item->reuseIdentifier(), "ReusableCollectionViewCell<PlainView>");
}

}  // namespace
