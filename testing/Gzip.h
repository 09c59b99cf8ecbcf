#pragma once
// Test support: reading back what the code under test compressed.

#include <optional>
#include <string>
#include <string_view>

namespace testing_support {

/// Inflates one whole gzip stream with zlib (window bits 31); none when the bytes are not one
/// complete gzip stream (bad header or CRC, cut short, or followed by more bytes).
std::optional<std::string> gunzip(std::string_view bytes);

}  // namespace testing_support
