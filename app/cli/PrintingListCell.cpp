#include "app/cli/PrintingListCell.h"

#include <cmath>

#include "app/cli/EventLog.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"

namespace fendrel::cli {

using Case = ListElementState::Case;

std::shared_ptr<PrintingListCell> PrintingListCell::attach(const std::shared_ptr<ListElement>& element) {
  std::shared_ptr<PrintingListCell> cell(new PrintingListCell(element));
  element->setCellDelegate(cell);
  // The main screen posts this to make every cell redraw; the cell is held weakly, so a dropped
  // cell is skipped.
  foundation::NotificationCenter::defaultCenter().addObserver(
      std::weak_ptr<PrintingListCell>(cell), "listElementProgressUpdate",
      [](PrintingListCell& observer, const foundation::Notification&) { observer.listElementProgressUpdate(); });
  cell->listElementProgressUpdate();
  return cell;
}

const char* PrintingListCell::stateName(Case state) {
  switch (state) {
    case Case::Downloading:
      return "Downloading";
    case Case::NotDownloaded:
      return "NotDownloaded";
    case Case::PreparingForDownload:
      return "PreparingForDownload";
    case Case::DownloadedDisabled:
      return "DownloadedDisabled";
    case Case::DownloadedEnabled:
      return "DownloadedEnabled";
  }
  return "Unknown";
}

void PrintingListCell::listElementProgressUpdate() {
  auto element = element_.lock();
  if (!element) return;
  const ListElementState state = element->state();
  const int percent = state.kind() == Case::Downloading ? static_cast<int>(std::lround(state.percent() * 100)) : -1;
  {
    std::lock_guard lock(mutex_);
    const bool unchangedProgress = drawn_ && lastCase_ == Case::Downloading && state.kind() == Case::Downloading &&
                                   percent == lastPercent_;
    drawn_ = true;
    lastCase_ = state.kind();
    lastPercent_ = percent;
    if (unchangedProgress) return;
  }
  // What the cell shows: the switch only once the file is cached (on only when enabled), the
  // download button otherwise, spinning while the download is being prepared and showing the
  // fraction while it runs.
  const bool downloaded = state.kind() == Case::DownloadedEnabled || state.kind() == Case::DownloadedDisabled;
  foundation::Dictionary fields{{"id", element->obj().objectId()},
                                {"name", element->name()},
                                {"state", stateName(state.kind())},
                                {"switchVisible", downloaded},
                                {"switchOn", state.kind() == Case::DownloadedEnabled},
                                {"downloadButtonVisible", !downloaded},
                                {"downloadButtonSpinning", state.kind() == Case::PreparingForDownload}};
  if (state.kind() == Case::Downloading) fields.set("percent", static_cast<double>(state.percent()));
  EventLog::shared().event("listState", fields);
}

bool PrintingListCell::isSettled() const {
  auto element = element_.lock();
  return !element || !element->isDownloadInFlight();
}

}  // namespace fendrel::cli
