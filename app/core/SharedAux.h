#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/CloudObject.h"
#include "app/core/Recompilation.h"
#include "app/core/RuleCompiler/RuleCheckReport.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/ValueFwd.h"

namespace foundation {
class OperationQueue;
}

namespace tovel {
enum class CloudConfigSource : std::uint8_t;
}  // namespace tovel

namespace fendrel {

class ListElement;
class Singleton;

/// How one attempt of a compilation ended, as the compile service's observer learns it. A skipped
/// request (unforced, enabled set unchanged) compiles nothing and has no outcome.
struct CompilationOutcome {
  /// The request's force flag.
  bool force = false;
  /// 0 for the first attempt of a request, 1 and up for its retries after a failed reload.
  int attempt = 0;
  /// Set when the rule compiler (joinJsons) failed: no reload was asked for and no retry follows.
  std::optional<foundation::Error> joinJsonsError;
  /// Set when the browser reported an error for the reload, or did not answer in time. Neither
  /// error set: the browser reloaded the new rule file.
  std::optional<foundation::Error> reloadError;
  /// A failed reload will be tried again (after a delay on the clock).
  bool retryScheduled = false;
  /// What the rule compiler left out, per list, when it ran.
  RuleCompilationReport rules;

  bool succeeded() const { return !joinJsonsError && !reloadError; }
  /// True when the change compiled cannot be applied as it stands, however often it is tried: the
  /// rule file has more rules than the browser takes, or the browser's compiler refused it.
  /// Other failures (no answer in time, an interrupted load, a file that could not be written)
  /// may pass.
  bool refusedForGood() const;
};

/// The app's compile service: one process-wide instance owning the serial "Compile queue" on which
/// every compilation runs. A compilation rebuilds "output.json" from the enabled filter lists and
/// the whitelist (joinJsons) and asks the browser to reload the extension, which hands that file
/// to the browser. The service remembers the enabled set of its last successful reload, so that an
/// unforced request for the same set is skipped; it tells the main screen through "busyOn" and
/// "busyOff" (default notification centre, main queue) that a compilation is running; it turns
/// failures into the analytics events "errJoinJsons" and "errRecompileSafari". The error of
/// "errJoinJsons" carries its domain, code and description with file paths cut to file names.
///
/// A failed reload (or one the browser leaves unanswered for kReloadTimeout seconds) is tried again
/// at most twice, after the delays of kRetryDelays on the clock; after that the busy state ends and
/// the next request starts afresh.
///
/// Thread-safety: every member may be called from any thread; the catalogue refresh and the
/// enabled-set changes are meant for the main thread, recompileSafari for the compile queue.
class SharedAux {
 public:
  /// The service's own errors (domain kErrorDomain).
  enum class Error : std::int64_t {
    cantFormOutputUrl = 0,  ///< the platform gives no app-group container for "output.json"
    tooManyRules = 1,       ///< the enabled lists and the whitelist make more rules than the browser takes
  };
  static constexpr const char* kErrorDomain = "Fendrel.SharedAux.Error";
  /// The platform error object of `error`.
  static foundation::Error makeError(Error error);

  /// The bundle identifier of the content-blocker extension the browser reloads.
  static constexpr const char* kExtensionIdentifier = "com.morvit.Fendrel.Quellbox";
  /// How long a compilation waits for the browser's answer. A browser that never answers would
  /// otherwise hold the compile queue, every later compilation and the busy state for ever; two
  /// minutes leave a slow engine ample time for a large rule file.
  static constexpr double kReloadTimeout = 120.0;
  /// Delays before the second and third attempt of a failed reload. Immediate, unbounded retries
  /// would hammer a browser that keeps refusing the file while the busy state never ends.
  static constexpr double kRetryDelays[] = {2.0, 4.0};
  /// The most rules the browser takes from one content blocker. A rule file with more is not
  /// written: the browser would refuse it whole and keep the earlier rules anyway.
  static constexpr std::size_t kMaximumRuleCount = 150000;

  /// The one instance, created on first use and never destroyed.
  static SharedAux& shared();

  /// The serial queue ("Compile queue", one operation at a time). Callers request a compilation by
  /// adding an operation whose body calls recompileSafari.
  std::shared_ptr<foundation::OperationQueue> compileQueue() const { return compileQueue_; }

  /// One compilation and reload, on the compile queue. Skipped (the busy state then ends) for
  /// `Recompilation::IfChanged` when the enabled set equals the one of the last successful reload.
  /// Returns when the browser's answer has been handled, when the wait for it timed out, or at once
  /// when skipped or when the compiler failed.
  void recompileSafari(Recompilation recompilation);

  using CompilationObserver = std::function<void(const CompilationOutcome&)>;
  /// Calls `observer` with the outcome of every attempt that compiled (none unsets it). It is
  /// called on the thread where the outcome is known: the compile queue's for a compiler failure
  /// or an unanswered reload, the browser's completion thread for its answer; in every case after
  /// the service has acted on the outcome (recorded the set, scheduled the retry), before the busy
  /// state is ended and before the compile queue's operation ends. It must not wait for the compile queue. Safe from any thread;
  /// an observer being called when it is replaced may still finish that call.
  void setCompilationObserver(CompilationObserver observer);

  /// Ends or starts the busy state: posts the notification from the main queue, except that
  /// "busyOff" is not posted while another compilation waits in the queue or a retry is pending
  /// (that one will end the busy state itself).
  void setBusy(bool busy);
  /// Posts "busyOn" (true) or "busyOff" (false) on the calling thread.
  static void postBusyNotification(bool busy);

