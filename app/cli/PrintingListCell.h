#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/core/ListElement.h"

namespace fendrel::cli {

/// The list cell of the headless main screen: the element tells it after every change of state
/// (on the main thread), and it "redraws" by writing the element's state as an event line.
///
/// It also tells the command line whether the element has settled: no download of its file is
/// under way or waiting for a restart.
class PrintingListCell final : public ListElementCellDelegate {
 public:
  /// A cell showing `element`; it holds the element weakly, as the element holds it.
  static std::shared_ptr<PrintingListCell> attach(const std::shared_ptr<ListElement>& element);

  /// Writes the element's state (Downloading reports only when the fraction moved by a percent).
  void listElementProgressUpdate() override;

  /// True when the element has no download in flight: its file is cached, or its download ended
  /// without one (it then waits for the next catalogue refresh).
  bool isSettled() const;
  /// The element shown; null once it is gone.
  std::shared_ptr<ListElement> element() const { return element_.lock(); }

  /// The text of a state case.
  static const char* stateName(ListElementState::Case state);

 private:
  explicit PrintingListCell(std::weak_ptr<ListElement> element) : element_(std::move(element)) {}

  const std::weak_ptr<ListElement> element_;
  mutable std::mutex mutex_;
  bool drawn_ = false;
  std::optional<ListElementState::Case> lastCase_;
  int lastPercent_ = -1;
};

}  // namespace fendrel::cli
