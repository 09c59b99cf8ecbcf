#include <gtest/gtest.h>

#include "MessageBanners/MessageBannersError.h"
#include "platform/foundation/Result.h"

namespace MessageBanners {
namespace {

TEST(MessageBannersErrorTests, BridgesToDomainAndCaseCode) {
  struct Case {
    const char* name;
    MessageBannersError error;
    std::int64_t code;
  } cases[] = {
      {"cannot load view from nib", MessageBannersError::cannotLoadViewFromNib("CardView"), 0},
      {"no root view controller", MessageBannersError::noRootViewController(), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    foundation::Error bridged = c.error.bridged();
    EXPECT_EQ(bridged.domain(), "MessageBanners.MessageBannersError");
    EXPECT_EQ(bridged.code(), c.code);
    EXPECT_TRUE(bridged.userInfo().empty());
    auto back = MessageBannersError::fromBridged(bridged);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->code(), c.error.code());
  }
}

TEST(MessageBannersErrorTests, TravelsAsResultErrorAndRejectsForeignErrors) {
  foundation::Result<int> failed = MessageBannersError::noRootViewController().bridged();
  ASSERT_FALSE(failed);
  EXPECT_TRUE(failed.error().is(kMessageBannersErrorDomain, 1));
  EXPECT_EQ(MessageBannersError::fromBridged(foundation::Error(kMessageBannersErrorDomain, 2)), std::nullopt);
  EXPECT_EQ(MessageBannersError::fromBridged(foundation::Error("Other", 0)), std::nullopt);
}

}  // namespace
}  // namespace MessageBanners
