#pragma once
#include <optional>
#include <string>
#include <string_view>

/// Turns a stored crash report into the text the reader decodes: the report re-encoded with
/// pretty printing, its integer report timestamps ("report"."timestamp", also inside
/// "recrash_report") written as UTC date text "YYYY-MM-DDTHH:MM:SSZ". Runs at next launch.
/// None (logged) when the report cannot be decoded or nests deeper than 100 containers.
std::optional<std::string> dozidicrashcrf_fixupCrashReport(std::string_view crashReport);
