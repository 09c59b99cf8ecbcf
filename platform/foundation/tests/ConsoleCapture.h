#pragma once
// The console's seam for tests: defined with Console, declared only here.

#include <memory>

#include "platform/foundation/Console.h"

namespace foundation {

/// Starts keeping a copy of everything printed through Console until the capture is destroyed;
/// printing still goes to the real output. Any thread.
std::unique_ptr<Console::Capture> captureConsoleForTesting();

}  // namespace foundation
