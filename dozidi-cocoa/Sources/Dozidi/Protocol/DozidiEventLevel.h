#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// Severity of events, breadcrumbs and diagnostic log lines.
enum class DozidiEventLevel : std::uint32_t { None = 0, Debug = 1, Info = 2, Warning = 3, Error = 4, Fatal = 5 };

/// "debug", "info", "warning", "error" or "fatal" for levels 1 to 5; "none" for 0 and every value
/// above 5.
std::string nameForDozidiLevel(DozidiEventLevel level);
/// The level whose name equals `name` exactly (case matters); Error for any other text and for none.
DozidiEventLevel dozidiLevelForString(std::optional<std::string_view> name);
