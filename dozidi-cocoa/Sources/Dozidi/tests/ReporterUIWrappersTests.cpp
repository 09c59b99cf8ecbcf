// The application and device wrappers over the toolkit: which windows the application gives, and
// which device switches the device wrapper turns on and back off.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiUIApplication.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiUIDeviceWrapper.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/Bundle.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Window.h"
#include "testing/TemporaryFolder.h"

namespace {

using uikit::UISceneActivationState;

class ReporterUIWrappersTests : public testing::Test {
 protected:
  void TearDown() override {
    uikit::UIApplication::shared().reset();
    foundation::Bundle::setMainBundleName("");
    foundation::Bundle::resetMain();
  }

  static std::shared_ptr<uikit::UIWindow> shownWindow(std::shared_ptr<uikit::UIWindowScene> scene = nullptr) {
    auto window = uikit::UIWindow::create({0, 0, 100, 50});
    if (scene) window->setWindowScene(scene);
    window->setVisible(true);
    return window;
  }
};

TEST_F(ReporterUIWrappersTests, WindowsComeFromForegroundActiveScenesThenFromTheApplication) {
  auto& application = uikit::UIApplication::shared();
  auto active = uikit::UIWindowScene::create(UISceneActivationState::ForegroundActive);
  auto background = uikit::UIWindowScene::create(UISceneActivationState::Background);
  auto inactive = uikit::UIWindowScene::create(UISceneActivationState::ForegroundInactive);
  application.connectScene(background);
  application.connectScene(active);
  application.connectScene(inactive);

  auto own = shownWindow();
  auto inBackground = shownWindow(background);
  auto inActive = shownWindow(active);
  auto inInactive = shownWindow(inactive);
  auto hidden = uikit::UIWindow::create({0, 0, 10, 10});
  hidden->setWindowScene(active);
  auto secondOwn = shownWindow();

  const auto windows = DozidiUIApplication::create()->windows();
  EXPECT_EQ(windows, (std::vector<std::shared_ptr<uikit::UIWindow>>{inActive, own, secondOwn}));
}

TEST_F(ReporterUIWrappersTests, AnAppExtensionHasNoApplicationAndNoWindows) {
  testing_support::TemporaryFolder folder("ui-wrappers");
  const std::string extension = folder.file("Quellbox.appex");
  std::filesystem::create_directories(extension);
  auto shown = shownWindow();
  auto wrapper = DozidiUIApplication::create();
  ASSERT_NE(wrapper->sharedApplication(), nullptr);

  foundation::Bundle::setMainBundleName(extension);
  foundation::Bundle::resetMain();
  EXPECT_EQ(wrapper->sharedApplication(), nullptr);
  EXPECT_TRUE(wrapper->windows().empty());
  EXPECT_TRUE(wrapper->getApplicationConnectedScenes(wrapper->sharedApplication()).empty());
}

TEST_F(ReporterUIWrappersTests, StopTurnsOffOnlyWhatTheWrapperTurnedOn) {
  auto& device = uikit::UIDevice::current();
  device.setBatteryMonitoringEnabled(true);  // someone else's
  device.setBattery(uikit::UIDeviceBatteryState::Charging, 0.5f);
  device.setOrientation(uikit::UIDeviceOrientation::LandscapeLeft);
  ASSERT_FALSE(device.isGeneratingDeviceOrientationNotifications());

  auto wrapper = DozidiUIDeviceWrapper::initWithDispatchQueueWrapper(DozidiDispatchQueueWrapper::create());
  EXPECT_TRUE(wrapper->cleanupDeviceOrientationNotifications());
  EXPECT_FALSE(wrapper->cleanupBatteryMonitoring());
  EXPECT_EQ(wrapper->orientation(), uikit::UIDeviceOrientation::LandscapeLeft);
  EXPECT_EQ(wrapper->batteryState(), uikit::UIDeviceBatteryState::Charging);
  EXPECT_FLOAT_EQ(wrapper->batteryLevel(), 0.5f);

  // Another holder of orientation notifications keeps them through this wrapper's stop, even when
  // stop runs twice (once more from the destructor).
  device.beginGeneratingDeviceOrientationNotifications();
  wrapper->stop();
  wrapper.reset();
  EXPECT_TRUE(device.isGeneratingDeviceOrientationNotifications());
  EXPECT_TRUE(device.isBatteryMonitoringEnabled()) << "battery monitoring that was on before stays on";
  device.endGeneratingDeviceOrientationNotifications();

  device.setBatteryMonitoringEnabled(false);
  auto fresh = DozidiUIDeviceWrapper::initWithDispatchQueueWrapper(DozidiDispatchQueueWrapper::create());
  EXPECT_TRUE(fresh->cleanupBatteryMonitoring());
  EXPECT_TRUE(fresh->cleanupDeviceOrientationNotifications());
  EXPECT_TRUE(fresh->isBatteryMonitoringEnabled());
  fresh->stop();
  EXPECT_FALSE(device.isBatteryMonitoringEnabled());
  EXPECT_FALSE(device.isGeneratingDeviceOrientationNotifications());
  EXPECT_EQ(device.orientation(), uikit::UIDeviceOrientation::Unknown);
}

TEST_F(ReporterUIWrappersTests, MadeOffTheMainThreadItWaitsForTheMainQueueToSwitch) {
  auto& device = uikit::UIDevice::current();
  device.setBatteryMonitoringEnabled(false);
  std::shared_ptr<DozidiUIDeviceWrapper> wrapper;
  std::thread maker([&] { wrapper = DozidiUIDeviceWrapper::initWithDispatchQueueWrapper(DozidiDispatchQueueWrapper::create()); });
  ASSERT_TRUE(dispatch::runMainLoopUntil([&] { return device.isBatteryMonitoringEnabled(); }, 10.0));
  maker.join();
  EXPECT_TRUE(wrapper->cleanupBatteryMonitoring());
  wrapper->stop();  // on the main thread: inline
  EXPECT_FALSE(device.isBatteryMonitoringEnabled());
}

}  // namespace
