#pragma once
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"

namespace browser {

/// The browser's compiler of content-blocker rule files: WebKit's own (WebKitGTK's user content
/// filter store), so a rule file is accepted or refused exactly as the real browser engine would.
///
/// WebKit delivers its answers through its main run loop, which is bound to GLib's default main
/// context; one process-wide thread, started on first use and never stopped, owns that context and
/// makes every WebKit call, so callers on any thread are served one at a time.
class ContentRuleListStore {
 public:
  /// Compiles `source` (the rule file's JSON text) and stores the compiled list under `identifier`
  /// in `storageFolder` (created when missing), replacing an earlier list of that identifier.
  /// Blocks until WebKit answers. A refused file gives WebKit's error: its domain
  /// ("WebKitUserContentFilterError"), code and message (for example "Domains must be lower case
  /// ASCII. Use punycode to encode non-ASCII characters.").
  static foundation::Result<void> compile(const std::string& storageFolder, const std::string& identifier,
                                          std::string_view source);
};

}  // namespace browser
