#pragma once
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/core/ListElement.h"

namespace fendrel::cli {

/// The list cell of the headless main screen: the element tells it after every change of state
/// (on the main thread), and it "redraws" by writing the element's state as an event line.
///
/// It also keeps what the command line needs to know whether the element has settled: its file
/// is downloaded, or its download ended without a file. The element does not say when a download
/// failed; it reports progress without a fraction and then nothing more. A report without a
/// fraction also comes during a download of unknown size, so a failure counts as settled only
/// after kFailureQuietSeconds without any further report.
class PrintingListCell final : public ListElementCellDelegate {
 public:
  /// How long an element must stay silent after a report without a fraction before its download
  /// counts as ended. Loopback and ordinary servers deliver the rest of a transfer well within it.
  static constexpr std::chrono::milliseconds kFailureQuietTime{500};

  /// A cell showing `element`; it holds the element weakly, as the element holds it.
  static std::shared_ptr<PrintingListCell> attach(const std::shared_ptr<ListElement>& element);

  /// Writes the element's state (Downloading reports only when the fraction moved by a percent).
  void listElementProgressUpdate() override;

  /// True when the element's download is done or has ended without a file.
  bool isSettled() const;

  /// The text of a state case.
  static const char* stateName(ListElementState::Case state);

 private:
  explicit PrintingListCell(std::weak_ptr<ListElement> element) : element_(std::move(element)) {}

  const std::weak_ptr<ListElement> element_;
  mutable std::mutex mutex_;
  bool drawn_ = false;
  std::optional<ListElementState::Case> lastCase_;
  int lastPercent_ = -1;
  /// A report without a fraction (or a failed store) after the first drawing.
  bool sawUnfinishedReport_ = false;
  std::chrono::steady_clock::time_point lastReport_{};
};

}  // namespace fendrel::cli
