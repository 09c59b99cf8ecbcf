#pragma once
// SHA-1 digests as lowercase hex text, for the DSN's hash and the device-app hash.

#include <string>
#include <string_view>

/// The SHA-1 digest of `bytes` as 40 lowercase hex digits. Normal time only: allocates.
std::string dozidicrash_sha1Hex(std::string_view bytes);