  /// Queues a forced compilation when the whitelist changed since its last successful
  /// compilation (its date differs from "whitelistCompiledDate" by any amount).
  void recompileIfWhitelistChanged();
  /// Queues an unforced compilation when the enabled set differs from the one the last successful
  /// compilation compiled ("extConfigCompiledIDs"; none stored counts as empty): a change stored by
  /// a run that ended before its compilation reached the browser. Called when the app starts.
  void recompileIfEnabledSetChanged();

  /// Add or remove the list in the enabled set stored under "extConfigIDs", as one step of the
  /// settings store (a change of another process at the same time is kept); store the names under
  /// "extConfigListNames" when they differ from the stored ones. Compile nothing. Errors: the
  /// settings store could not write the set, which then stays as it was.
  foundation::Result<void> enableList(const CloudObject& obj);
  foundation::Result<void> disableList(const CloudObject& obj);

  /// The name of the first catalogue list carrying `forID`; "" when there is none.
  std::string listName(const std::string& forID) const;
  /// One name per identifier, in the set's order.
  std::vector<std::string> enabledListNames(const std::set<std::string>& ids) const;

  /// `name` in the root of the app-group container; none when there is no container.
  static std::optional<foundation::URL> appGroupFileURL(std::string_view name);

  /// Rebuilds "output.json" from the lists of `enabledIDs` (visited in sorted order, each through
  /// the first catalogue element carrying it) and the enabled whitelist. The catalogue is read once,
  /// as one snapshot. Errors: cantFormOutputUrl without a container; tooManyRules, naming each list
  /// with its rule count and how many rules are over, when the rules kept pass kMaximumRuleCount
  /// (the previous "output.json" then stays); the platform's error when the
  /// built-in fallback cannot be copied into place, or when the rule file cannot be serialised or
  /// written (the previous "output.json" then stays). On success, the rules left out per list.
  foundation::Result<RuleCompilationReport> joinJsons(const std::set<std::string>& enabledIDs);
  /// As above, for the enabled set stored now.
  foundation::Result<RuleCompilationReport> joinJsons();

  /// The site of every enabled whitelist entry, in stored order, duplicates kept.
  std::vector<std::string> enabledWhitelistDomains() const;
  /// The catalogue elements whose entry has exactly `withID`, in catalogue order.
  std::vector<std::shared_ptr<ListElement>> listElements(const std::string& withID) const;

  /// Rebuilds the catalogue of `singleton` from its configuration's "lists" and "apps" (both must be
  /// arrays of dictionaries, else nothing changes and `completion` is not called). On a remote
  /// refresh during the first launch the first list is enabled (and compiled when its file is
  /// cached already); every remote refresh then checks the whitelist. `completion(remote)` runs on a
  /// later turn of the main queue. Called on the main queue.
  static void applyCloudConfig(tovel::CloudConfigSource source, Singleton& singleton,
                               std::function<void(bool)> completion);
  /// An entry per dictionary of `from` that makes one, in order, with links resolved against
  /// `baseUrl`; entries that are not dictionaries or do not make an entry are left out.
  static std::vector<CloudObject> cloudObjects(const foundation::Array& from, CloudObject::Kind kind,
                                               const std::optional<foundation::URL>& baseUrl);
  /// The display list of filter lists: debug-only entries dropped, stably sorted by num, one list
  /// element per list entry (each of which at once checks its cache).
  static std::vector<std::shared_ptr<ListElement>> sortedListElements(const std::vector<CloudObject>& objects);
  /// The display list of apps: debug-only entries dropped, stably sorted by name (byte order).
  static std::vector<CloudObject> sortedApps(const std::vector<CloudObject>& objects);

  /// Waits for the compile queue to finish, then forgets the last successful compilation. Retries
  /// still waiting on the clock are not waited for (tests and benchmarks start each case over).
  void reset();
  /// The enabled set the browser's rules were last compiled from, as stored by the last successful
  /// reload of any run ("extConfigCompiledIDs"; empty when none is stored).
  std::set<std::string> appliedEnabledIDs() const;
  /// The enabled set of the last successful reload of this run, if any.
  std::optional<std::set<std::string>> lastSuccessfulCompilation() const;

 private:
  /// The work of joinJsons once the output's place is known: buckets, checks and the file's write.
  foundation::Result<RuleCompilationReport> compileRuleFile(const std::set<std::string>& enabledIDs,
                                                            const foundation::URL& output);
  SharedAux();
  struct ReloadRequest;

  void recompile(bool force, int attempt);
  void reloadCompletion(const ReloadRequest& request, const std::optional<foundation::Error>& error);
  /// Schedules the retry of a failed reload unless it was the last attempt; true when scheduled.
  bool scheduleRetry(const ReloadRequest& request);
  void notifyObserver(const CompilationOutcome& outcome) const;
  std::string configText(const std::set<std::string>& ids) const;
  static foundation::Result<void> changeEnabledSet(Singleton& singleton, const std::string& id, bool enable);

  const std::shared_ptr<foundation::OperationQueue> compileQueue_;
  mutable std::mutex mutex_;  // guards lastSuccessfulCompilation_
  std::optional<std::set<std::string>> lastSuccessfulCompilation_;
  mutable std::mutex observerMutex_;  // guards compilationObserver_
  CompilationObserver compilationObserver_;
  /// Retries scheduled on the clock whose operation has not started yet.
  std::atomic<int> pendingRetries_{0};
};

}  // namespace fendrel
