#pragma once
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"

/// The user-reported monitor: a switch the registry and the report writer consult.
const DozidiCrashMonitorAPI* dozidicrashcm_user_getAPI();
