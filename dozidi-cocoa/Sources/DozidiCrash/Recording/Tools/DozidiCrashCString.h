#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace foundation {
class Data;
}

/// An immutable, owned, NUL-terminated copy of a text or a byte buffer, made at normal time so
/// that code running during a crash can read the bytes without touching objects. `bytes()` is null
/// and `length()` 0 when the copy could not be made. Any thread may read it.
class DozidiCrashCString {
 public:
  /// The text up to its first NUL.
  static std::shared_ptr<DozidiCrashCString> stringWithString(std::string_view text);
  /// A copy of a NUL-terminated C string; a null pointer gives null bytes.
  static std::shared_ptr<DozidiCrashCString> stringWithCString(const char* cString);
  /// The buffer's bytes, then a NUL.
  static std::shared_ptr<DozidiCrashCString> stringWithData(const foundation::Data& data);
  /// `length` bytes, then a NUL; bytes after an embedded NUL stay but C-string readers stop there.
  static std::shared_ptr<DozidiCrashCString> stringWithData(const void* bytes, std::size_t length);

  /// Byte count without the final NUL.
  std::uint64_t length() const { return length_; }
  /// `length() + 1` bytes, the last one NUL; null when allocation failed.
  const char* bytes() const { return bytes_.get(); }

 private:
  DozidiCrashCString() = default;
  std::unique_ptr<char[]> bytes_;
  std::uint64_t length_ = 0;
};
