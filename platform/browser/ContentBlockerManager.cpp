#include "platform/browser/ContentBlockerManager.h"

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/browser/BrowserError.h"
#include "platform/browser/ContentRuleListStore.h"
#include "platform/browser/ExtensionRegistry.h"
#include "platform/browser/detail/BrowserFiles.h"
#include "platform/browser/detail/ExtensionHostProcess.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/DateFormatting.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"

namespace browser {

namespace {

// A plug-in that has not answered after this long is killed and the load counts as interrupted,
// as the phone's browser does with extensions that hang; generous, since a healthy answer takes
// milliseconds.
constexpr double kExtensionTimeLimitSeconds = 30.0;

/// What browser/control.json asks of one reload.
struct Injection {
  bool fail = false;
  double delaySeconds = 0;
  bool neverAnswer = false;
};

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

std::size_t ruleCount(std::string_view source) {
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(source);
  if (parsed && parsed->array()) return parsed->array()->size();
  return 0;
}

void logReload(const std::string& browserFolder, const std::string& identifier, const std::string& outcome) {
  std::string stamp = foundation::iso8601String(foundation::Date::now());
  (void)detail::appendLine(browserFolder + "/reload.log", stamp + " reload " + identifier + " " + outcome);
}

/// The reload itself, on the browser's thread; nullopt on success.
std::optional<foundation::Error> loadRules(const std::string& deviceRoot, const std::string& browserFolder,
                                           const std::string& identifier) {
  auto extension = ExtensionRegistry(browserFolder).lookup(identifier);
  if (!extension) return extension.error();
  auto answer = detail::runExtensionHost(*extension, deviceRoot, kExtensionTimeLimitSeconds);
  if (!answer) return answer.error();
  auto rules = foundation::FileManager::defaultManager().readFile(answer->attachmentPath);
  if (!rules) {
    return makeSFError(SFErrorCode::NoAttachmentFound,
                       "no attachment found: " + rules.error().localizedDescription());
  }
  auto compiled = ContentRuleListStore::compile(browserFolder + "/filters", identifier, rules->view());
  if (!compiled) return compiled.error();
  auto& files = foundation::FileManager::defaultManager();
  auto folder = files.createDirectory(browserFolder + "/applied", foundation::Intermediates::Yes);
  if (!folder) return folder.error();
  auto recorded = files.writeFileAtomically(browserFolder + "/applied/" + identifier + ".json", *rules);
  if (!recorded) return recorded.error();
  logReload(browserFolder, identifier,
            "ok rules=" + std::to_string(ruleCount(rules->view())) + " bytes=" + std::to_string(rules->size()));
  return std::nullopt;
}

void reloadOnBrowserThread(const std::string& deviceRoot, const std::string& browserFolder,
                           const std::string& identifier, double requestedAt,
                           const std::function<void(std::optional<foundation::Error>)>& completion) {
  auto injection = takeInjection(browserFolder);
  if (!injection) {
    completion(injection.error());
    return;
  }
  waitOnClock(requestedAt, injection->delaySeconds);
  if (injection->neverAnswer) {
    logReload(browserFolder, identifier, "left unanswered");
    return;
  }
  if (injection->fail) {
    logReload(browserFolder, identifier, "failed on request of control.json");
    completion(makeSFError(SFErrorCode::LoadingInterrupted, "loading interrupted: failure injected by control.json"));
    return;
  }
  std::optional<foundation::Error> error = loadRules(deviceRoot, browserFolder, identifier);
  if (error) logReload(browserFolder, identifier, "failed: " + error->localizedDescription());
  completion(std::move(error));
}

}  // namespace

void ContentBlockerManager::reloadContentBlocker(std::string identifier,
                                                 std::function<void(std::optional<foundation::Error>)> completion) {
  // The device root and the request time are taken on the caller's thread: the request is about
  // the device as it is now, and a delay counts from the request.
  std::string deviceRoot = foundation::DeviceRoot::path();
  std::string browserFolder = foundation::DeviceRoot::browserPath();
  double requestedAt = dispatch::Clock::current().uptime();
  std::thread([deviceRoot = std::move(deviceRoot), browserFolder = std::move(browserFolder),
               identifier = std::move(identifier), requestedAt, completion = std::move(completion)] {
    reloadOnBrowserThread(deviceRoot, browserFolder, identifier, requestedAt, completion);
  }).detach();
}

void ContentBlockerManager::getStateOfContentBlocker(
    std::string identifier,
    std::function<void(std::optional<bool> enabled, std::optional<foundation::Error> error)> completion) {
  std::string browserFolder = foundation::DeviceRoot::browserPath();
  std::thread([browserFolder = std::move(browserFolder), identifier = std::move(identifier),
               completion = std::move(completion)] {
    auto enabled = ExtensionRegistry(browserFolder).isEnabled(identifier);
    if (enabled) {
      completion(*enabled, std::nullopt);
    } else {
      completion(std::nullopt, enabled.error());
    }
  }).detach();
}

}  // namespace browser
