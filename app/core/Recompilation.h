#pragma once

namespace fendrel {

/// Whether a queued compilation runs when the enabled set is the one the last successful reload
/// compiled: `IfChanged` skips it, `Always` compiles it again (a changed whitelist, a user's
/// explicit request).
enum class Recompilation : bool { IfChanged, Always };

}  // namespace fendrel
