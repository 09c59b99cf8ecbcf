#include "app/cli/AppSession.h"

#include <chrono>
#include <cstdlib>
#include <set>

#include "app/cli/CommandLine.h"
#include "app/cli/DeviceSetup.h"
#include "app/cli/EventLog.h"
#include "app/cli/ObservedAnalytics.h"
#include "app/cli/PrintingListCell.h"
#include "app/core/CrashReporting.h"
#include "app/core/ListElement.h"
#include "app/core/SettingsKeys.h"
#include "app/core/SharedAux.h"
#include "app/core/Singleton.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONArrayCount.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/ShutdownWork.h"
#include "platform/foundation/UserDefaults.h"

namespace fendrel::cli {
namespace {

constexpr const char* kConfigFailureEvents[] = {"errCloudConfigDownload", "errCloudConfigJSON",
                                                "errCloudConfigJSONErrorKey"};

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

/// The browser's summary of the rules it last applied for our extension ("ok rules=3 bytes=420"),
/// read from the copy it keeps; plain "ok" when that cannot be read.
std::string appliedRulesSummary() {
  const std::string path =
      foundation::DeviceRoot::browserPath() + "/applied/" + SharedAux::kExtensionIdentifier + ".json";
  auto data = foundation::FileManager::defaultManager().readFile(path);
  if (!data) return "ok";
  const std::size_t count = foundation::countJSONArrayElements(data->view()).value_or(0);
  return "ok rules=" + std::to_string(count) + " bytes=" + std::to_string(data->size());
}

/// The text of a compilation outcome for event lines and messages.
std::string outcomeText(const CompilationOutcome& outcome) {
  if (outcome.joinJsonsError) {
    return "the rule file could not be compiled: " + outcome.joinJsonsError->localizedDescription();
  }
  if (outcome.reloadError) return outcome.reloadError->localizedDescription();
  return appliedRulesSummary();
}

}  // namespace

std::atomic<bool> AppSession::interrupted{false};

AppSession::AppSession(double timeoutSeconds)
    : timeoutSeconds_(timeoutSeconds), deadline_(steadySeconds() + timeoutSeconds) {}

AppSession::~AppSession() {
  fendrel::finishLaunchTransaction();
  link_.reset();
  SharedAux::shared().setCompilationObserver(nullptr);
  auto& center = foundation::NotificationCenter::defaultCenter();
  if (busyOnToken_) center.removeObserver(busyOnToken_);
  if (busyOffToken_) center.removeObserver(busyOffToken_);
}

foundation::Result<void> AppSession::launch() {
  auto prepared = prepareDevice();
  if (!prepared) return prepared.error();
  // The observer only records; the main thread prints and judges what it recorded.
  SharedAux::shared().setCompilationObserver([outcomes = outcomes_](const CompilationOutcome& outcome) {
    RecordedOutcome recorded{outcome, outcomeText(outcome)};
    std::lock_guard lock(outcomes->mutex);
    outcomes->list.push_back(std::move(recorded));
  });
  startUp();
  loadMainScreen();
  appear();
  compileStoredEnabledSet();
  return {};
}

void AppSession::startCrashReporter() {
  // The app's own address, or FENDREL_DSN's; an empty FENDREL_DSN leaves the reporter off.
  if (!fendrel::startCrashReporter()) return;
  fendrel::startReporterSession();
  fendrel::startLaunchTransaction();
}

void AppSession::startUp() {
  foundation::Bundle::setMainBundleName(kAppBundleName);
  removeAbandonedWrites();
  Singleton& singleton = Singleton::shared();

  // The app's own analytics front end with the command line listening in; it must be in place
  // before anything logs.
  singleton.setAnalyticsWrapper([](std::shared_ptr<tovel::AnalyticsTracker> made) {
    return std::make_shared<ObservedAnalytics>(std::move(made));
  });
  analytics_ = std::dynamic_pointer_cast<ObservedAnalytics>(singleton.analytics());
  // A front end made before the wrapper (nothing in this program does so) is listened to from the
  // outside only.
  if (!analytics_) analytics_ = std::make_shared<ObservedAnalytics>(singleton.analytics());

  startCrashReporter();

  (void)singleton.launchCount();
  // The app runs on without a place to keep its count; the user hears of it once.
  if (auto counted = singleton.countLaunch(); !counted) {
    EventLog::shared().diagnostic(std::string(kProgram) +
                                  ": warning: cannot store the launch count: " + counted.error().localizedDescription());
  }
}

void AppSession::loadMainScreen() {
  auto& center = foundation::NotificationCenter::defaultCenter();
  busyOnToken_ = center.addObserver("busyOn", nullptr, [this](const foundation::Notification&) {
    busy_ = true;
    printNewReloads();
    EventLog::shared().event("busyOn", {});
  });
  busyOffToken_ = center.addObserver("busyOff", nullptr, [this](const foundation::Notification&) {
    busy_ = false;
    printNewReloads();
    EventLog::shared().event("busyOff", {});
  });

  for (const char* event : kConfigFailureEvents) configFailuresAtLaunch_ += analytics_->count(event);
  // The configuration lives for the whole process and keeps its callbacks: the callback reaches
  // the session only while it lives.
  Singleton::shared().cloudConfig()->addRefreshCallback([link = std::weak_ptr<Link>(link_)](tovel::CloudConfigSource source) {
    if (auto alive = link.lock()) alive->session->refresh(source);
  });
}

void AppSession::refresh(tovel::CloudConfigSource source) {
  const bool remote = source == tovel::CloudConfigSource::Remote;
  EventLog::shared().event("configuration", {{"source", remote ? "remote" : "local"}});
  SharedAux::applyCloudConfig(source, Singleton::shared(), [](bool fromRemote) {
    Singleton& singleton = Singleton::shared();
    EventLog::shared().event("catalogue", {{"source", fromRemote ? "remote" : "local"},
                                           {"lists", singleton.lists()->size()},
                                           {"apps", singleton.apps()->size()}});
  });
  attachCells();
  if (remote) remoteApplied_ = true;
}

void AppSession::attachCells() {
  std::vector<std::shared_ptr<PrintingListCell>> cells;
  for (const auto& element : *Singleton::shared().lists()) {
    auto current = std::dynamic_pointer_cast<PrintingListCell>(element->cellDelegate());
    cells.push_back(current ? current : PrintingListCell::attach(element));
  }
  cells_ = std::move(cells);
  firstUnsettledCell_ = 0;
}

void AppSession::appear() { SharedAux::shared().recompileIfWhitelistChanged(); }

void AppSession::compileStoredEnabledSet() { SharedAux::shared().recompileIfEnabledSetChanged(); }

bool AppSession::configurationSettled() const {
  if (remoteApplied_) return true;
  auto config = std::dynamic_pointer_cast<tovel::CloudConfig>(Singleton::shared().cloudConfig());
  const std::size_t hosts = config ? config->configURLs().size() : 0;
  std::size_t failures = 0;
  for (const char* event : kConfigFailureEvents) failures += analytics_->count(event);
  return failures - configFailuresAtLaunch_ >= hosts;
}

bool AppSession::cellsSettled(bool enabledOnly) const {
  std::set<std::string> enabled;
  if (enabledOnly) enabled = Singleton::shared().extConfigIDs();
  auto settled = [&](std::size_t at) {
    if (cells_[at]->isSettled()) return true;
    if (!enabledOnly) return false;
    auto element = cells_[at]->element();
    return !element || !enabled.contains(element->obj().objectId());
  };
  if (enabledOnly) {
    for (std::size_t at = 0; at < cells_.size(); ++at) {
      if (!settled(at)) return false;
    }
    return true;
  }
  // With thousands of lists a scan of every cell after every block of the main loop took minutes.
  for (std::size_t at = std::min(firstUnsettledCell_, cells_.size()); at < cells_.size(); ++at) {
    if (settled(at)) continue;
    firstUnsettledCell_ = at;
    return false;
  }
  for (std::size_t at = 0; at < cells_.size(); ++at) {
    if (settled(at)) continue;
    firstUnsettledCell_ = at;
    return false;
  }
  return true;
}

bool AppSession::isQuiet() const {
  if (!configurationSettled()) return false;
  if (!cellsSettled(false)) return false;
  return !busy_ && SharedAux::shared().compileQueue()->operationCount() == 0;
}

bool AppSession::quietButForOtherDownloads() const {
  return configurationSettled() && cellsSettled(true) && !busy_ &&
         SharedAux::shared().compileQueue()->operationCount() == 0;
}

std::size_t AppSession::listsStillDownloading() const {
  std::size_t count = 0;
  for (const auto& cell : cells_) count += cell->isSettled() ? 0 : 1;
  return count;
}

AppSession::Wait AppSession::runUntilQuiet() {
  while (true) {
    const double left = deadline_ - steadySeconds();
    if (left <= 0) return Wait::TimedOut;
    const bool done = dispatch::runMainLoopUntil([this] { return interrupted.load() || isQuiet(); }, left);
    if (interrupted.load()) return Wait::Interrupted;
    if (!done) return Wait::TimedOut;
    // What the last blocks queued (a busy notification, a catalogue completion) runs before the
    // app counts as quiet.
    if (dispatch::drainMainQueue() == 0 && isQuiet()) break;
  }
  printNewReloads();
  return Wait::Quiet;
}

std::vector<AppSession::RecordedOutcome> AppSession::outcomesFrom(std::size_t from) const {
  std::lock_guard lock(outcomes_->mutex);
  if (from >= outcomes_->list.size()) return {};
  return {outcomes_->list.begin() + static_cast<std::ptrdiff_t>(from), outcomes_->list.end()};
}

void AppSession::printNewReloads() {
  auto recorded = outcomesFrom(printedOutcomes_);
  printedOutcomes_ += recorded.size();
  for (const auto& [outcome, text] : recorded) {
    // A compiler failure asked for no reload; the analytics observer writes its own line for it.
    if (outcome.joinJsonsError) continue;
    // Only a list's first attempt reports what it left out; a retry compiled the same lists.
    for (const auto& left : outcome.attempt == 0 ? outcome.rules.leftOut : std::vector<LeftOutRules>{}) {
      foundation::Dictionary reasons;
      for (std::size_t fault = 0; fault < kRuleFaultCount; ++fault) {
        if (left.byFault[fault] == 0) continue;
        reasons.set(std::string(describe(static_cast<RuleFault>(fault))), left.byFault[fault]);
      }
      EventLog::shared().event("rulesLeftOut", {{"list", left.listID},
                                                {"name", left.listName},
                                                {"count", left.total()},
                                                {"reasons", std::move(reasons)}});
    }
    EventLog::shared().event("reload", {{"ok", outcome.succeeded()},
                                        {"outcome", text},
                                        {"attempt", outcome.attempt},
                                        {"force", outcome.force},
                                        {"retryScheduled", outcome.retryScheduled}});
  }
}

AppSession::CompileMark AppSession::compileMark() const {
  std::lock_guard lock(outcomes_->mutex);
  return {outcomes_->list.size()};
}

AppSession::CompileOutcome AppSession::compileOutcomeSince(const CompileMark& mark) const {
  CompileOutcome result;
  const auto recorded = outcomesFrom(mark.outcomes);
  for (const auto& [outcome, text] : recorded) {
    if (!outcome.joinJsonsError) ++result.reloads;
  }
  // A compiler failure anywhere in the stretch fails it: its change never reached the browser.
  for (const auto& [outcome, text] : recorded) {
    if (!outcome.joinJsonsError) continue;
    result.ok = false;
    result.detail = text;
    result.refusedForGood = outcome.refusedForGood();
    return result;
  }
  if (!recorded.empty()) {
    result.ok = recorded.back().outcome.succeeded();
    result.detail = recorded.back().text;
    result.refusedForGood = recorded.back().outcome.refusedForGood();
  }
  return result;
}

std::shared_ptr<ListElement> AppSession::listElement(const std::string& id) const {
  for (const auto& element : *Singleton::shared().lists()) {
    if (element->obj().objectId() == id) return element;
  }
  return nullptr;
}

std::vector<std::string> AppSession::listIdentifiers() const {
  std::vector<std::string> ids;
  for (const auto& element : *Singleton::shared().lists()) ids.push_back(element->obj().objectId());
  return ids;
}

std::optional<tovel::CloudConfigSource> AppSession::configurationSource() const {
  auto config = std::dynamic_pointer_cast<tovel::CloudConfig>(Singleton::shared().cloudConfig());
  return config ? config->lastSource() : std::nullopt;
}

}  // namespace fendrel::cli
