#pragma once
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"

/// The zombie monitor: remembers the class of recently freed objects and the last freed
/// exception object, so a report can name what a dangling pointer pointed at.
const DozidiCrashMonitorAPI* dozidicrashcm_zombie_getAPI();

/// The class name remembered for an object freed at `object`, or null.
/// Runs during a crash: no allocation, no locks.
const char* dozidicrashzombie_className(const void* object);
