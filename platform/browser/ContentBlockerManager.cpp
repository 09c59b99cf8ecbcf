#include "platform/browser/ContentBlockerManager.h"

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/browser/BrowserError.h"
#include "platform/browser/ExtensionRegistry.h"
#include "platform/browser/detail/BrowserFiles.h"
#include "platform/browser/detail/ExtensionHostProcess.h"
#include "platform/browser/detail/RuleCompilerProcess.h"
#include "platform/dispatch/Thread.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/DateFormatting.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONArrayCount.h"
#include "platform/foundation/JSONSerialization.h"

namespace browser {

namespace {

// A plug-in that has not answered after this long is killed and the load counts as interrupted,
// as the phone's browser does with extensions that hang; generous, since a healthy answer takes
// milliseconds.
constexpr double kExtensionTimeLimitSeconds = 30.0;
// A compile that has not ended after this long is killed and the reload fails. WebKit compiles
// the largest rule file the browser takes in a few seconds; together with the extension's limit
// this stays below the two minutes an app waits for the browser, so the app hears the reason.
constexpr double kCompilerTimeLimitSeconds = 60.0;
// The most rules one content blocker may hand the browser (WebKit's own limit).
constexpr std::size_t kMaxRuleCount = 150000;

/// What browser/control.json asks of one reload.
struct Injection {
  bool fail = false;
  double delaySeconds = 0;
  bool neverAnswer = false;
  detail::CompilerFault compilerFault = detail::CompilerFault::None;
};

detail::CompilerFault compilerFaultNamed(const std::optional<std::string>& name) {
  if (name == "abort") return detail::CompilerFault::Abort;
  if (name == "hang") return detail::CompilerFault::Hang;
  return detail::CompilerFault::None;
}

/// Reads control.json and, while "failNextReloads" is positive, takes one failure from it, all
/// under the folder lock so that concurrent reloads take exactly N failures between them.
foundation::Result<Injection> takeInjection(const std::string& browserFolder) {
  detail::FolderLock lock(browserFolder);
  const std::string path = browserFolder + "/control.json";
  auto control = detail::readStateObject(path);
  if (!control) return control.error();
  Injection injection;
  double delay = (*control)["delaySeconds"].asDouble().value_or(0);
  injection.delaySeconds = std::isfinite(delay) && delay > 0 ? delay : 0;
  injection.neverAnswer = (*control)["neverAnswer"].asBool().value_or(false);
  injection.compilerFault = compilerFaultNamed((*control)["compilerFault"].asString());
  std::int64_t failures = (*control)["failNextReloads"].asInt64().value_or(0);
  if (failures > 0) {
    injection.fail = true;
    control->set("failNextReloads", failures - 1);
    auto written = detail::writeStateObject(path, *control);
    if (!written) return written.error();
  }
  return injection;
}

/// Blocks the browser's thread until `seconds` after `requestedAt` on the process clock, so that
/// a test's manual clock decides when a delayed answer comes.
void waitOnClock(double requestedAt, double seconds) {
  if (seconds <= 0) return;
  std::mutex mutex;
  std::condition_variable never;
  std::unique_lock lock(mutex);
  dispatch::Clock::current().waitUntil(never, lock, requestedAt + seconds, [] { return false; });
}

/// The number of rules of a rule file; none when it is not a JSON array (WebKit then says why).
std::optional<std::size_t> ruleCount(std::string_view source) { return foundation::countJSONArrayElements(source); }

/// A fingerprint of a rule file (its size and FNV-1a hash), to recognise a file the compiler ran
/// out of time on.
std::string fingerprint(std::string_view rules) {
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : rules) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return std::to_string(rules.size()) + ":" + std::to_string(hash);
}

/// Where the fingerprint of the last rule file of `identifier` that the compiler ran out of time on
/// is kept. Compiling the same file again would only take as long again (and WebKit's compiler
/// needs up to gigabytes meanwhile), so such a file is refused at once until it changes.
std::string timedOutRecordPath(const std::string& browserFolder, const std::string& identifier) {
  return browserFolder + "/timed-out-" + identifier;
}

void logReload(const std::string& browserFolder, const std::string& identifier, const std::string& outcome) {
  std::string stamp = foundation::iso8601String(foundation::Date::now());
  (void)detail::appendLine(browserFolder + "/reload.log", stamp + " reload " + identifier + " " + outcome);
}

/// The reload itself, on the browser's thread; nullopt on success. The rule file is copied into
/// a compile folder of the browser's own, compiled there by the compiler process and, once WebKit
/// accepted it, moved into browser/applied/ with one rename: the record is exactly what was
/// compiled, and a refused or failed compile leaves the earlier list and record in place.
std::optional<foundation::Error> loadRules(const std::string& deviceRoot, const std::string& browserFolder,
                                           const std::string& identifier, detail::CompilerFault fault) {
  auto extension = ExtensionRegistry(browserFolder).lookup(identifier);
  if (!extension) return extension.error();
  auto answer = detail::runExtensionHost(*extension, deviceRoot, kExtensionTimeLimitSeconds);
  if (!answer) return answer.error();
  auto& files = foundation::FileManager::defaultManager();
  auto rules = files.readFile(answer->attachmentPath);
  if (!rules) {
    return makeSFError(SFErrorCode::NoAttachmentFound,
                       "no attachment found: " + rules.error().localizedDescription());
  }
  std::optional<std::size_t> count = ruleCount(rules->view());
  if (count && *count > kMaxRuleCount) {
    // Refused before WebKit is asked, with the domain, code and words of WebKit's own refusal of
    // such a file, and the numbers it leaves out.
    return foundation::Error::withDescription(
        "WebKitUserContentFilterError", 0,
        "Too many rules in JSON array. The rule file has " + std::to_string(*count) +
            " rules; the browser takes at most " + std::to_string(kMaxRuleCount) + ".");
  }

  const std::string timedOutRecord = timedOutRecordPath(browserFolder, identifier);
  const std::string print = fingerprint(rules->view());
  if (auto record = files.readFile(timedOutRecord); record && record->view() == print) {
    return makeSFError(SFErrorCode::LoadingInterrupted,
                       "the browser's compiler did not finish within " +
                           std::to_string(static_cast<long long>(kCompilerTimeLimitSeconds)) +
                           " seconds on this same rule file before; it is not compiled again");
  }

  auto folder = detail::CompileFolder::create(browserFolder);
  if (!folder) return folder.error();
  const std::string source = folder->path() + "/rules.json";
  auto copied = files.writeFileAtomically(source, *rules);
  if (!copied) return copied.error();
  // One compile at a time into the store, across processes: WebKit's store does not take two
  // saves of one identifier at once, and the applied record must be the list the store holds.
  detail::FolderLock storeLock(browserFolder + "/filters");
  bool timedOut = false;
  auto compiled = detail::runRuleCompiler(*folder, browserFolder + "/filters", identifier, source, fault,
                                          kCompilerTimeLimitSeconds, &timedOut);
  if (timedOut) (void)files.writeFileAtomically(timedOutRecord, std::string_view(print));
  if (!compiled) return compiled.error();
  auto applied = files.createDirectory(browserFolder + "/applied", foundation::Intermediates::Yes);
  if (!applied) return applied.error();
  auto recorded = files.replaceItem(browserFolder + "/applied/" + identifier + ".json", source);
  if (!recorded) return recorded.error();
  logReload(browserFolder, identifier,
            "ok rules=" + std::to_string(count.value_or(0)) + " bytes=" + std::to_string(rules->size()));
  return std::nullopt;
}

/// Runs on the browser's own thread. A caller that gave no completion gets the reload done and
/// hears nothing.
void reloadOnBrowserThread(const std::string& deviceRoot, const std::string& browserFolder,
                           const std::string& identifier, double requestedAt,
                           const std::function<void(std::optional<foundation::Error>)>& completion) {
  auto answer = [&](std::optional<foundation::Error> error) {
    if (completion) completion(std::move(error));
  };
  auto injection = takeInjection(browserFolder);
  if (!injection) {
    answer(injection.error());
    return;
  }
  waitOnClock(requestedAt, injection->delaySeconds);
  if (injection->neverAnswer) {
    logReload(browserFolder, identifier, "left unanswered");
    return;
  }
  if (injection->fail) {
    logReload(browserFolder, identifier, "failed on request of control.json");
    answer(makeSFError(SFErrorCode::LoadingInterrupted, "loading interrupted: failure injected by control.json"));
    return;
  }
  std::optional<foundation::Error> error = loadRules(deviceRoot, browserFolder, identifier, injection->compilerFault);
  if (error) logReload(browserFolder, identifier, "failed: " + error->localizedDescription());
  answer(std::move(error));
}

}  // namespace

