#pragma once

/// True when a debugger (any tracer) is attached to this process.
/// Runs during a crash: no allocation, no locks.
bool dozidicrashdebug_isBeingTraced();
