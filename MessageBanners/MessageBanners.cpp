#include "MessageBanners/MessageBanners.h"

#include <algorithm>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/Animation.h"
#include "platform/uikit/View.h"

namespace MessageBanners {

using dispatch::DispatchQueue;

std::shared_ptr<MessageBanners> MessageBanners::create() { return std::shared_ptr<MessageBanners>(new MessageBanners()); }

const std::shared_ptr<MessageBanners>& MessageBanners::sharedInstance() {
  // Made once, thread-safely, and never released.
  static const auto* instance = new std::shared_ptr<MessageBanners>(create());
  return *instance;
}

MessageBanners::MessageBanners() : messageQueue_(DispatchQueue::create("it.corvander.MessageBanners")) {}

MessageBanners::~MessageBanners() {
  // A released manager takes its message off the screen. Nothing else holds it any more, so its
  // state is read here directly.
  hideCurrent(true);
}

// MARK: - Settings

Config MessageBanners::defaultConfig() const {
  std::lock_guard lock(settingsMutex_);
  return defaultConfig_;
}

void MessageBanners::setDefaultConfig(Config config) {
  std::lock_guard lock(settingsMutex_);
  defaultConfig_ = std::move(config);
}

double MessageBanners::pauseBetweenMessages() const {
  std::lock_guard lock(settingsMutex_);
  return pauseBetweenMessages_;
}

void MessageBanners::setPauseBetweenMessages(double seconds) {
  std::lock_guard lock(settingsMutex_);
  pauseBetweenMessages_ = seconds;
}

// MARK: - Public operations

void MessageBanners::show(const Config& config, const std::shared_ptr<uikit::UIView>& view) {
  // A provider that made nothing has nothing to show.
  if (!view) return;
  auto presenter = Presenter::create(config, view, shared_from_this());
  messageQueue_->sync([&] { enqueue(presenter); });
}

void MessageBanners::show(const std::shared_ptr<uikit::UIView>& view) { show(defaultConfig(), view); }

void MessageBanners::show(const Config& config, ViewProvider viewProvider) {
  std::weak_ptr<MessageBanners> weakSelf = weak_from_this();
  DispatchQueue::main()->async([weakSelf, config, viewProvider = std::move(viewProvider)] {
    auto self = weakSelf.lock();
    if (!self) return;
    self->show(config, viewProvider());
  });
}

void MessageBanners::show(const std::shared_ptr<Presenter>& presenter) {
  messageQueue_->sync([&] { enqueue(presenter); });
}

void MessageBanners::show(ViewProvider viewProvider) { show(defaultConfig(), std::move(viewProvider)); }

void MessageBanners::hide(bool animated) {
  messageQueue_->sync([&] { hideCurrent(animated); });
}

void MessageBanners::hideAll() {
  messageQueue_->sync([&] {
    queue_.clear();
    delays_.clear();
    counts_.clear();
    hideCurrent(true);
  });
}

void MessageBanners::dropQueuedAndDelayed(const std::string& id) {
  std::erase_if(queue_, [&](const auto& p) { return p->id() == id; });
  std::erase_if(delays_, [&](const auto& p) { return p->id() == id; });
}

void MessageBanners::hide(const std::string& id) {
  messageQueue_->sync([&] {
    if (current_ && current_->id() == id) hideCurrent(true);
    dropQueuedAndDelayed(id);
    counts_.erase(id);
  });
}

void MessageBanners::hideCounted(const std::string& id) {
  messageQueue_->sync([&] {
    if (auto it = counts_.find(id); it != counts_.end()) {
      if (it->second >= 2) {
        --it->second;
        return;
      }
      counts_.erase(it);
    }
    if (current_ && current_->id() == id) hideCurrent(true);
    dropQueuedAndDelayed(id);
  });
}

int MessageBanners::count(const std::string& id) {
  int result = 0;
  messageQueue_->sync([&] {
    if (auto it = counts_.find(id); it != counts_.end()) result = it->second;
  });
  return result;
}

void MessageBanners::setCount(int count, const std::string& id) {
  messageQueue_->sync([&] {
    if (auto it = counts_.find(id); it != counts_.end()) it->second = count;
  });
}

std::shared_ptr<uikit::UIView> MessageBanners::currentView(const std::optional<std::string>& id) {
  std::shared_ptr<uikit::UIView> view;
  messageQueue_->sync([&] {
    if (current_ && (!id || current_->id() == *id)) view = current_->view();
  });
  return view;
}

std::shared_ptr<uikit::UIView> MessageBanners::queuedView(const std::string& id) {
  std::shared_ptr<uikit::UIView> view;
  messageQueue_->sync([&] {
    auto it = std::find_if(queue_.begin(), queue_.end(), [&](const auto& p) { return p->id() == id; });
    if (it != queue_.end()) view = (*it)->view();
  });
  return view;
}

// MARK: - Reports from presenters and animators

void MessageBanners::hide(Presenter& presenter) {
  auto strong = presenter.shared_from_this();
  messageQueue_->sync([&] { internalHide(strong); });
}

void MessageBanners::hide(Animator& animator) {
  messageQueue_->sync([&] {
    std::shared_ptr<Presenter> found;
    if (current_ && current_->animator().get() == &animator) {
      found = current_;
    } else {
      auto it = std::find_if(queue_.begin(), queue_.end(), [&](const auto& p) { return p->animator().get() == &animator; });
      if (it != queue_.end()) found = *it;
    }
    if (!found) return;
    // The user swiped it away: no minimum time applies.
    found->setInteractivelyHidden(true);
    internalHide(found);
  });
}

void MessageBanners::panStarted(Animator&) {
  std::weak_ptr<MessageBanners> weakSelf = weak_from_this();
  messageQueue_->async([weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    self->autohideToken_.reset();
    ++self->autohideGeneration_;
  });
}

void MessageBanners::panEnded(Animator&) {
  std::weak_ptr<MessageBanners> weakSelf = weak_from_this();
  messageQueue_->async([weakSelf] {
    if (auto self = weakSelf.lock()) self->queueAutoHide();
  });
}

// MARK: - On the message queue

void MessageBanners::setCurrent(std::shared_ptr<Presenter> presenter) {
  const bool hadOne = current_ != nullptr;
  current_ = std::move(presenter);
  hideScheduled_ = false;
  if (!hadOne) return;
  std::weak_ptr<MessageBanners> weakSelf = weak_from_this();
  messageQueue_->asyncAfter(pauseBetweenMessages(), [weakSelf] {
    if (auto self = weakSelf.lock()) self->dequeueNext();
  });
}

void MessageBanners::dropCurrent() {
  // Its count goes with it, as on a normal hide, so the next equal message is counted afresh.
  if (current_) counts_.erase(current_->id());
  setCurrent(nullptr);
}

void MessageBanners::enqueue(const std::shared_ptr<Presenter>& presenter) {
  const auto& id = presenter->id();
  if (presenter->config().ignoreDuplicates) {
    ++counts_[id];
    if (current_ && current_->id() == id && !current_->isHiding() && !current_->isOrphaned()) return;
    if (std::any_of(queue_.begin(), queue_.end(), [&](const auto& p) { return p->id() == id; })) return;
  }
  const auto& duration = presenter->config().duration;
  if (duration.kind() == Duration::Kind::Indefinite) {
    delays_.insert(presenter);
    std::weak_ptr<MessageBanners> weakSelf = weak_from_this();
    messageQueue_->asyncAfter(duration.delay(), [weakSelf, presenter] {
      auto self = weakSelf.lock();
      if (!self || !self->delays_.erase(presenter)) return;
      self->queue_.push_back(presenter);
      self->dequeueNext();
    });
    return;
  }
  queue_.push_back(presenter);
  dequeueNext();
}

void MessageBanners::dequeueNext() {
  if (queue_.empty()) return;
  if (current_) {
    if (!current_->installed() || !current_->isOrphaned()) return;
    // Its container went away: it is replaced without a hide.
    counts_.erase(current_->id());
  }
  auto presenter = queue_.front();
  queue_.pop_front();
  setCurrent(presenter);
  autohideToken_ = presenter;
  ++autohideGeneration_;
  presenter->showDate = uikit::CACurrentMediaTime();

  std::weak_ptr<MessageBanners> weakSelf = weak_from_this();
  DispatchQueue::main()->async([weakSelf, presenter] {
    auto self = weakSelf.lock();
    if (!self) return;
    auto shown = presenter->show([weakSelf, presenter](bool completed) {
      auto self = weakSelf.lock();
      if (!self) return;
      self->messageQueue_->async([weakSelf, presenter, completed] {
        auto self = weakSelf.lock();
        if (!self) return;
        if (!completed) return self->internalHide(presenter);
        if (self->autohideToken_.lock() == presenter) self->queueAutoHide();
      });
    });
    if (!shown) {
      self->messageQueue_->sync([&] {
        if (self->current_ == presenter) self->dropCurrent();
      });
    }
  });
}

void MessageBanners::queueAutoHide() {
  if (!current_) return;
  auto presenter = current_;
  autohideToken_ = presenter;
  const std::uint64_t generation = ++autohideGeneration_;
  const auto& duration = presenter->config().duration;
  double delay = 0;
  switch (duration.kind()) {
    case Duration::Kind::Seconds: delay = duration.seconds(); break;
    case Duration::Kind::Automatic: delay = 2.0; break;
    case Duration::Kind::Indefinite:
    case Duration::Kind::Forever: return;
  }
  std::weak_ptr<MessageBanners> weakSelf = weak_from_this();
  messageQueue_->asyncAfter(delay, [weakSelf, presenter, generation] {
    auto self = weakSelf.lock();
    if (!self) return;
    if (self->autohideGeneration_ == generation && self->autohideToken_.lock() == presenter) self->internalHide(presenter);
  });
}

void MessageBanners::internalHide(const std::shared_ptr<Presenter>& presenter) {
  if (presenter == current_) {
    hideCurrent(true);
    return;
  }
  std::erase(queue_, presenter);
  delays_.erase(presenter);
}

void MessageBanners::hideCurrent(bool animated) {
  if (!current_ || current_->isHiding() || hideScheduled_) return;
  auto presenter = current_;
  double delay = 0;
  const auto& duration = presenter->config().duration;
  if (!presenter->interactivelyHidden() && duration.kind() == Duration::Kind::Indefinite && presenter->showDate) {
    delay = std::max(0.0, duration.minimum() - (uikit::CACurrentMediaTime() - *presenter->showDate));
  }
  hideScheduled_ = true;
  std::weak_ptr<MessageBanners> weakSelf = weak_from_this();
  DispatchQueue::main()->asyncAfter(delay, [weakSelf, presenter, animated] {
    presenter->hide(animated, [weakSelf, presenter](bool completed) {
      auto self = weakSelf.lock();
      if (!completed || !self) return;
      self->messageQueue_->sync([&] {
        if (self->current_ != presenter) return;
        self->counts_.erase(presenter->id());
        self->setCurrent(nullptr);
      });
    });
  });
}

}  // namespace MessageBanners
