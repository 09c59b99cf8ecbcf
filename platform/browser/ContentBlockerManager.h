#pragma once
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/ValueFwd.h"

namespace browser {

/// The browser's content-blocker services (the platform's SFContentBlockerManager).
///
/// Both operations return at once and call their completion exactly once, later, on a thread of
/// the browser's own (never synchronously on the caller's thread, never on a caller's queue), so
/// a caller may block its own thread until the completion has run. The browser's state lives in
/// <device root>/browser/ (see ExtensionRegistry), read at each call.
class ContentBlockerManager {
 public:
  /// Asks the browser to reload the rules of the extension `identifier`: the browser runs the
  /// extension in an extension-host process of its own, reads the rule file it answers with,
  /// compiles it with WebKit into browser/filters/ in a compiler process of its own (its temporary
  /// files under browser/tmp/), records it as browser/applied/<id>.json and appends a line to
  /// browser/reload.log. The completion gets no error on success, otherwise:
  ///   SFErrorDomain 1  no extension installed under `identifier`;
  ///   SFErrorDomain 2  the extension answered with no readable attachment;
  ///   SFErrorDomain 3  the extension could not be run, failed, cancelled (its error underlying);
  ///                    the compiler could not be run, stopped ("the browser's compiler stopped:
  ///                    signal 6"), failed or did not finish within 60 seconds; or the load was
  ///                    made to fail by browser/control.json;
  ///   WebKit's error   the rule file was refused ("WebKitUserContentFilterError", code, message),
  ///                    also for more than 150,000 rules, which WebKit is not even asked to compile.
  /// A failed reload leaves the compiled list and the record of the last good one in place.
  /// A null completion is allowed: the reload is done and nothing is called.
  ///
  /// browser/control.json, when present, injects faults for tests:
  ///   {"failNextReloads": N, "delaySeconds": d, "neverAnswer": bool, "compilerFault": "abort"|"hang"}
  /// each reload first waits d seconds (on the dispatch clock); while N > 0 a reload fails with
  /// SFErrorDomain 3 and decrements N (a locked read-modify-write, so N reloads fail in total);
  /// with neverAnswer the completion is never called; with compilerFault every compile process
  /// aborts, or hangs until its time limit (on the dispatch clock) kills it.
  static void reloadContentBlocker(std::string identifier,
                                   std::function<void(std::optional<foundation::Error>)> completion);

  /// Asks whether the user enabled the extension `identifier` in the browser's settings. The
  /// completion gets the flag, or SFErrorDomain 1 when no such extension is installed. A null
  /// completion is allowed: nothing is called.
  static void getStateOfContentBlocker(
      std::string identifier,
      std::function<void(std::optional<bool> enabled, std::optional<foundation::Error> error)> completion);
};

}  // namespace browser
