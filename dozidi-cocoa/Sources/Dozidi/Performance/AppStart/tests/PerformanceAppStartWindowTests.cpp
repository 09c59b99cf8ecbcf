// The app's start ends at the first desktop window on the screen: one cold start measured from
// the kernel's process start, none for a later window; the window's focus and minimising drive
// the application's lifecycle notifications. Needs a display (xvfb-run).
#include <gtest/gtest.h>

#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/AppStart/DozidiAppStartTracker.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/DesktopHost.h"
#include "platform/uikit/DesktopWindow.h"
#include "testing/ProgramRun.h"

namespace {

double realtimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

std::unique_ptr<uikit::DesktopWindow> openWindow(const char* title) {
  auto opened = uikit::DesktopWindow::open(std::make_shared<uikit::ApplicationDesktopHost>(), {title, {200, 120}});
  if (!opened.ok()) return nullptr;
  return std::move(*opened);
}

void emitFocus(GtkWidget* window, bool in) {
  GdkEvent* event = gdk_event_new(GDK_FOCUS_CHANGE);
  event->focus_change.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
  event->focus_change.in = in;
  gboolean handled = FALSE;
  g_signal_emit_by_name(window, in ? "focus-in-event" : "focus-out-event", event, &handled);
  gdk_event_free(event);
}

void emitMinimised(GtkWidget* window, bool minimised) {
  GdkEvent* event = gdk_event_new(GDK_WINDOW_STATE);
  event->window_state.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
  event->window_state.changed_mask = GDK_WINDOW_STATE_ICONIFIED;
  event->window_state.new_window_state = minimised ? GDK_WINDOW_STATE_ICONIFIED : GdkWindowState(0);
  gboolean handled = FALSE;
  g_signal_emit_by_name(window, "window-state-event", event, &handled);
  gdk_event_free(event);
}

class PerformanceAppStartWindowTests : public foundation::test_support::TemporaryDeviceRoot {};

TEST_F(PerformanceAppStartWindowTests, TheFirstWindowOnScreenEndsTheColdStartOnce) {
  if (!gtk_init_check(nullptr, nullptr)) {
    if (std::getenv("FENDREL_REQUIRE_DISPLAY")) FAIL() << "no display";
    GTEST_SKIP() << "no display";
  }
  DozidiAppStartTrackingIntegration::registerWithSDK();
  DozidiSDK::startWithConfigureOptions([](DozidiOptions& options) {
    options.setDsn(std::string("http://0123456789abcdef0123456789abcdef@127.0.0.1:9/42"));
    options.setTracesSampleRate(1.0);
    options.setIntegrations({"DozidiAppStartTrackingIntegration"});
  });
  int measurements = 0;
  DozidiSDK::setOnAppStartMeasurementAvailable([&](auto) { ++measurements; });
  int shown = 0;
  double shownAt = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      uikit::UIWindowDidBecomeVisibleNotification, nullptr, [&](const foundation::Notification&) {
        if (++shown == 1) shownAt = realtimeNow();
      });

  auto first = openWindow("First");
  ASSERT_TRUE(first);
  ASSERT_TRUE(first->runUntil([&] { return shown >= 1; }, 10.0));
  auto measured = DozidiSDK::getAppStartMeasurement();
  ASSERT_TRUE(measured);
  const double start = testing_support::processStartTime(::getpid());
  EXPECT_EQ(measured->type, DozidiAppStartType::Cold);
  EXPECT_NEAR(measured->appStartTimestamp.timeIntervalSince1970(), start, 0.05);
  EXPECT_NEAR(measured->duration, shownAt - start, 0.05);

  auto second = openWindow("Second");
  ASSERT_TRUE(second);
  ASSERT_TRUE(second->runUntil([&] { return shown >= 2; }, 10.0));
  EXPECT_EQ(measurements, 1);
  EXPECT_EQ(DozidiSDK::getAppStartMeasurement(), measured);

  // Focus and minimising: the application's lifecycle notifications, in the platform's order.
  std::vector<std::string> posted;
  auto lifecycle = foundation::NotificationCenter::defaultCenter().addObserver(
      "", nullptr, [&](const foundation::Notification& n) {
        if (n.name.rfind("UIApplication", 0) == 0) posted.push_back(n.name);
      });
  auto* native = static_cast<GtkWidget*>(first->nativeWindow());
  emitFocus(native, false);
  emitMinimised(native, true);
  emitFocus(native, true);  // a minimised window that gets focus stays in the background
  emitMinimised(native, false);
  emitFocus(native, true);
  foundation::NotificationCenter::defaultCenter().removeObserver(lifecycle);
  foundation::NotificationCenter::defaultCenter().removeObserver(token);
  const std::vector<std::string> expected = {
      uikit::UIApplicationWillResignActiveNotification, uikit::UIApplicationDidEnterBackgroundNotification,
      uikit::UIApplicationWillEnterForegroundNotification, uikit::UIApplicationDidBecomeActiveNotification};
  EXPECT_EQ(posted, expected);
  DozidiSDK::setOnAppStartMeasurementAvailable(nullptr);
  DozidiSDK::close();
}

}  // namespace
