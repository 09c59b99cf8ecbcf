#include "app/cli/AppSession.h"

#include <chrono>
#include <cstdlib>

#include "TovelCommon/Pinvale.h"
#include "app/cli/DeviceSetup.h"
#include "app/cli/EventLog.h"
#include "app/cli/ObservedAnalytics.h"
#include "app/cli/PrintingListCell.h"
#include "app/core/ListElement.h"
#include "app/core/SharedAux.h"
#include "app/core/Singleton.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiSDK.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/URLSession.h"
#include "platform/foundation/UserDefaults.h"

namespace fendrel::cli {
namespace {

constexpr const char* kConfigFailureEvents[] = {"errCloudConfigDownload", "errCloudConfigJSON",
                                                "errCloudConfigJSONErrorKey"};

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string reloadLogPath() { return foundation::DeviceRoot::browserPath() + "/reload.log"; }

/// The outcome text of a reload record line "<time> reload <id> <outcome>" of our extension.
std::optional<std::string> reloadOutcome(const std::string& line) {
  const std::string marker = std::string(" reload ") + SharedAux::kExtensionIdentifier + " ";
  const auto at = line.find(marker);
  if (at == std::string::npos) return std::nullopt;
  return line.substr(at + marker.size());
}

}  // namespace

std::atomic<bool> AppSession::interrupted{false};

AppSession::AppSession(double timeoutSeconds)
    : timeoutSeconds_(timeoutSeconds), deadline_(steadySeconds() + timeoutSeconds) {}

AppSession::~AppSession() {
  auto& center = foundation::NotificationCenter::defaultCenter();
  if (busyOnToken_) center.removeObserver(busyOnToken_);
  if (busyOffToken_) center.removeObserver(busyOffToken_);
}

foundation::Result<void> AppSession::launch() {
  auto prepared = prepareDevice();
  if (!prepared) return prepared.error();
  (void)reloadLinesFrom(0, &printedReloadOffset_);
  startUp();
  loadMainScreen();
  appear();
  return {};
}

void AppSession::startUp() {
  foundation::Bundle::setMainBundleName(kAppBundleName);
  Singleton& singleton = Singleton::shared();

  // The app's own analytics front end, exactly as the app state makes it, with the command line
  // listening in; it must be in place before anything logs.
  tovel::Pinvale pinvale(Singleton::kPinvaleToken, std::nullopt, foundation::URLSession::shared());
  analytics_ = std::make_shared<ObservedAnalytics>(tovel::Analytics::create(pinvale, singleton.weak_from_this()));
  singleton.setAnalyticsForTesting(analytics_);

  foundation::Dictionary options;
  if (const char* dsn = std::getenv("FENDREL_DSN"); dsn && *dsn) options.set("dsn", dsn);
  DozidiSDK::startWithOptions(options);

  const std::int64_t launches = singleton.launchCount();
  singleton.userDefs()->setInteger("launchCount", launches + 1);
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
  Singleton::shared().cloudConfig()->addRefreshCallback(
      [this](tovel::CloudConfigSource source) { refresh(source); });
}

void AppSession::refresh(tovel::CloudConfigSource source) {
  const bool remote = source == tovel::CloudConfigSource::Remote;
  EventLog::shared().event("configuration", {{"source", remote ? "remote" : "local"}});
  SharedAux::applyCloudConfig(remote, Singleton::shared(), [](bool fromRemote) {
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
}

void AppSession::appear() { SharedAux::shared().recompileIfWhitelistChanged(); }

bool AppSession::configurationSettled() const {
  if (remoteApplied_) return true;
  auto config = std::dynamic_pointer_cast<tovel::CloudConfig>(Singleton::shared().cloudConfig());
  const std::size_t hosts = config ? config->configURLs().size() : 0;
  std::size_t failures = 0;
  for (const char* event : kConfigFailureEvents) failures += analytics_->count(event);
  return failures - configFailuresAtLaunch_ >= hosts;
}

bool AppSession::isQuiet() const {
  if (!configurationSettled()) return false;
  for (const auto& cell : cells_) {
    if (!cell->isSettled()) return false;
  }
  return !busy_ && SharedAux::shared().compileQueue()->operationCount() == 0;
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

std::vector<std::string> AppSession::reloadLinesFrom(std::size_t offset, std::size_t* end) const {
  std::vector<std::string> lines;
  *end = offset;
  auto data = foundation::FileManager::defaultManager().readFile(reloadLogPath());
  if (!data || data->size() < offset) return lines;
  std::string_view text = data->view().substr(offset);
  // A line still being written has no line break yet; it is read next time.
  std::size_t start = 0;
  for (std::size_t newline = text.find('\n'); newline != std::string_view::npos; newline = text.find('\n', start)) {
    lines.emplace_back(text.substr(start, newline - start));
    start = newline + 1;
  }
  *end = offset + start;
  return lines;
}

void AppSession::printNewReloads() {
  for (const std::string& line : reloadLinesFrom(printedReloadOffset_, &printedReloadOffset_)) {
    auto outcome = reloadOutcome(line);
    if (!outcome) continue;
    EventLog::shared().event("reload", {{"ok", outcome->starts_with("ok")}, {"outcome", *outcome}});
  }
}

AppSession::CompileMark AppSession::compileMark() const {
  CompileMark mark;
  if (analytics_) {
    mark.joinFailures = analytics_->count("errJoinJsons");
    mark.reloadFailures = analytics_->count("errRecompileSafari");
  }
  (void)reloadLinesFrom(0, &mark.reloadLogOffset);
  return mark;
}

AppSession::CompileOutcome AppSession::compileOutcomeSince(const CompileMark& mark) const {
  CompileOutcome outcome;
  std::size_t end = 0;
  std::optional<std::string> last;
  for (const std::string& line : reloadLinesFrom(mark.reloadLogOffset, &end)) {
    if (auto text = reloadOutcome(line)) {
      ++outcome.reloads;
      last = *text;
    }
  }
  if (!analytics_) return outcome;
  if (analytics_->count("errJoinJsons") > mark.joinFailures) {
    outcome.ok = false;
    outcome.detail = "the rule file could not be compiled";
    return outcome;
  }
  if (last) {
    outcome.ok = last->starts_with("ok");
    outcome.detail = *last;
  } else if (analytics_->count("errRecompileSafari") > mark.reloadFailures) {
    outcome.ok = false;
    outcome.detail = "the browser did not answer";
  }
  return outcome;
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
