#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>

#include "app/cli/Commands.h"
#include "app/cli/DemoServer.h"
#include "app/cli/DeviceSetup.h"
#include "app/cli/EventLog.h"
#include "app/cli/ObservedAnalytics.h"
#include "app/core/ListElement.h"
#include "app/core/SharedAux.h"
#include "app/core/Singleton.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Value.h"

namespace fendrel::cli {
namespace {

/// The site the demo whitelists: the news site that some demo rules name in "if-domain".
constexpr const char* kDemoSite = "news.example.com";
/// How long the summary waits for analytics requests still on their way to the demo sink.
constexpr double kAnalyticsGraceSeconds = 3;

void say(const std::string& text) { EventLog::shared().text(text); }

/// A fresh device root under the temporary folder; empty when none could be made.
std::string makeTemporaryDeviceRoot() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fendrel-demo-XXXXXX";
  if (!::mkdtemp(pattern.data())) return {};
  return pattern;
}

/// The demo's steps after the launch; the exit status of the first that fails, else success.
int runSteps(AppSession& session) {
  const auto ids = session.listIdentifiers();
  if (ids.size() < 2) return runtimeError("cannot enable a second list: the catalogue has " + std::to_string(ids.size()));

  say("== Enable the second list, '" + ids[1] + "'");
  auto mark = session.compileMark();
  if (auto enabled = session.listElement(ids[1])->setEnabled(true); !enabled) {
    return runtimeError("cannot enable list '" + ids[1] + "': " + enabled.error().localizedDescription());
  }
  if (int status = settleAndJudge(session, mark, "enable list '" + ids[1] + "'")) return status;

  say(std::string("== Whitelist ") + kDemoSite);
  mark = session.compileMark();
  if (auto added = Singleton::shared().addWhitelistElement(kDemoSite, true); !added) {
    return runtimeError(std::string("cannot whitelist ") + kDemoSite + ": " + added.error().localizedDescription());
  }
  session.appear();
  if (int status = settleAndJudge(session, mark, std::string("whitelist add '") + kDemoSite + "'")) return status;

  say("== Compile");
  mark = session.compileMark();
  SharedAux::shared().compileQueue()->addOperationWithBlock(
      [] { SharedAux::shared().recompileSafari(Recompilation::Always); });
  return settleAndJudge(session, mark, "compile");
}

std::string rulesSummary(const std::string& outputPath) {
  auto data = foundation::FileManager::defaultManager().readFile(outputPath);
  if (!data) return "cannot read it: " + data.error().localizedDescription();
  auto json = foundation::JSONSerialization::JSONObjectWithData(data->view());
  if (!json || !json->array()) return "not a JSON array of rules";
  std::map<std::string, std::size_t> perType;
  for (const foundation::Value& rule : *json->array()) {
    ++perType[rule["action"]["type"].asString().value_or("(no type)")];
  }
  std::string text = std::to_string(json->array()->size()) + " rules:";
  for (const char* type : {"block", "css-display-none", "ignore-previous-rules"}) {
    text += std::string(" ") + type + " " + std::to_string(perType[type]) + ",";
    perType.erase(type);
  }
  for (const auto& [type, count] : perType) text += " " + type + " " + std::to_string(count) + ",";
  text.pop_back();
  return text;
}

void printSummary(const DemoServer& server, const AppSession::CompileOutcome& outcome) {
  auto output = SharedAux::appGroupFileURL("output.json");
  const std::string outputPath = output ? output->path() : std::string();
  Singleton& singleton = Singleton::shared();
  std::string enabled;
  for (const std::string& name : singleton.listNames(singleton.extConfigIDs())) enabled += (enabled.empty() ? "" : ", ") + name;
  auto events = server.receivedEvents();
  std::string received;
  for (const std::string& event : events) received += (received.empty() ? "" : ", ") + event;

  say("");
  say("Summary");
  say("  device root:      " + foundation::DeviceRoot::path());
  say("  enabled lists:    " + (enabled.empty() ? std::string("none") : enabled));
  say("  output.json:      " + (outputPath.empty() ? std::string("(no app-group container)") : outputPath));
  say("  compiled rules:   " + (outputPath.empty() ? std::string("none") : rulesSummary(outputPath)));
  say("  browser verdict:  " + (outcome.detail.empty() ? std::string("no reload was needed")
                                                        : (outcome.ok ? "reload " : "reload failed: ") + outcome.detail));
  say("  analytics events: " + std::to_string(events.size()) + " received by the demo sink" +
      (received.empty() ? std::string() : " (" + received + ")"));
}

}  // namespace

int runDemo(const Invocation& invocation) {
  if (!invocation.device) {
    const std::string root = makeTemporaryDeviceRoot();
    if (root.empty()) return runtimeError("cannot make a temporary device root");
    ::setenv("FENDREL_DEVICE_ROOT", root.c_str(), 1);
  }
  auto server = DemoServer::bind(resourcesFolder() + "/demo");
  if (!server) return runtimeError(server.error().localizedDescription());
  // Set before the app reads them (once per process), and before the server's thread runs.
  ::setenv("FENDREL_CONFIG_BASES", (*server)->baseURL().c_str(), 1);
  ::setenv("FENDREL_NO_SHUFFLE", "1", 1);
  ::setenv("FENDREL_ANALYTICS_ENDPOINT", (*server)->trackURL().c_str(), 1);
  (*server)->serve();

  say("Demo configuration served at " + (*server)->baseURL() + Singleton::kConfigPath);
  say("Device root " + foundation::DeviceRoot::path());
  say("== Launch");
  AppSession session(invocation.timeoutSeconds);
  const auto start = session.compileMark();
  int status = kExitSuccess;
  auto launched = session.launch();
  if (!launched) {
    return runtimeError("cannot prepare the device root: " + launched.error().localizedDescription());
  }
  if (auto failed = settle(session)) {
    status = *failed;
  } else if (auto outcome = session.compileOutcomeSince(start); !outcome.ok) {
    status = runtimeError("cannot compile the first list: " + outcome.detail);
  } else {
    status = runSteps(session);
  }

  // Give the analytics requests still on their way a moment to reach the sink.
  const std::size_t expected = session.analytics().loggedWhileEnabled();
  dispatch::runMainLoopUntil([&] { return (*server)->receivedEvents().size() >= expected; }, kAnalyticsGraceSeconds);
  printSummary(**server, session.compileOutcomeSince(start));
  return status;
}

int runDemoServer(const Invocation&) {
  auto server = DemoServer::bind(resourcesFolder() + "/demo");
  if (!server) return runtimeError(server.error().localizedDescription());
  (*server)->serve();
  const std::string base = (*server)->baseURL();
  // The base URL alone on standard output, for scripts; how to use it on standard error.
  say(base);
  EventLog::shared().diagnostic("Serving the demo configuration at " + base + Singleton::kConfigPath +
                                ", its lists and icons until interrupted. Start the app against it with:\n"
                                "  FENDREL_CONFIG_BASES=" + base + " FENDREL_NO_SHUFFLE=1 FENDREL_ANALYTICS_ENDPOINT=" +
                                (*server)->trackURL() + " fendrel-app");
  dispatch::runMainLoopUntil([] { return AppSession::interrupted.load(); }, dispatch::kForever);
  EventLog::shared().diagnostic(std::string(kProgram) + ": interrupted");
  return kExitInterrupted;
}

}  // namespace fendrel::cli
