#include "platform/uikit/SystemSheets.h"

#include <algorithm>
#include <deque>
#include <mutex>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/detail/SheetViews.h"

RUNTIME_CLASS(uikit::UIAlertController, uikit::UIViewController, "UIAlertController");
RUNTIME_CLASS(uikit::UIActivityViewController, uikit::UIViewController, "UIActivityViewController");
RUNTIME_CLASS(uikit::SKStoreProductViewController, uikit::UIViewController, "SKStoreProductViewController");
RUNTIME_CLASS(uikit::SFSafariViewController, uikit::UIViewController, "SFSafariViewController");

namespace uikit {

std::shared_ptr<UIAlertController> UIAlertController::create(std::optional<std::string> title,
                                                             std::optional<std::string> message,
                                                             UIAlertControllerStyle style) {
  auto alert = std::make_shared<UIAlertController>();
  alert->alertTitle = std::move(title);
  alert->message = std::move(message);
  alert->preferredStyle = style;
  return alert;
}

std::optional<UIPopoverPresentationController>& UIAlertController::popoverPresentationController() {
  if (UIDevice::current().userInterfaceIdiom == UIUserInterfaceIdiom::Pad && !popover_) popover_.emplace();
  return popover_;
}

bool UIAlertController::chooseAction(const std::string& title) {
  auto it = std::find_if(actions_.begin(), actions_.end(), [&](const UIAlertAction& a) { return a.title == title; });
  if (it == actions_.end()) return false;
  return chooseActionAtIndex(static_cast<std::size_t>(it - actions_.begin()));
}

std::optional<std::size_t> UIAlertController::cancelActionIndex() const {
  for (std::size_t i = 0; i < actions_.size(); ++i)
    if (actions_[i].style == UIAlertActionStyle::Cancel) return i;
  return std::nullopt;
}

bool UIAlertController::accessibilityPerformEscape() {
  auto cancel = cancelActionIndex();
  return cancel && chooseActionAtIndex(*cancel);
}

void UIAlertController::loadView() {
  auto view = detail::AlertSheetView::create(alertTitle, message, actions_, preferredStyle);
  std::weak_ptr<UIAlertController> weak = std::static_pointer_cast<UIAlertController>(shared_from_this());
  view->choose = [weak](std::size_t index) {
    if (auto alert = weak.lock()) alert->chooseActionAtIndex(index);
  };
  view->dismiss = [weak] {
    if (auto alert = weak.lock()) alert->accessibilityPerformEscape();
  };
  setView(view);
}

bool UIAlertController::chooseActionAtIndex(std::size_t index) {
  // Only a presented alert that is not already leaving takes a choice: a second click during the
  // dismissal would run a second handler.
  if (index >= actions_.size() || chosen_) return false;
  chosen_ = true;
  UIAlertAction action = actions_[index];
  auto keep = shared_from_this();
  if (presentingViewController()) dismissViewControllerAnimated(true);
  if (action.handler) action.handler(action);
  return true;
}

std::optional<UIPopoverPresentationController>& UIActivityViewController::popoverPresentationController() {
  if (UIDevice::current().userInterfaceIdiom == UIUserInterfaceIdiom::Pad && !popover_) popover_.emplace();
  return popover_;
}

bool UIActivityViewController::complete(std::optional<std::string> activityType, bool completed) {
  if (activityType && std::find(excludedActivityTypes.begin(), excludedActivityTypes.end(), *activityType) !=
                          excludedActivityTypes.end())
    return false;
  if (activityType && completed)
    for (auto& item : activityItems)
      if (auto* provider = std::any_cast<std::shared_ptr<UIActivityItemProvider>>(&item)) {
        (*provider)->activityType = *activityType;
        (*provider)->item();
      }
  auto keep = shared_from_this();
  if (presentingViewController()) dismissViewControllerAnimated(true);
  if (completionWithItemsHandler) completionWithItemsHandler(activityType, completed, {}, std::nullopt);
  return true;
}

namespace {
SKStoreProductViewController::Loader& storeLoader() {
  static SKStoreProductViewController::Loader loader;
  return loader;
}
}  // namespace

void SKStoreProductViewController::setLoader(Loader loader) { storeLoader() = std::move(loader); }

void SKStoreProductViewController::loadProductWithParameters(
    foundation::Dictionary parameters, std::function<void(bool, std::optional<foundation::Error>)> completion) {
  requests_.push_back(std::move(parameters));
  pending_.push_back(std::move(completion));
  if (isViewLoaded()) showProduct();
  if (auto& loader = storeLoader()) loader(*this);
}

void SKStoreProductViewController::showProduct() {
  auto* sheet = dynamic_cast<detail::PageSheetView*>(view().get());
  if (!sheet) return;
  std::string identifier;
  if (!requests_.empty())
    if (auto id = requests_.back()[SKStoreProductParameterITunesItemIdentifier].asString()) identifier = *id;
  sheet->show(title.empty() ? "App" : title, identifier.empty() ? "" : "Product " + identifier);
}

void SKStoreProductViewController::loadView() {
  auto view = detail::PageSheetView::create();
  std::weak_ptr<SKStoreProductViewController> weak =
      std::static_pointer_cast<SKStoreProductViewController>(shared_from_this());
  view->done = [weak] {
    if (auto sheet = weak.lock()) sheet->finish();
  };
  setView(view);
  showProduct();
}

bool SKStoreProductViewController::accessibilityPerformEscape() {
  finish();
  return true;
}

void SFSafariViewController::loadView() {
  auto view = detail::PageSheetView::create();
  view->show(url_, "Opens in the web browser");
  std::weak_ptr<UIViewController> weak = shared_from_this();
  view->done = [weak] {
    if (auto sheet = weak.lock()) sheet->accessibilityPerformEscape();
  };
  setView(view);
}

namespace {
/// What the desktop's share sheet offers, before exclusions.
constexpr const char* kShareActivities[][2] = {{UIActivityTypeCopyToPasteboard, "Copy"},
                                               {UIActivityTypeMessage, "Message"},
                                               {UIActivityTypeMail, "Mail"}};
}  // namespace

void UIActivityViewController::loadView() {
  std::vector<UIAlertAction> actions;
  std::vector<std::optional<std::string>> types;
  for (const auto& [type, title] : kShareActivities) {
    if (std::find(excludedActivityTypes.begin(), excludedActivityTypes.end(), type) != excludedActivityTypes.end())
      continue;
    actions.push_back({title, UIAlertActionStyle::Default, {}});
    types.emplace_back(type);
  }
  actions.push_back({"Cancel", UIAlertActionStyle::Cancel, {}});
  types.emplace_back();
  auto view = detail::AlertSheetView::create(std::nullopt, std::nullopt, actions, UIAlertControllerStyle::ActionSheet);
  std::weak_ptr<UIActivityViewController> weak = std::static_pointer_cast<UIActivityViewController>(shared_from_this());
  view->choose = [weak, types](std::size_t index) {
    auto sheet = weak.lock();
    if (sheet && index < types.size()) sheet->complete(types[index], types[index].has_value());
  };
  view->dismiss = [weak] {
    if (auto sheet = weak.lock()) sheet->accessibilityPerformEscape();
  };
  setView(view);
}

bool SFSafariViewController::accessibilityPerformEscape() {
  if (!presentingViewController()) return false;
  dismissViewControllerAnimated(true);
  return true;
}

bool SKStoreProductViewController::answerLoad(bool loaded, std::optional<foundation::Error> error) {
  if (pending_.empty()) return false;
  auto completion = std::move(pending_.front());
  pending_.erase(pending_.begin());
  if (completion) completion(loaded, std::move(error));
  return true;
}

void SKStoreProductViewController::finish() {
  if (auto d = delegate.lock()) d->productViewControllerDidFinish(*this);
  else if (presentingViewController()) dismissViewControllerAnimated(true);
}

namespace {
int reviewRequests = 0;

struct RecordingQuery {
  std::mutex mutex;
  std::vector<std::string> asked;
  std::deque<ContentBlockerState::Completion> waiting;
  ContentBlockerState::Query replacement;
};

RecordingQuery& recording() {
  static RecordingQuery query;
  return query;
}
}  // namespace

void SKStoreReviewController::requestReview() { reviewRequests++; }
int SKStoreReviewController::requestCount() { return reviewRequests; }
void SKStoreReviewController::resetCount() { reviewRequests = 0; }

void ContentBlockerState::getStateOfContentBlocker(const std::string& identifier, Completion completion) {
  auto& r = recording();
  Query replacement;
  {
    std::lock_guard lock(r.mutex);
    replacement = r.replacement;
    if (!replacement) {
      r.asked.push_back(identifier);
      r.waiting.push_back(std::move(completion));
      return;
    }
  }
  replacement(identifier, std::move(completion));
}

void ContentBlockerState::setQuery(Query query) {
  std::lock_guard lock(recording().mutex);
  recording().replacement = std::move(query);
}

std::vector<std::string> ContentBlockerState::requests() {
  std::lock_guard lock(recording().mutex);
  return recording().asked;
}

bool ContentBlockerState::answer(std::optional<bool> enabled, std::optional<foundation::Error> error) {
  Completion completion;
  {
    std::lock_guard lock(recording().mutex);
    if (recording().waiting.empty()) return false;
    completion = std::move(recording().waiting.front());
    recording().waiting.pop_front();
  }
  if (completion)
    dispatch::DispatchQueue::global()->async(
        [completion = std::move(completion), enabled, error = std::move(error)] { completion(enabled, error); });
  return true;
}

void ContentBlockerState::reset() {
  std::lock_guard lock(recording().mutex);
  recording().asked.clear();
  recording().waiting.clear();
  recording().replacement = nullptr;
}

}  // namespace uikit
