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

/// An alert or action sheet, presented over the whole window (the window stays visible, dimmed).
/// Its view draws the title, the message and a button per action; a button chooses its action,
/// and so does chooseAction for tests. Escape, or a tap outside an action sheet, chooses the
/// cancel action.
class UIAlertController : public UIViewController {
 public:
  UIAlertController() { modalPresentationStyle = UIModalPresentationStyle::OverFullScreen; }
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
  /// Dismisses the alert and runs the handler of the action at `index`; false when there is none.
  bool chooseActionAtIndex(std::size_t index);
  /// The index of the first cancel action, if any.
  std::optional<std::size_t> cancelActionIndex() const;
  /// Chooses the cancel action; false (the alert stays) when there is none.
  bool accessibilityPerformEscape() override;
  void loadView() override;

 private:
  std::vector<UIAlertAction> actions_;
  std::optional<UIPopoverPresentationController> popover_;
  bool chosen_ = false;
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

/// The share sheet: items, exclusions and a completion; the user ends it by choosing an activity
/// or cancelling, tests with complete().
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
  /// Ends the sheet unfinished, as a cancel would.
  bool accessibilityPerformEscape() override { return complete(std::nullopt, false); }
  /// An action sheet of the activities not excluded (copy, message, mail) and Cancel.
  void loadView() override;

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

/// The store's product sheet: records what it was asked to load and hands each load to the
/// process's loader. The default loader holds loads until a test answers them; a program on the
/// desktop installs one that answers at once. Its view shows the controller's title (the
/// product's name) and its identifier, with a Done button; Done and Escape end the sheet (the
/// delegate hears of it).
class SKStoreProductViewController : public UIViewController {
 public:
  using Loader = std::function<void(SKStoreProductViewController& sheet)>;
  std::string className() const override { return "SKStoreProductViewController"; }
  /// Replaces the loader, which is called after each load request; an empty one holds them.
  static void setLoader(Loader loader);
  std::weak_ptr<SKStoreProductViewControllerDelegate> delegate;
  void loadProductWithParameters(foundation::Dictionary parameters,
                                 std::function<void(bool loaded, std::optional<foundation::Error> error)> completion);
  const std::vector<foundation::Dictionary>& loadRequests() const { return requests_; }
  /// Answers the oldest unanswered load; false when none waits.
  bool answerLoad(bool loaded, std::optional<foundation::Error> error = std::nullopt);
  /// The user closed the sheet: the delegate hears of it; with no delegate the sheet dismisses
  /// itself, so it can always be left.
  void finish();
  bool accessibilityPerformEscape() override;
  void loadView() override;

 private:
  /// Shows the title and the last requested product on the sheet's view.
  void showProduct();
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

/// The in-app browser sheet: records its address and shows it; Done or Escape closes it.
class SFSafariViewController : public UIViewController {
 public:
  explicit SFSafariViewController(std::string url) : url_(std::move(url)) {}
  std::string className() const override { return "SFSafariViewController"; }
  const std::string& URL() const { return url_; }
  std::optional<UIColor> preferredControlTintColor;
  std::optional<UIColor> preferredBarTintColor;
  /// Closes the sheet.
  bool accessibilityPerformEscape() override;
  /// A page with the address and a Done button.
  void loadView() override;

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
