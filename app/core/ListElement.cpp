#include "app/core/ListElement.h"

#include <utility>

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

// Defined beside the compile service, which it forwards to.
std::shared_ptr<ListElementCompileService> makeAppCompileService();

std::shared_ptr<ListElementCompileService> ListElement::compileService() {
  {
    std::lock_guard lock(compileServiceLock());
    if (compileServiceOverride()) return compileServiceOverride();
  }
  static auto* appService = new std::shared_ptr<ListElementCompileService>(makeAppCompileService());
  return *appService;
}

void ListElement::setCompileServiceForTesting(std::shared_ptr<ListElementCompileService> service) {
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

void ListElement::setEnabled(bool enabled) {
  auto service = compileService();
  if (enabled) {
    service->enableList(obj_);
  } else {
    service->disableList(obj_);
  }
  setState(enabled ? ListElementState::DownloadedEnabled() : ListElementState::DownloadedDisabled());
  tellCell();
  service->queueCompilation(false);
}

void ListElement::startDownload() {
  // The closures hold the element weakly: a download still running when the catalogue replaces
  // its element changes nothing.
  std::weak_ptr<ListElement> weak = weak_from_this();
  obj_.downloadAttachment(
      [weak](std::optional<float> fraction) {
        if (auto self = weak.lock()) self->downloadProgress(fraction);
      },
      [weak] {
        if (auto self = weak.lock()) self->downloadCompleted();
      });
}

void ListElement::downloadProgress(std::optional<float> fraction) {
  setState(fraction ? ListElementState::Downloading(*fraction) : ListElementState::PreparingForDownload());
  tellCell();
}

void ListElement::downloadCompleted() {
  if (!refreshCachedState()) {
    // The file was not stored. Try again a bounded number of times, each after a longer wait on
    // the clock; then stay PreparingForDownload until the next catalogue refresh.
    setState(ListElementState::PreparingForDownload());
    int restart = 0;
    {
      std::lock_guard lock(mutex_);
      restart = restarts_++;
    }
    if (restart < static_cast<int>(std::size(kRestartDelays))) {
      std::weak_ptr<ListElement> weak = weak_from_this();
      dispatch::DispatchQueue::main()->asyncAfter(kRestartDelays[restart], [weak] {
        auto self = weak.lock();
        if (self && !self->refreshCachedState()) self->startDownload();
      });
    }
    tellCell();
  }
  if (isEnabled()) compileService()->queueCompilation(true);
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