void ContentBlockerManager::reloadContentBlocker(std::string identifier,
                                                 std::function<void(std::optional<foundation::Error>)> completion) {
  // The device root and the request time are taken on the caller's thread: the request is about
  // the device as it is now, and a delay counts from the request.
  std::string deviceRoot = foundation::DeviceRoot::path();
  std::string browserFolder = foundation::DeviceRoot::browserPath();
  double requestedAt = dispatch::Clock::current().uptime();
  dispatch::startThread("browser-reload", [deviceRoot = std::move(deviceRoot), browserFolder = std::move(browserFolder),
                                         identifier = std::move(identifier), requestedAt,
                                         completion = std::move(completion)] {
    reloadOnBrowserThread(deviceRoot, browserFolder, identifier, requestedAt, completion);
  }).detach();
}

void ContentBlockerManager::getStateOfContentBlocker(
    std::string identifier,
    std::function<void(std::optional<bool> enabled, std::optional<foundation::Error> error)> completion) {
  std::string browserFolder = foundation::DeviceRoot::browserPath();
  dispatch::startThread("browser-state", [browserFolder = std::move(browserFolder), identifier = std::move(identifier),
                                        completion = std::move(completion)] {
    auto enabled = ExtensionRegistry(browserFolder).isEnabled(identifier);
    if (!completion) return;  // a caller that gave no completion hears nothing
    if (enabled) {
      completion(*enabled, std::nullopt);
    } else {
      completion(std::nullopt, enabled.error());
    }
  }).detach();
}

}  // namespace browser
