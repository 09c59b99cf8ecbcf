#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "MessageBanners/Animator.h"
#include "MessageBanners/Config.h"
#include "MessageBanners/Presenter.h"

namespace dispatch { class DispatchQueue; }
namespace uikit { class UIView; }

namespace MessageBanners {

/// Shows message views one at a time: queues them, shows the next when nothing else shows,
/// hides each when its duration runs out, and pauses between messages. Drops duplicates by
/// message identifier and counts how often each was handed in, delays messages of indefinite
/// duration and keeps them up for their minimum time. Any thread may call it: the queue's state
/// lives on a serial queue of its own, views are touched on the main queue only, and that queue
/// never waits for the main queue.
class MessageBanners final : public PresenterDelegate, public std::enable_shared_from_this<MessageBanners> {
 public:
  using ViewProvider = std::function<std::shared_ptr<uikit::UIView>()>;

  /// An independent manager with an empty queue.
  static std::shared_ptr<MessageBanners> create();
  /// The process-wide manager, made on first use; never released.
  static const std::shared_ptr<MessageBanners>& sharedInstance();
  ~MessageBanners() override;

  void show(const Config& config, const std::shared_ptr<uikit::UIView>& view);
  void show(const std::shared_ptr<uikit::UIView>& view);
  /// Makes the view on the main queue, unless the manager is gone by then.
  void show(const Config& config, ViewProvider viewProvider);
  void show(ViewProvider viewProvider);
  /// Queues a presenter made elsewhere (with this manager as its delegate).
  void show(const std::shared_ptr<Presenter>& presenter);
  void hide(bool animated);
  /// Empties the queue, the delayed messages and the counts, and hides the current message.
  void hideAll();
  /// Hides and drops every message with this identifier, and forgets its count.
  void hide(const std::string& id);
  /// Lowers the count of the identifier when it is 2 or more; otherwise hides as hide(id).
  void hideCounted(const std::string& id);
  /// How many times a message with this identifier was handed in while duplicates were ignored.
  int count(const std::string& id);
  /// Replaces an existing count; does nothing for an identifier without one.
  void setCount(int count, const std::string& id);

  /// The current message view as `T`, or null.
  template <class T = uikit::UIView>
  std::shared_ptr<T> current() {
    return std::dynamic_pointer_cast<T>(currentView({}));
  }
  /// The current message view when it has this identifier and is a `T`.
  template <class T = uikit::UIView>
  std::shared_ptr<T> current(const std::string& id) {
    return std::dynamic_pointer_cast<T>(currentView(id));
  }
  /// The first queued message with this identifier as `T` (later ones are not tried).
  template <class T = uikit::UIView>
  std::shared_ptr<T> queued(const std::string& id) {
    return std::dynamic_pointer_cast<T>(queuedView(id));
  }
  template <class T = uikit::UIView>
  std::shared_ptr<T> currentOrQueued(const std::string& id) {
    if (auto view = current<T>(id)) return view;
    return queued<T>(id);
  }

  Config defaultConfig() const;
  void setDefaultConfig(Config config);
  /// Seconds between one message leaving and the next being shown.
  double pauseBetweenMessages() const;
  void setPauseBetweenMessages(double seconds);

  // Presenters and animators report here.
  void hide(Presenter& presenter) override;
  void hide(Animator& animator) override;
  void panStarted(Animator& animator) override;
  void panEnded(Animator& animator) override;

 private:
  MessageBanners();
  std::shared_ptr<uikit::UIView> currentView(const std::optional<std::string>& id);
  std::shared_ptr<uikit::UIView> queuedView(const std::string& id);

  // The rest runs on messageQueue_.
  void enqueue(const std::shared_ptr<Presenter>& presenter);
  void dequeueNext();
  void internalHide(const std::shared_ptr<Presenter>& presenter);
  void hideCurrent(bool animated);
  void queueAutoHide();
  void dropQueuedAndDelayed(const std::string& id);
  /// Replaces the current presenter; when there was one, the next dequeue follows after the pause.
  void setCurrent(std::shared_ptr<Presenter> presenter);
  /// Drops the current presenter without hiding it (it failed to show or lost its container).
  void dropCurrent();

  std::shared_ptr<dispatch::DispatchQueue> messageQueue_;
  std::deque<std::shared_ptr<Presenter>> queue_;
  std::set<std::shared_ptr<Presenter>> delays_;
  std::map<std::string, int> counts_;
  std::shared_ptr<Presenter> current_;
  /// The hide of the current presenter is already on its way.
  bool hideScheduled_ = false;
  /// The presenter allowed to hide by itself, and the arming it belongs to: every arming gets a
  /// new generation, so a timer armed before a drag never fires after it.
  std::weak_ptr<Presenter> autohideToken_;
  std::uint64_t autohideGeneration_ = 0;

  mutable std::mutex settingsMutex_;
  Config defaultConfig_;
  double pauseBetweenMessages_ = 0.5;
};

}  // namespace MessageBanners
