#pragma once
#include <any>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/uikit/ViewController.h"

namespace uikit {

/// Where a popover points; present only on the pad idiom.
struct UIPopoverPresentationController {
  std::weak_ptr<UIBarButtonItem> barButtonItem;
  std::weak_ptr<UIView> sourceView;
  CGRect sourceRect;
};

enum class UIAlertActionStyle : int { Default = 0, Cancel = 1, Destructive = 2 };
enum class UIAlertControllerStyle : int { ActionSheet = 0, Alert = 1 };

struct UIAlertAction {
  std::string title;
  UIAlertActionStyle style = UIAlertActionStyle::Default;
  std::function<void(const UIAlertAction&)> handler;
};

/// An alert or action sheet, presented like any controller. No system dialog exists here: tests
/// (and the desktop window) read its actions and choose one with chooseAction.
class UIAlertController : public UIViewController {
 public:
  static std::shared_ptr<UIAlertController> create(std::optional<std::string> title, std::optional<std::string> message,
                                                   UIAlertControllerStyle style);
  std::string className() const override { return "UIAlertController"; }
  std::optional<std::string> alertTitle;
  std::optional<std::string> message;
  UIAlertControllerStyle preferredStyle = UIAlertControllerStyle::Alert;
  void addAction(UIAlertAction action) { actions_.push_back(std::move(action)); }
  const std::vector<UIAlertAction>& actions() const { return actions_; }
  /// Present on the pad idiom only.
  std::optional<UIPopoverPresentationController>& popoverPresentationController();
  /// Dismisses the alert and runs the handler of the action titled `title`; false when there is
  /// none.
  bool chooseAction(const std::string& title);

 private:
  std::vector<UIAlertAction> actions_;
  std::optional<UIPopoverPresentationController> popover_;
};

// Activity types the share sheet knows.
inline constexpr const char* UIActivityTypePostToFacebook = "com.apple.UIKit.activity.PostToFacebook";
inline constexpr const char* UIActivityTypePostToTwitter = "com.apple.UIKit.activity.PostToTwitter";
inline constexpr const char* UIActivityTypeMessage = "com.apple.UIKit.activity.Message";
inline constexpr const char* UIActivityTypeMail = "com.apple.UIKit.activity.Mail";
inline constexpr const char* UIActivityTypePrint = "com.apple.UIKit.activity.Print";
inline constexpr const char* UIActivityTypeCopyToPasteboard = "com.apple.UIKit.activity.CopyToPasteboard";
inline constexpr const char* UIActivityTypeAssignToContact = "com.apple.UIKit.activity.AssignToContact";
inline constexpr const char* UIActivityTypeSaveToCameraRoll = "com.apple.UIKit.activity.SaveToCameraRoll";
inline constexpr const char* UIActivityTypeAddToReadingList = "com.apple.UIKit.activity.AddToReadingList";
inline constexpr const char* UIActivityTypeAirDrop = "com.apple.UIKit.activity.AirDrop";

/// Gives a share sheet its item late: a placeholder first, the real item when asked.
class UIActivityItemProvider {
 public:
  explicit UIActivityItemProvider(std::any placeholderItem) : placeholder_(std::move(placeholderItem)) {}
  virtual ~UIActivityItemProvider() = default;
  const std::any& placeholderItem() const { return placeholder_; }
  /// The item for the chosen activity; the placeholder by default.
  virtual std::any item() { return placeholder_; }
  std::string activityType;

 private:
  std::any placeholder_;
};

/// The share sheet: items, exclusions and a completion that tests call with complete().
class UIActivityViewController : public UIViewController {
 public:
  UIActivityViewController(std::vector<std::any> items, std::vector<std::any> applicationActivities = {})
      : activityItems(std::move(items)), applicationActivities(std::move(applicationActivities)) {}
  std::string className() const override { return "UIActivityViewController"; }
  std::vector<std::any> activityItems;
  std::vector<std::any> applicationActivities;
  std::vector<std::string> excludedActivityTypes;
  std::function<void(std::optional<std::string> activityType, bool completed, std::vector<std::any> returnedItems,
                     std::optional<foundation::Error> error)>
      completionWithItemsHandler;
  std::optional<UIPopoverPresentationController>& popoverPresentationController();
  /// Ends the sheet as the user would: the item providers are asked for their items, the sheet is
  /// dismissed and the completion gets (type, completed). An excluded type is refused (false).
  bool complete(std::optional<std::string> activityType, bool completed);

 private:
  std::optional<UIPopoverPresentationController> popover_;
};

class SKStoreProductViewController;
class SKStoreProductViewControllerDelegate {
 public:
  virtual ~SKStoreProductViewControllerDelegate() = default;
  virtual void productViewControllerDidFinish(SKStoreProductViewController& controller) = 0;
};

inline constexpr const char* SKStoreProductParameterITunesItemIdentifier = "id";
inline constexpr const char* SKStoreProductParameterAffiliateToken = "at";
inline constexpr const char* SKStoreProductParameterCampaignToken = "ct";

/// The store's product sheet: records what it was asked to load; tests answer the load and end
/// the sheet (the delegate hears of it).
class SKStoreProductViewController : public UIViewController {
 public:
  std::string className() const override { return "SKStoreProductViewController"; }
  std::weak_ptr<SKStoreProductViewControllerDelegate> delegate;
  void loadProductWithParameters(foundation::Dictionary parameters,
                                 std::function<void(bool loaded, std::optional<foundation::Error> error)> completion);
  const std::vector<foundation::Dictionary>& loadRequests() const { return requests_; }
  /// Answers the oldest unanswered load; false when none waits.
  bool answerLoad(bool loaded, std::optional<foundation::Error> error = std::nullopt);
  /// The user closed the sheet.
  void finish();

 private:
  std::vector<foundation::Dictionary> requests_;
  std::vector<std::function<void(bool, std::optional<foundation::Error>)>> pending_;
};

/// The review prompt: the system decides whether to show it, so a request is only counted.
class SKStoreReviewController {
 public:
  static void requestReview();
  static int requestCount();
  static void resetCount();
};

/// The in-app browser sheet: records its address. The desktop has no sheet of its own.
class SFSafariViewController : public UIViewController {
 public:
  explicit SFSafariViewController(std::string url) : url_(std::move(url)) {}
  std::string className() const override { return "SFSafariViewController"; }
  const std::string& URL() const { return url_; }
  std::optional<UIColor> preferredControlTintColor;
  std::optional<UIColor> preferredBarTintColor;

 private:
  std::string url_;
};

/// Asks the browser whether the user enabled a content-blocker extension. The query is injected:
/// the app installs one backed by the browser stand-in; by default (and in tests) a recording
/// query holds each request until answer() is called, and answers on a background queue.
class ContentBlockerState {
 public:
  using Completion = std::function<void(std::optional<bool> enabled, std::optional<foundation::Error> error)>;
  using Query = std::function<void(const std::string& identifier, Completion completion)>;
  static void getStateOfContentBlocker(const std::string& identifier, Completion completion);
  /// Replaces the query; an empty one goes back to the recording one.
  static void setQuery(Query query);
  /// The identifiers asked about so far by the recording query.
  static std::vector<std::string> requests();
  /// Answers the oldest waiting request of the recording query on a background queue; false when
  /// none waits.
  static bool answer(std::optional<bool> enabled, std::optional<foundation::Error> error = std::nullopt);
  static void reset();
};

}  // namespace uikit
