#pragma once
// The toolkit's names the library uses: window levels, status-bar and blur styles, the keyboard's
// and the application's notifications with their user-info keys and rectangle boxing, and the
// window scene of the application's key window.
#include <memory>

#include "platform/uikit/Application.h"
#include "platform/uikit/VisualEffectView.h"
#include "platform/uikit/Window.h"

namespace MessageBanners {

using uikit::UIBlurEffectStyle;
using uikit::UIStatusBarStyle;
using uikit::UIWindowLevel;
using uikit::UIWindowLevelAlert;
using uikit::UIWindowLevelNormal;
using uikit::UIWindowLevelStatusBar;

using uikit::UIApplicationDidBecomeActiveNotification;
using uikit::UIApplicationWillResignActiveNotification;
using uikit::UIKeyboardAnimationCurveUserInfoKey;
using uikit::UIKeyboardAnimationDurationUserInfoKey;
using uikit::UIKeyboardFrameEndUserInfoKey;
using uikit::UIKeyboardWillChangeFrameNotification;
using uikit::UIKeyboardWillHideNotification;
using uikit::UIKeyboardWillShowNotification;

}  // namespace MessageBanners

namespace MessageBanners::detail {

/// The window scene of the application's key window (as mb_keyWindow() finds it), or null when
/// there is no key window or it is in no scene. Main thread.
std::shared_ptr<uikit::UIWindowScene> keyWindowScene();

}  // namespace MessageBanners::detail
