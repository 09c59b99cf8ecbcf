#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "TovelCommon/CloudConfig.h"
#include "app/core/SharedAux.h"
#include "platform/foundation/Result.h"

namespace fendrel {
class ListElement;
}

namespace fendrel::cli {

class ObservedAnalytics;
class PrintingListCell;

/// One launch of the app, headless, with the main screen played by the command line.
///
/// launch() does what the app does when it starts: the app delegate's start-up (the crash
/// reporter, the launch count), then the main screen's loading (its refresh callback registered
/// with the configuration, which rebuilds the catalogue) and its appearing (a compilation when the
/// whitelist changed), and a compilation when the enabled set differs from the one last compiled.
/// Each list element gets a printing cell. runUntilQuiet() then pumps the main
/// loop until nothing is left to wait for. Everything runs on the main thread.
class AppSession {
 public:
  enum class Wait { Quiet, TimedOut, Interrupted };

  /// Where the compilations of a stretch of the run begin: the number of compilation outcomes the
  /// compile service had reported at a moment, to judge what happened after it.
  struct CompileMark {
    std::size_t outcomes = 0;
  };
  /// What the compilations since a mark came to.
  struct CompileOutcome {
    /// Reloads the browser handled (attempts included).
    std::size_t reloads = 0;
    /// False when the compiler failed during the stretch, or when the browser's last reload failed
    /// (after the retries) or was never answered.
    bool ok = true;
    /// The browser's last verdict ("ok rules=... bytes=..." from the rules it applied, or its
    /// error), or the compiler's error.
    std::string detail;
    /// The failure is one that retrying the same change cannot mend (too many rules, a rule file
    /// the browser's compiler refused).
    bool refusedForGood = false;
  };

  explicit AppSession(double timeoutSeconds);
  ~AppSession();
  AppSession(const AppSession&) = delete;
  AppSession& operator=(const AppSession&) = delete;

  /// Prepares the device root (first use), then starts the app as described above. Errors: the
  /// device root could not be prepared.
  foundation::Result<void> launch();

  /// Pumps the main loop until the app is quiet: the configuration answered or failed its first
  /// pass over the hosts, every list element downloaded or its download ended, no compilation
  /// queued or running and the busy state off. The time-out counts from the session's creation.
  Wait runUntilQuiet();

  /// After runUntilQuiet timed out: true when only downloads of lists that are not enabled kept
  /// the app from being quiet, so that the user's rules are in force.
  bool quietButForOtherDownloads() const;
  /// The lists whose download is under way or waiting for its turn.
  std::size_t listsStillDownloading() const;

  /// The main screen coming on screen again (after the whitelist screen): compiles when the
  /// whitelist changed.
  void appear();

  CompileMark compileMark() const;
  CompileOutcome compileOutcomeSince(const CompileMark& mark) const;

  /// The catalogue's element carrying `id`; none when there is none.
  std::shared_ptr<ListElement> listElement(const std::string& id) const;
  /// The identifiers of the catalogue's lists, in display order.
  std::vector<std::string> listIdentifiers() const;

  /// Where the configuration in use came from; none when there is none.
  std::optional<tovel::CloudConfigSource> configurationSource() const;

  ObservedAnalytics& analytics() const { return *analytics_; }
  double timeoutSeconds() const { return timeoutSeconds_; }

  /// Set from a signal handler: the next check of the main loop ends the wait.
  static std::atomic<bool> interrupted;

 private:
  void startCrashReporter();
  void startUp();
  void loadMainScreen();
  void refresh(tovel::CloudConfigSource source);
  /// Compiles an enabled set that a run stored but never got to the browser.
  void compileStoredEnabledSet();
  void attachCells();
  bool isQuiet() const;
  /// Whether every cell has settled; with `enabledOnly`, every cell of an enabled list. The main
  /// loop asks after every block, so the scan starts at the first cell last seen unsettled and
  /// goes over all cells only to confirm.
  bool cellsSettled(bool enabledOnly) const;
  bool configurationSettled() const;
  void printNewReloads();
  /// A compilation outcome with its text, taken when it was reported (the browser's applied rules
  /// may change with a later reload).
  struct RecordedOutcome {
    CompilationOutcome outcome;
    std::string text;
  };
  /// The outcomes the compile service reported from index `from` on.
  std::vector<RecordedOutcome> outcomesFrom(std::size_t from) const;

  /// What callbacks registered with process-wide objects hold, weakly, to reach the session: it
  /// ends with the session. Used on the main thread only.
  struct Link {
    AppSession* session;
  };
  std::shared_ptr<Link> link_ = std::make_shared<Link>(Link{this});
  const double timeoutSeconds_;
  const double deadline_;  // steady seconds
  std::shared_ptr<ObservedAnalytics> analytics_;
  std::vector<std::shared_ptr<PrintingListCell>> cells_;
  /// The first cell the last scan found unsettled.
  mutable std::size_t firstUnsettledCell_ = 0;
  std::uint64_t busyOnToken_ = 0;
  std::uint64_t busyOffToken_ = 0;
  bool busy_ = false;
  bool remoteApplied_ = false;
  std::size_t configFailuresAtLaunch_ = 0;
  /// The compile service's outcomes, in the order reported. Shared with the service's observer,
  /// which may still be running on another thread when the session ends.
  struct Outcomes {
    std::mutex mutex;
    std::vector<RecordedOutcome> list;
  };
  const std::shared_ptr<Outcomes> outcomes_ = std::make_shared<Outcomes>();
  std::size_t printedOutcomes_ = 0;
};

}  // namespace fendrel::cli
