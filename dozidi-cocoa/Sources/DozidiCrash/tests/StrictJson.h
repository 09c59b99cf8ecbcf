#pragma once
// Strict JSON parsing for the recorder's tests, keeping key order.
#include <nlohmann/json.hpp>
#include <string>

using Json = nlohmann::ordered_json;

/// The parsed text; a discarded (invalid) value when it is not valid JSON.
inline Json parseStrictly(const std::string& text) { return Json::parse(text, nullptr, false); }
