#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Data.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/URL.h"

namespace tovel {

/// Domain of the error for a file write to a URL that is not a file URL (code 0, no user info).
inline constexpr const char* kDataNotFileUrlDomain = "DataNotFileUrl";

/// `data` XORed with the UTF-8 bytes of `key`, repeated from the first byte: byte i is
/// data[i] ^ key[i % key.size()]. Scrambles and unscrambles alike. None for an empty key; an empty
/// buffer gives an empty buffer.
std::optional<foundation::Data> xored(const foundation::Data& data, std::string_view key);

/// Writes `data` to the file URL `url`, creating the folders that hold it first. Fails with
/// "DataNotFileUrl" (code 0) for a URL that is not a file URL, else with the error of the folder
/// creation (nothing written) or of the write. The write is always atomic (a temporary file in
/// the same folder, then a rename), so a reader never sees a half-written file.
foundation::Result<void> writeToFile(const foundation::Data& data, const foundation::URL& url);
/// writeToFile for the file URL of `path`.
foundation::Result<void> writeToFilePath(const foundation::Data& data, std::string_view path);

}  // namespace tovel
