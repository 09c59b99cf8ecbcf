#include "app/cli/Commands.h"

#include "app/cli/EventLog.h"
#include "app/core/ListElement.h"
#include "app/core/Singleton.h"

namespace fendrel::cli {

namespace {

constexpr Command kCommands[] = {
    {"launch", CommandArguments::None,
     "  launch                 start the app and wait until it is quiet (configuration answered,\n"
     "                         lists downloaded, compilation and reload answered)\n",
     runLaunch},
    {"lists", CommandArguments::None, "  lists                  print the catalogue's filter lists with their states\n",
     runLists},
    {"enable", CommandArguments::ListID, "  enable ID              enable the filter list ID and compile\n",
     [](const Invocation& invocation) { return runEnable(invocation, true); }},
    {"disable", CommandArguments::ListID, "  disable ID             disable the filter list ID and compile\n",
     [](const Invocation& invocation) { return runEnable(invocation, false); }},
    {"whitelist", CommandArguments::WhitelistAction,
     "  whitelist list         print the whitelist with each entry's position\n"
     "  whitelist add SITE     whitelist SITE and compile\n"
     "  whitelist remove N     remove the whitelist entry at position N and compile\n"
     "  whitelist enable N     enable the whitelist entry at position N and compile\n"
     "  whitelist disable N    disable the whitelist entry at position N and compile\n",
     runWhitelist},
    {"compile", CommandArguments::None,
     "  compile [--force]      compile the enabled lists and the whitelist and reload the extension\n", runCompile},
    {"state", CommandArguments::None, "  state                  print the app's settings as JSON\n", runState},
    {"demo", CommandArguments::None,
     "  demo                   serve a demo configuration and three demo lists on loopback, then\n"
     "                         launch, enable a second list, whitelist a site, compile and summarise\n",
     runDemo},
    {"demo-server", CommandArguments::None,
     "  demo-server            serve the demo configuration, its lists and their icons on loopback\n"
     "                         until interrupted; prints the base URL for FENDREL_CONFIG_BASES\n",
     runDemoServer},
};

}  // namespace

std::span<const Command> commandTable() { return kCommands; }

int runtimeError(const std::string& message) {
  EventLog::shared().diagnostic(std::string(kProgram) + ": error: " + message);
  return kExitFailure;
}

std::optional<int> settle(AppSession& session) {
  switch (session.runUntilQuiet()) {
    case AppSession::Wait::Quiet:
      return std::nullopt;
    case AppSession::Wait::Interrupted:
      EventLog::shared().diagnostic(std::string(kProgram) + ": interrupted");
      return kExitInterrupted;
    case AppSession::Wait::TimedOut:
      break;
  }
  EventLog::shared().diagnostic(std::string(kProgram) + ": error: the app did not become quiet within " +
                                EventLog::jsonText(session.timeoutSeconds()) +
                                " seconds (try a longer --timeout)");
  return kExitTimeout;
}

std::optional<int> launchAndSettle(AppSession& session) {
  auto launched = session.launch();
  if (!launched) {
    return runtimeError("cannot prepare the device root: " + launched.error().localizedDescription());
  }
  return settle(session);
}

int settleAndJudge(AppSession& session, const AppSession::CompileMark& mark, const std::string& what,
                   const UndoChange& undo) {
  if (auto status = settle(session)) return *status;
  auto outcome = session.compileOutcomeSince(mark);
  if (outcome.ok) return kExitSuccess;
  std::string message = "cannot " + what + ": " + outcome.detail;
  if (undo && outcome.refusedForGood) {
    auto undone = undo();
    message += undone ? "; the change is undone and the earlier rules stay in force"
                      : "; the change could not be undone: " + undone.error().localizedDescription();
  } else if (undo) {
    message += "; the change is kept and waits to be applied (the next start of the app tries again)";
  }
  return runtimeError(message);
}

int requireEnabledListFiles(const AppSession& session, const std::string& what) {
  // A compilation leaves out an enabled list without a file; the browser then has none of its
  // rules, which must not pass for success.
  std::string missing;
  for (const auto& id : Singleton::shared().extConfigIDs()) {
    auto element = session.listElement(id);
    std::string reason;
    if (!element) {
      reason = "not in the catalogue";
    } else if (element->obj().existingAttachmentURL()) {
      continue;
    } else {
      reason = element->obj().lastDownloadFailure().value_or("not downloaded yet");
    }
    if (!missing.empty()) missing += ", ";
    missing += "'" + id + "' (" + reason + ")";
  }
  if (missing.empty()) return kExitSuccess;
  return runtimeError("cannot " + what + ": enabled lists without a downloaded rule file: " + missing);
}

int runLaunch(const Invocation& invocation) {
  const std::string what = "bring the browser's rules up to date";
  AppSession session(invocation.timeoutSeconds);
  const auto mark = session.compileMark();
  auto launched = session.launch();
  if (!launched) {
    return runtimeError("cannot prepare the device root: " + launched.error().localizedDescription());
  }
  // The launch is about the user's rules: lists the user did not enable may still be downloading
  // when the time is up, as they go on doing in the app.
  if (session.runUntilQuiet() == AppSession::Wait::TimedOut && session.quietButForOtherDownloads()) {
    const std::size_t downloading = session.listsStillDownloading();
    EventLog::shared().diagnostic(std::string(kProgram) + ": warning: " + std::to_string(downloading) +
                                  (downloading == 1 ? " list was" : " lists were") +
                                  " still downloading when the time was up; a later start downloads them");
  } else if (auto status = settle(session)) {
    return *status;
  }
  auto outcome = session.compileOutcomeSince(mark);
  if (!outcome.ok) return runtimeError("cannot " + what + ": " + outcome.detail);
  return requireEnabledListFiles(session, what);
}

}  // namespace fendrel::cli
