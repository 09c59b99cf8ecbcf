#include "app/core/SharedAux.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "app/core/CrashReporting.h"
#include "app/core/ListElement.h"
#include "app/core/RuleCompiler/CachedListSelection.h"
#include "app/core/RuleCompiler/RuleCompiler.h"
#include "app/core/RuleCompiler/RuleFileWriting.h"
#include "app/core/SettingsKeys.h"
#include "app/core/Singleton.h"
#include "platform/browser/BrowserError.h"
#include "platform/browser/ContentBlockerManager.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/StringArray.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"

namespace fendrel {
namespace {

using foundation::Array;
using foundation::Value;

constexpr const char* kOutputFileName = "output.json";
using settings::kExtConfigCompiledIDsKey;
using settings::kExtConfigIDsKey;
using settings::kExtConfigListNamesKey;
using settings::kWhitelistCompiledDateKey;

/// `value` when it is an array whose every element is a dictionary.
const Array* dictionaryArray(const Value& value) {
  const Array* array = value.array();
  if (!array) return nullptr;
  for (const auto& element : *array) {
    if (!element.dictionary()) return nullptr;
  }
  return array;
}

/// Stores a setting that only records what happened (a compilation date, list names); a write
/// that fails leaves the earlier value, which only makes a later step redo its work.
void store(foundation::UserDefaults& defaults, std::string_view key, const Value& value) {
  auto stored = defaults.set(key, value);
  (void)stored;
}

/// The enabled set the last successful compilation compiled; empty when none is stored (nothing
/// was compiled yet, so an empty enabled set needs no compilation).
std::set<std::string> compiledIDs(foundation::UserDefaults& defaults) {
  std::set<std::string> ids;
  if (auto stored = defaults.array(kExtConfigCompiledIDsKey)) {
    for (const auto& element : *stored) {
      if (auto id = element.asString()) ids.insert(std::move(*id));
    }
  }
  return ids;
}

void replaceAll(std::string& text, std::string_view what, std::string_view with) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
}

/// `error` as analytics may carry it: its domain, its code and its description with every file
/// path cut to its last component. Paths name the user's folders (and so often the user); which
/// file failed is all the service needs.
foundation::Error withoutFilePaths(const foundation::Error& error) {
  std::vector<std::string> paths;
  for (std::optional<foundation::Error> e = error; e; e = e->underlyingError()) {
    if (auto path = e->userInfo()[foundation::kFilePathErrorKey].asString(); path && path->size() > 1) {
      paths.push_back(std::move(*path));
    }
  }
  // Longest first, so that a folder never cuts a path inside it short.
  std::sort(paths.begin(), paths.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
  std::string description = error.localizedDescription();
  for (const auto& path : paths) replaceAll(description, path, foundation::URL::fileURL(path).lastPathComponent());
  // Whatever other place on the device a description names.
  if (const std::string root = foundation::DeviceRoot::path(); root.size() > 1) replaceAll(description, root, "~device");
  if (const char* home = std::getenv("HOME"); home && std::string_view(home).size() > 1) {
    replaceAll(description, home, "~");
  }
  return foundation::Error::withDescription(error.domain(), error.code(), std::move(description));
}

/// tooManyRules, telling which lists gave how many rules and how many are over.
foundation::Error tooManyRulesError(const RuleCompilationReport& report) {
  std::string lists;
  for (const KeptRules& list : report.kept) {
    if (!lists.empty()) lists += ", ";
    lists += "'" + list.listID + "' (" + list.listName + ") " + std::to_string(list.count) + " rules";
  }
  std::size_t fromLists = 0;
  for (const KeptRules& list : report.kept) fromLists += list.count;
  if (report.writtenRules > fromLists) {
    lists += ", the whitelist " + std::to_string(report.writtenRules - fromLists) + " rule";
  }
  const std::size_t over = report.writtenRules - SharedAux::kMaximumRuleCount;
  return foundation::Error::withDescription(
      SharedAux::kErrorDomain, static_cast<std::int64_t>(SharedAux::Error::tooManyRules),
      "too many rules: the enabled lists make " + std::to_string(report.writtenRules) + " rules, " +
          std::to_string(over) + " over the " + std::to_string(SharedAux::kMaximumRuleCount) +
          " the browser takes (" + lists + ")");
}

/// Blocks the compile queue's thread until the browser answers or the time-out passes, whichever
/// comes first. Only one of the two ends the wait: an answer after the time-out is ignored.
struct ReloadWait {
  std::mutex mutex;
  bool answered = false;
  bool timedOut = false;
  dispatch::DispatchSemaphore semaphore{0};
};

}  // namespace

struct SharedAux::ReloadRequest {
  bool force = false;
  /// 0 for the first attempt of a request, 1 and 2 for its retries.
  int attempt = 0;
  /// The enabled set compiled, recorded on success.
  std::set<std::string> snapshot;
  /// The names of the enabled lists, for the analytics events.
  std::string config;
  /// What the rule compiler left out.
  RuleCompilationReport rules;
};

bool CompilationOutcome::refusedForGood() const {
  if (joinJsonsError) {
    return joinJsonsError->is(SharedAux::kErrorDomain, static_cast<std::int64_t>(SharedAux::Error::tooManyRules));
  }
  return reloadError && reloadError->domain() == browser::kWebKitRuleListErrorDomain;
}

foundation::Error SharedAux::makeError(Error error) {
  switch (error) {
    case Error::cantFormOutputUrl:
      return foundation::Error::withDescription(kErrorDomain, static_cast<std::int64_t>(error),
                                                "cannot form the URL of output.json: no app-group container");
    case Error::tooManyRules:
      return foundation::Error::withDescription(kErrorDomain, static_cast<std::int64_t>(error),
                                                "cannot compile the rule file: too many rules");
  }
  return foundation::Error(kErrorDomain, static_cast<std::int64_t>(error));
}

SharedAux& SharedAux::shared() {
  // Never destroyed: compile and browser threads may still use it while the process exits.
  static auto* instance = new SharedAux();
  return *instance;
}

SharedAux::SharedAux() : compileQueue_(foundation::OperationQueue::create()) {
  compileQueue_->setName("Compile queue");
  compileQueue_->setMaxConcurrentOperationCount(1);
}

// ---------------------------------------------------------------------------------------------
// Compilation and reload

void SharedAux::recompileSafari(Recompilation recompilation) { recompile(recompilation == Recompilation::Always, 0); }

void SharedAux::recompile(bool force, int attempt) {
  Singleton& singleton = Singleton::shared();
  // One read of the enabled set: the compilation compiles exactly the set a success records.
  std::set<std::string> ids = singleton.extConfigIDs();
  {
    std::unique_lock lock(mutex_);
    if (!force && lastSuccessfulCompilation_ == ids) {
      lock.unlock();
      setBusy(false);
      return;
    }
  }
  ReloadRequest request{force, attempt, ids, configText(ids), {}};
  dispatch::DispatchQueue::main()->async([] { postBusyNotification(true); });

  auto joined = joinJsons(request.snapshot);
  if (!joined) {
    singleton.analytics()->log("errJoinJsons", {{"error", Value(withoutFilePaths(joined.error()))}, {"config", request.config}});
    CompilationOutcome outcome;
    outcome.force = force;
    outcome.attempt = attempt;
    outcome.joinJsonsError = joined.error();
    notifyObserver(outcome);
    // Last, so that whoever sees the busy state end has seen the outcome.
    setBusy(false);
    return;
  }
  request.rules = std::move(*joined);

  auto wait = std::make_shared<ReloadWait>();
  browser::ContentBlockerManager::reloadContentBlocker(
      kExtensionIdentifier, [this, wait, request](std::optional<foundation::Error> error) {
        {
          std::lock_guard lock(wait->mutex);
          if (wait->timedOut) return;
          wait->answered = true;
        }
        reloadCompletion(request, error);
        wait->semaphore.signal();
      });
  if (wait->semaphore.wait(kReloadTimeout)) return;
  bool answered = false;
  {
    std::lock_guard lock(wait->mutex);
    answered = wait->answered;
    if (!answered) wait->timedOut = true;
  }
  if (answered) {
    // The answer came just at the time-out and is being handled; its signal follows.
    wait->semaphore.wait();
    return;
  }
  reloadCompletion(request, browser::makeSFError(browser::SFErrorCode::LoadingInterrupted,
                                                 "cannot reload the content blocker: the browser did not "
                                                 "answer within 120 seconds"));
}

void SharedAux::reloadCompletion(const ReloadRequest& request, const std::optional<foundation::Error>& error) {
  Singleton& singleton = Singleton::shared();
  if (!error) {
    {
      std::lock_guard lock(mutex_);
      lastSuccessfulCompilation_ = request.snapshot;
    }
    store(*singleton.userDefs(), kWhitelistCompiledDateKey, singleton.whitelistDate());
    store(*singleton.userDefs(), kExtConfigCompiledIDsKey, foundation::arrayOfStrings(request.snapshot));
    CompilationOutcome outcome;
    outcome.force = request.force;
    outcome.attempt = request.attempt;
    outcome.rules = request.rules;
    notifyObserver(outcome);
    setBusy(false);
    return;
  }
  // The retry is scheduled before the event is sent, so that whoever sees the event also sees
  // the retry pending.
  CompilationOutcome outcome;
  outcome.force = request.force;
  outcome.attempt = request.attempt;
  outcome.reloadError = *error;
  outcome.rules = request.rules;
  // The browser's compiler refuses the same file again: only a changed file can help.
  const bool retrying = !outcome.refusedForGood() && scheduleRetry(request);
  outcome.retryScheduled = retrying;
  singleton.analytics()->log("errRecompileSafari", {{"error", Value(*error)}, {"config", request.config}});
  notifyObserver(outcome);
  if (!retrying) setBusy(false);
}

void SharedAux::setCompilationObserver(CompilationObserver observer) {
  std::lock_guard lock(observerMutex_);
  compilationObserver_ = std::move(observer);
}

void SharedAux::notifyObserver(const CompilationOutcome& outcome) const {
  CompilationObserver observer;
  {
    std::lock_guard lock(observerMutex_);
    observer = compilationObserver_;
  }
  // Called outside the lock: the observer may replace itself or take locks of its own.
  if (observer) observer(outcome);
}

bool SharedAux::scheduleRetry(const ReloadRequest& request) {
  const auto attempt = static_cast<std::size_t>(request.attempt);
  if (attempt >= std::size(kRetryDelays)) return false;
  ++pendingRetries_;
  const bool force = request.force;
  const int next = request.attempt + 1;
  dispatch::DispatchQueue::global()->asyncAfter(kRetryDelays[attempt], [this, force, next] {
    compileQueue_->addOperationWithBlock([this, force, next] {
      // Counted as pending until its own operation runs: while it waits in the queue it is counted
      // twice, never zero times, so no other compilation ends the busy state in between, and this
      // one, when it ends, sees itself as the only operation left.
      --pendingRetries_;
      recompile(force, next);
    });
  });
  return true;
}

void SharedAux::setBusy(bool busy) {
  if (!busy && (compileQueue_->operationCount() > 1 || pendingRetries_.load() > 0)) return;
  dispatch::DispatchQueue::main()->async([busy] { postBusyNotification(busy); });
}

void SharedAux::postBusyNotification(bool busy) {
  foundation::NotificationCenter::defaultCenter().post(busy ? "busyOn" : "busyOff");
}

void SharedAux::recompileIfWhitelistChanged() {
  Singleton& singleton = Singleton::shared();
  auto compiled = singleton.whitelistCompiledDate();
  auto changed = singleton.whitelistDate();
  if (changed.timeIntervalSince(compiled) == 0) return;
  compileQueue_->addOperationWithBlock([] { SharedAux::shared().recompileSafari(Recompilation::Always); });
}

void SharedAux::recompileIfEnabledSetChanged() {
  Singleton& singleton = Singleton::shared();
  if (singleton.extConfigIDs() == compiledIDs(*singleton.userDefs())) return;
  // Unforced: a compilation of this set that succeeds meanwhile makes it a no-op.
  compileQueue_->addOperationWithBlock([] { SharedAux::shared().recompileSafari(Recompilation::IfChanged); });
}

std::set<std::string> SharedAux::appliedEnabledIDs() const { return compiledIDs(*Singleton::shared().userDefs()); }

std::optional<std::set<std::string>> SharedAux::lastSuccessfulCompilation() const {
  std::lock_guard lock(mutex_);
  return lastSuccessfulCompilation_;
}

void SharedAux::reset() {
  compileQueue_->waitUntilAllOperationsAreFinished();
  std::lock_guard lock(mutex_);
  lastSuccessfulCompilation_.reset();
}

// ---------------------------------------------------------------------------------------------
// The enabled set and its names

foundation::Result<void> SharedAux::enableList(const CloudObject& obj) {
  return changeEnabledSet(Singleton::shared(), obj.objectId(), true);
}

foundation::Result<void> SharedAux::disableList(const CloudObject& obj) {
  return changeEnabledSet(Singleton::shared(), obj.objectId(), false);
}

foundation::Result<void> SharedAux::changeEnabledSet(Singleton& singleton, const std::string& id, bool enable) {
  auto defaults = singleton.userDefs();
  std::set<std::string> ids;
  // One step of the store: another process enabling or disabling another list at the same time
  // keeps its change.
  auto stored = defaults->update(kExtConfigIDsKey, [&](Value& value) {
    ids.clear();
    if (const Array* array = value.array()) {
      for (const auto& element : *array) {
        // Anything but an array of strings reads as the empty set.
        const std::string* text = element.string();
        if (!text) {
          ids.clear();
          break;
        }
        ids.insert(*text);
      }
    }
    if (enable) {
      ids.insert(id);
    } else {
      ids.erase(id);
    }
    value = foundation::arrayOfStrings(ids);
  });
  if (!stored) return stored.error();
  auto found = singleton.listNames(ids);
  std::set<std::string> names(found.begin(), found.end());
  auto storedNames = singleton.extConfigListNames();
  if (storedNames && *storedNames == names) return {};
  // The names follow the set; they are only for analytics, and the next read of the set rewrites
  // them, so a failure here does not undo the change.
  store(*defaults, kExtConfigListNamesKey, foundation::arrayOfStrings(names));
  return {};
}

std::string SharedAux::listName(const std::string& forID) const {
  auto lists = Singleton::shared().lists();
  for (const auto& element : *lists) {
    if (element->obj().objectId() == forID) return element->obj().name();
  }
  return "";
}

std::vector<std::string> SharedAux::enabledListNames(const std::set<std::string>& ids) const {
  std::vector<std::string> names;
  names.reserve(ids.size());
  for (const auto& id : ids) names.push_back(listName(id));
  return names;
}

std::string SharedAux::configText(const std::set<std::string>& ids) const {
  std::string text;
  bool first = true;
  for (const auto& name : enabledListNames(ids)) {
    if (!first) text.append(", ");
    text.append(name);
    first = false;
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// The rule compiler's inputs

std::optional<foundation::URL> SharedAux::appGroupFileURL(std::string_view name) {
  auto container = foundation::FileManager::defaultManager().containerURL(kAppGroupIdentifier);
  if (!container) return std::nullopt;
  return container->appendingPathComponent(name);
}

foundation::Result<RuleCompilationReport> SharedAux::joinJsons(const std::set<std::string>& enabledIDs) {
  auto output = appGroupFileURL(kOutputFileName);
  if (!output) return makeError(Error::cantFormOutputUrl);
  // The rule file is written as it is made, in bounded memory, so it is traced as one streamed write.
  foundation::Result<RuleCompilationReport> result = makeError(Error::cantFormOutputUrl);
  traceStreamedFileWrite(output->path(), [&] {
    result = compileRuleFile(enabledIDs, *output);
    return result.ok();
  });
  return result;
}

foundation::Result<RuleCompilationReport> SharedAux::compileRuleFile(const std::set<std::string>& enabledIDs,
                                                                     const foundation::URL& output) {
  // One snapshot of the catalogue: the main thread may replace it during the compilation.
  auto catalogue = Singleton::shared().lists();
  auto buckets = RuleBuckets::open(output);
  if (!buckets) return buckets.error();
  auto report = bucketRules(selectCachedLists(enabledIDs, *catalogue), RuleWhitelist::make(enabledWhitelistDomains()),
                            *buckets);
  if (!report) return report.error();
  // Dropping the buckets unwritten removes their files: the rule file in force stays as it is.
  if (report->writtenRules > kMaximumRuleCount) return tooManyRulesError(*report);
  auto written = writeRuleFile(std::move(*buckets), output, foundation::Bundle::main()->url("blockerList", "json"));
  if (!written) return written.error();
  return report;
}

foundation::Result<RuleCompilationReport> SharedAux::joinJsons() { return joinJsons(Singleton::shared().extConfigIDs()); }

std::vector<std::string> SharedAux::enabledWhitelistDomains() const {
  std::vector<std::string> domains;
  for (const auto& element : Singleton::shared().whitelist()) {
    if (element.enabled) domains.push_back(element.url);
  }
  return domains;
}

std::vector<std::shared_ptr<ListElement>> SharedAux::listElements(const std::string& withID) const {
  std::vector<std::shared_ptr<ListElement>> matches;
  for (const auto& element : *Singleton::shared().lists()) {
    if (element->obj().objectId() == withID) matches.push_back(element);
  }
  return matches;
}

// ---------------------------------------------------------------------------------------------
// The catalogue refresh

void SharedAux::applyCloudConfig(tovel::CloudConfigSource source, Singleton& singleton,
                                 std::function<void(bool)> completion) {
  const bool remote = source == tovel::CloudConfigSource::Remote;
  auto config = singleton.cloudConfig();
  if (!config) return;
  auto raw = config->rawConfig();
  if (!raw || raw->empty()) return;
  // Both arrays must be valid before anything changes.
  const Array* apps = dictionaryArray((*raw)["apps"]);
  if (!apps) return;
  const Array* lists = dictionaryArray((*raw)["lists"]);
  if (!lists) return;
  auto base = config->baseUrl();

  singleton.setLists(sortedListElements(cloudObjects(*lists, CloudObject::Kind::List, base)));
  singleton.setApps(sortedApps(cloudObjects(*apps, CloudObject::Kind::App, base)));

  if (remote) {
    auto current = singleton.lists();
    if (singleton.launchCount() < 2 && !current->empty()) {
      const auto& first = current->front();
      // A list whose file is cached already starts no download, so nothing else would compile it
      // or show it enabled. A set that cannot be stored is not compiled. A download under way may
      // have stored the file by now (it is written off the main queue); its completion compiles it.
      if (changeEnabledSet(singleton, first->obj().objectId(), true) && !first->isDownloadInFlight() &&
          first->refreshCachedState()) {
        ListElement::compileService()->queueCompilation(Recompilation::IfChanged);
      }
    }
    SharedAux::shared().recompileIfWhitelistChanged();
  }
  dispatch::DispatchQueue::main()->async([completion = std::move(completion), remote] {
    if (completion) completion(remote);
  });
}

std::vector<CloudObject> SharedAux::cloudObjects(const foundation::Array& from, CloudObject::Kind kind,
                                                 const std::optional<foundation::URL>& baseUrl) {
  std::vector<CloudObject> objects;
  objects.reserve(from.size());
  for (const auto& element : from) {
    const auto* dictionary = element.dictionary();
    if (!dictionary) continue;
    if (auto object = CloudObject::make(kind, *dictionary, baseUrl)) objects.push_back(std::move(*object));
  }
  return objects;
}

std::vector<std::shared_ptr<ListElement>> SharedAux::sortedListElements(const std::vector<CloudObject>& objects) {
  std::vector<CloudObject> shown;
  std::copy_if(objects.begin(), objects.end(), std::back_inserter(shown), [](const auto& o) { return !o.debugOnly(); });
  std::stable_sort(shown.begin(), shown.end(), [](const auto& a, const auto& b) { return a.num() < b.num(); });
  std::vector<std::shared_ptr<ListElement>> elements;
  elements.reserve(shown.size());
  for (const auto& object : shown) {
    if (auto element = ListElement::make(object)) elements.push_back(std::move(element));
  }
  return elements;
}

std::vector<CloudObject> SharedAux::sortedApps(const std::vector<CloudObject>& objects) {
  std::vector<CloudObject> shown;
  std::copy_if(objects.begin(), objects.end(), std::back_inserter(shown), [](const auto& o) { return !o.debugOnly(); });
  std::stable_sort(shown.begin(), shown.end(), [](const auto& a, const auto& b) { return a.name() < b.name(); });
  return shown;
}

}  // namespace fendrel
