#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashDebug.h"

#include "platform/kernel/SystemFacts.h"

bool dozidicrashdebug_isBeingTraced() { return kernel::isBeingTraced(); }
