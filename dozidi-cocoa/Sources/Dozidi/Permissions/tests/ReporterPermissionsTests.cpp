// The platform's authorization values mapped to the permission states events report, and the
// states a client writes into an event's "app" context.
#include <gtest/gtest.h>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Permissions/DozidiPermissionsObserver.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"

namespace {

using S = DozidiPermissionStatus;

TEST(ReporterPermissionsTests, AuthorizationValuesMapToStatesAndOthersKeepTheState) {
  const struct {
    std::int64_t value;
    S push, photoLibrary, location;
  } cases[] = {
      {0, S::Unknown, S::Unknown, S::Unknown},  {1, S::Denied, S::Denied, S::Denied},
      {2, S::Granted, S::Denied, S::Denied},    {3, S::Partial, S::Granted, S::Granted},
      {4, S::Partial, S::Partial, S::Partial},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    DozidiPermissionsObserver observer;
    observer.setPushPermissionFromStatus(c.value);
    observer.setPhotoLibraryPermissionFromStatus(c.value);
    observer.setLocationPermissionFromStatus(c.value);
    EXPECT_EQ(observer.pushPermissionStatus(), c.push);
    EXPECT_EQ(observer.photoLibraryPermissionStatus(), c.photoLibrary);
    EXPECT_EQ(observer.locationPermissionStatus(), c.location);
    for (std::int64_t outside : {5, 99, -1}) {
      observer.setPushPermissionFromStatus(outside);
      observer.setPhotoLibraryPermissionFromStatus(outside);
      observer.setLocationPermissionFromStatus(outside);
    }
    EXPECT_EQ(observer.pushPermissionStatus(), c.push);
    EXPECT_EQ(observer.photoLibraryPermissionStatus(), c.photoLibrary);
    EXPECT_EQ(observer.locationPermissionStatus(), c.location);
  }
}

class ReporterPermissionsClientTests : public foundation::test_support::TemporaryDeviceRoot {};

TEST_F(ReporterPermissionsClientTests, EventsCarryTheObserversStatesUnknownUntilSet) {
  auto options = DozidiOptions::create();
  options->setDsn(std::string("http://0123456789abcdef0123456789abcdef@127.0.0.1:9/42"));
  auto client = DozidiClient::initWithOptions(options);
  ASSERT_TRUE(client);
  auto scope = DozidiScope::create();
  // The client adds to the contexts the scope brings (the crash integration's, in an app).
  scope->setContextValue(foundation::Dictionary{{"app_name", "test"}}, "app");
  const auto permissions = [&] {
    auto event = client->prepareEvent(DozidiEvent::initWithLevel(DozidiEventLevel::Info), *scope, false);
    const foundation::Dictionary serialized = event->serialize();
    return foundation::Value(serialized["contexts"]["app"]["permissions"]);
  };
  EXPECT_EQ(permissions(), foundation::Value(foundation::Dictionary{
                               {"push_notifications", "unknown"}, {"location_access", "unknown"}, {"photo_library", "unknown"}}));
  client->permissionsObserver()->setPushPermissionFromStatus(2);
  client->permissionsObserver()->setLocationPermissionFromStatus(4);
  client->permissionsObserver()->setPhotoLibraryPermissionFromStatus(1);
  EXPECT_EQ(permissions(), foundation::Value(foundation::Dictionary{{"push_notifications", "granted"},
                                                                    {"location_access", "partial"},
                                                                    {"photo_library", "not_granted"}}));
}

}  // namespace
