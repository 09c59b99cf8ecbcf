#pragma once
// The body of an extension-host program: the browser runs one extension request in a process of
// its own, so that a plug-in that crashes or hangs fails one request instead of the browser.

#include <functional>

namespace browser {

/// What a host program adds around the request. `beforeRequest` runs once the main bundle is set
/// and the plug-in is loaded (or failed to load), right before the plug-in's entry point is called
/// (a program that reports crashes starts its reporter here: the release is named after the main
/// bundle, and the crash handler is in place for the request); empty adds nothing.
struct ExtensionHostHooks {
  std::function<void()> beforeRequest;
};

/// Runs `PROGRAM PLUGIN BUNDLE`: loads the plug-in, makes BUNDLE the main bundle, calls the
/// plug-in's entry point once with a fresh request and prints the answer as one JSON line on
/// standard output:
///   {"items":[{"attachments":[{"path":"/…/output.json","size":1234}]}]}   answered with items
///   {"error":{"domain":"…","code":1,"description":"…"}}                  the extension cancelled
///   {"hostError":"…"}                                                     the plug-in could not run
/// Returns the exit status: 0 when the extension answered (with items or an error), 1 when it
/// could not run, 2 on a usage error. Anything the plug-in itself prints goes to standard error,
/// so that it cannot be mistaken for the answer. Standard output and error are closed before it
/// returns: what the program does after that never keeps the browser waiting. Called once, from
/// the program's main.
int runExtensionHostProgram(int argc, char** argv, const ExtensionHostHooks& hooks = {});

}  // namespace browser
