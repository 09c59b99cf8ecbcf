#include "app/core/ListElement.h"

#include <utility>

#include "app/core/AppListCompileService.h"
#include "app/core/Singleton.h"
#include "platform/dispatch/DispatchQueue.h"

namespace fendrel {
namespace {

std::mutex& compileServiceLock() {
  static auto* lock = new std::mutex();
  return *lock;
}

std::shared_ptr<ListElementCompileService>& compileServiceOverride() {
  static auto* service = new std::shared_ptr<ListElementCompileService>();
  return *service;
}

}  // namespace

std::shared_ptr<ListElementCompileService> ListElement::compileService() {
  {
    std::lock_guard lock(compileServiceLock());
    if (compileServiceOverride()) return compileServiceOverride();
  }
  static auto* appService = new std::shared_ptr<ListElementCompileService>(makeAppCompileService());
  return *appService;
}

void ListElement::setCompileService(std::shared_ptr<ListElementCompileService> service) {
  std::lock_guard lock(compileServiceLock());
  compileServiceOverride() = std::move(service);
}

std::shared_ptr<ListElement> ListElement::make(const CloudObject& obj) {
  if (obj.kind() == CloudObject::Kind::App) return nullptr;
  std::shared_ptr<ListElement> element(new ListElement(obj));
  element->refreshState();
  return element;
}

ListElementState ListElement::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::shared_ptr<ListElementCellDelegate> ListElement::cellDelegate() const {
  std::lock_guard lock(mutex_);
  return cellDelegate_.lock();
}

void ListElement::setCellDelegate(std::weak_ptr<ListElementCellDelegate> cellDelegate) {
  std::lock_guard lock(mutex_);
  cellDelegate_ = std::move(cellDelegate);
}

void ListElement::refreshState() {
  if (refreshCachedState()) return;
  setState(ListElementState::PreparingForDownload());
  startDownload();
  tellCell();
}

bool ListElement::refreshCachedState() {
  if (!obj_.existingAttachmentURL()) return false;
  setState(isEnabled() ? ListElementState::DownloadedEnabled() : ListElementState::DownloadedDisabled());
  tellCell();
  return true;
}

foundation::Result<void> ListElement::setEnabled(bool enabled) {
  auto service = compileService();
  auto stored = enabled ? service->enableList(obj_) : service->disableList(obj_);
  if (!stored) return stored.error();
  setState(enabled ? ListElementState::DownloadedEnabled() : ListElementState::DownloadedDisabled());
  tellCell();
  service->queueCompilation(Recompilation::IfChanged);
  return {};
}

/// Shared by the two closures of one download. The downloader lets its closures go when the
/// download is over, whether or not it called the completion (a download that stores nothing calls
/// none), so the token's end marks the end of the download; it hands that to the main thread,
/// since the downloader may let go on another.
class ListElement::DownloadEndToken {
 public:
  DownloadEndToken(std::weak_ptr<ListElement> element, std::uint64_t generation)
      : element_(std::move(element)), generation_(generation) {}
  ~DownloadEndToken() {
    dispatch::DispatchQueue::main()->async([element = element_, generation = generation_] {
      if (auto self = element.lock()) self->downloadEnded(generation);
    });
  }
  DownloadEndToken(const DownloadEndToken&) = delete;
  DownloadEndToken& operator=(const DownloadEndToken&) = delete;

 private:
  const std::weak_ptr<ListElement> element_;
  const std::uint64_t generation_;
};

void ListElement::startDownload() {
  // The closures hold the element weakly: a download still running when the catalogue replaces
  // its element changes nothing.
  std::weak_ptr<ListElement> weak = weak_from_this();
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    generation = ++downloadGeneration_;
    downloadRunning_ = true;
  }
  auto token = std::make_shared<DownloadEndToken>(weak, generation);
  obj_.downloadAttachment(
      [weak, token](std::optional<float> fraction) {
        if (auto self = weak.lock()) self->downloadProgress(fraction);
      },
      [weak, token] {
        if (auto self = weak.lock()) self->downloadCompleted();
      });
}

void ListElement::downloadEnded(std::uint64_t generation) {
  // The state stays as the last report left it (PreparingForDownload or Downloading); the element
  // now waits for the next catalogue refresh.
  std::lock_guard lock(mutex_);
  if (generation == downloadGeneration_) downloadRunning_ = false;
}

bool ListElement::isDownloadInFlight() const {
  std::lock_guard lock(mutex_);
  return downloadRunning_ || restartPending_;
}

void ListElement::downloadProgress(std::optional<float> fraction) {
  setState(fraction ? ListElementState::Downloading(*fraction) : ListElementState::PreparingForDownload());
  tellCell();
}

void ListElement::downloadCompleted() {
  {
    // Cleared before the refresh below tells the cell, so that the cell sees the end.
    std::lock_guard lock(mutex_);
    downloadRunning_ = false;
  }
  if (!refreshCachedState()) {
    // The file was not stored. Try again a bounded number of times, each after a longer wait on
    // the clock; then stay PreparingForDownload until the next catalogue refresh.
    setState(ListElementState::PreparingForDownload());
    int restart = 0;
    bool restarting = false;
    {
      std::lock_guard lock(mutex_);
      restart = restarts_++;
      restarting = restart < static_cast<int>(std::size(kRestartDelays));
      restartPending_ = restarting;
    }
    if (restarting) {
      std::weak_ptr<ListElement> weak = weak_from_this();
      dispatch::DispatchQueue::main()->asyncAfter(kRestartDelays[restart], [weak] {
        auto self = weak.lock();
        if (!self) return;
        {
          std::lock_guard lock(self->mutex_);
          self->restartPending_ = false;
        }
        if (!self->refreshCachedState()) self->startDownload();
      });
    }
    tellCell();
  }
  if (isEnabled()) compileService()->queueCompilation(Recompilation::Always);
}

void ListElement::setState(ListElementState state) {
  std::lock_guard lock(mutex_);
  state_ = state;
}

void ListElement::tellCell() const {
  if (auto cell = cellDelegate()) cell->listElementProgressUpdate();
}

bool ListElement::isEnabled() const {
  return Singleton::shared().extConfigIDs().contains(obj_.objectId());
}

}  // namespace fendrel
