#include "extension/ActionRequestHandler.h"

#include <gtest/gtest.h>

#include "extension/tests/DeviceFixture.h"
#include "platform/browser/ExtensionContext.h"

namespace quellbox::test_support {
namespace {

class ActionRequestHandlerTests : public DeviceFixture {
 protected:
  /// Runs one request with the extension's bundle as the main bundle.
  std::unique_ptr<browser::ExtensionContext> request() {
    foundation::Bundle::setMainBundleName(bundle_);
    auto context = std::make_unique<browser::ExtensionContext>();
    ActionRequestHandler().beginRequest(*context);
    EXPECT_TRUE(context->isAnswered());
    return context;
  }

  /// The path of the one attachment of the one item, or "" when the answer has another shape.
  static std::string onlyAttachment(const std::unique_ptr<browser::ExtensionContext>& context) {
    auto items = context->returnedItems();
    if (!items || items->size() != 1 || (*items)[0].attachments.size() != 1 || !(*items)[0].attachments[0]) return "";
    return (*items)[0].attachments[0]->path();
  }
};

TEST_F(ActionRequestHandlerTests, AnswersWithTheSharedRuleFileWhenThereIsOne) {
  installExtensionBundle(Entitled::Yes, WithFallback::Yes);
  struct Case {
    const char* name;
    std::string contents;
  };
  // The file is handed over unread: an empty or damaged one is sent as it is.
  const Case cases[] = {{"rules", R"([{"trigger":{"url-filter":"x"},"action":{"type":"block"}}])"},
                        {"empty file", ""},
                        {"not JSON", "{{{"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeText(containerFile("output.json"), c.contents);
    auto context = request();
    EXPECT_EQ(onlyAttachment(context), containerFile("output.json"));
    EXPECT_EQ((*context->returnedItems())[0].attachments[0]->size(), c.contents.size());
  }
}

TEST_F(ActionRequestHandlerTests, FallsBackToTheBuiltInFileWithoutSharedFileOrContainer) {
  struct Case {
    const char* name;
    Entitled entitled;
    bool writeOutput;
  };
  const Case cases[] = {{"container without output.json", Entitled::Yes, false},
                        {"no app-group entitlement", Entitled::No, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    installExtensionBundle(c.entitled, WithFallback::Yes);
    std::filesystem::remove(containerFile("output.json"));
    if (c.writeOutput) writeText(containerFile("output.json"), "[]");
    auto context = request();
    EXPECT_EQ(onlyAttachment(context), bundle_ + "/fallback.json");
  }
}

TEST_F(ActionRequestHandlerTests, UnreadableSharedFileFallsBack) {
  installExtensionBundle(Entitled::Yes, WithFallback::Yes);
  std::filesystem::create_directories(containerFile("output.json"));  // a folder in its place
  EXPECT_EQ(onlyAttachment(request()), bundle_ + "/fallback.json");
}

TEST_F(ActionRequestHandlerTests, WithoutAnyRuleFileCancelsAndWritesNothing) {
  installExtensionBundle(Entitled::Yes, WithFallback::No);
  std::filesystem::create_directories(root_ + "/containers/" + kGroup);
  auto before = snapshot(root_);
  auto context = request();
  EXPECT_FALSE(context->returnedItems());
  auto error = context->cancellationError();
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->is(kQuellboxErrorDomain, kQuellboxNoRuleFileCode));
  EXPECT_NE(error->localizedDescription().find("fallback.json"), std::string::npos);
  EXPECT_EQ(snapshot(root_), before);
}

}  // namespace
}  // namespace quellbox::test_support
