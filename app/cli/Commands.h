#pragma once
#include <functional>
#include <optional>
#include <string>

#include "app/cli/AppSession.h"
#include "app/cli/CommandLine.h"

namespace fendrel::cli {

// Each command runs one launch of the app and returns the exit status. Usage errors are found by
// the parser before a command runs; what a command finds wrong at run time (an unknown list, a
// failed compilation) ends it with kExitFailure and a message on standard error.

int runLaunch(const Invocation& invocation);
int runLists(const Invocation& invocation);
/// enable ID and disable ID.
int runEnable(const Invocation& invocation, bool enable);
int runWhitelist(const Invocation& invocation);
int runCompile(const Invocation& invocation);
int runState(const Invocation& invocation);
int runDemo(const Invocation& invocation);
/// Serves what the demo serves, without the app, until interrupted.
int runDemoServer(const Invocation& invocation);

/// Prints "fendrel: error: <message>" and returns kExitFailure.
int runtimeError(const std::string& message);

/// Launches the app in `session` and waits until it is quiet. None when that went well, else the
/// exit status to end with (the message is printed).
std::optional<int> launchAndSettle(AppSession& session);
/// Waits until the app is quiet again. None when it is, else the exit status to end with.
std::optional<int> settle(AppSession& session);
/// Puts back what a change replaced; errors when the settings cannot be stored.
using UndoChange = std::function<foundation::Result<void>()>;
/// After a change that compiles: waits until quiet, then judges the compilations since `mark`.
/// `what` names the change for the message ("enable list 'a'"). A change the browser can never
/// take (too many rules, a refused rule file) is undone with `undo`, so that what the settings
/// show is what the browser holds; a change that failed for a passing reason is kept, and the
/// message says that it waits to be applied.
int settleAndJudge(AppSession& session, const AppSession::CompileMark& mark, const std::string& what,
                   const UndoChange& undo = nullptr);
/// After the app is quiet: kExitSuccess when every enabled list has its rule file downloaded, else
/// the failure naming each enabled list without one and why ("cannot compile: ...").
int requireEnabledListFiles(const AppSession& session, const std::string& what);

}  // namespace fendrel::cli
