#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMemory.h"

#include "platform/kernel/SafeMemory.h"

namespace {

constexpr int kChunkSize = 10240;
// Readability tests copy into this area; nobody reads it back, so threads may share it.
char gScratch[kChunkSize];

bool readable(const void* address, int count) { return kernel::copySafely(address, gScratch, static_cast<std::size_t>(count)); }

// Halving search: the readable prefix of [source, source + count), copied to `destination` when
// it is not null. The first byte is known to be readable.
int copyPrefix(const char* source, char* destination, int count) {
  int copied = 0;
  int remaining = count;
  int attempt = remaining;
  while (remaining > 0) {
    bool ok = destination != nullptr ? kernel::copySafely(source, destination, static_cast<std::size_t>(attempt))
                                     : readable(source, attempt);
    if (ok) {
      source += attempt;
      if (destination != nullptr) destination += attempt;
      copied += attempt;
      remaining -= attempt;
      attempt = remaining / 2 > 0 ? remaining / 2 : remaining;
    } else {
      if (attempt == 1) break;
      attempt /= 2;
    }
  }
  return copied;
}

}  // namespace

bool dozidicrashmem_copySafely(const void* source, void* destination, int byteCount) {
  return byteCount > 0 && kernel::copySafely(source, destination, static_cast<std::size_t>(byteCount));
}

bool dozidicrashmem_isMemoryReadable(const void* address, int byteCount) {
  if (byteCount < 0) return false;
  const char* at = static_cast<const char*>(address);
  while (byteCount > 0) {
    int chunk = byteCount < kChunkSize ? byteCount : kChunkSize;
    if (!readable(at, chunk)) return false;
    at += chunk;
    byteCount -= chunk;
  }
  return true;
}

int dozidicrashmem_copyMaxPossible(const void* source, void* destination, int byteCount) {
  if (byteCount < 1 || !kernel::copySafely(source, destination, 1)) return 0;
  if (byteCount < 2) return byteCount;
  return copyPrefix(static_cast<const char*>(source), static_cast<char*>(destination), byteCount);
}

int dozidicrashmem_maxReadableBytes(const void* address, int tryByteCount) {
  const char* at = static_cast<const char*>(address);
  int passed = 0;
  while (tryByteCount - passed > kChunkSize) {
    if (!readable(at, kChunkSize)) break;
    at += kChunkSize;
    passed += kChunkSize;
  }
  if (!readable(at, 1)) return passed;
  return passed + copyPrefix(at, nullptr, kChunkSize);
}

bool dozidicrashstring_isNullTerminatedUTF8String(const void* bytes, int minLength, int maxLength) {
  if (maxLength < 1 || bytes == nullptr) return false;
  const auto* text = static_cast<const unsigned char*>(bytes);
  for (int i = 0; i < maxLength; ++i) {
    unsigned char c = text[i];
    if (c == 0) return i >= minLength;
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    if (c < 0x80) continue;
    int continuation;
    if ((c & 0xC0) != 0xC0 || c == 0xFE || c == 0xFF) return false;
    if (c <= 0xDF) continuation = 1;
    else if (c <= 0xEF) continuation = 2;
    else if (c <= 0xF7) continuation = 3;
    else if (c <= 0xFB) continuation = 4;
    else continuation = 5;
    if (i + continuation >= maxLength) return false;
    for (int k = 1; k <= continuation; ++k) {
      if ((text[i + k] & 0xC0) != 0x80) return false;
    }
    i += continuation;
  }
  return false;
}

bool dozidicrashstring_extractHexValue(const char* text, int length, std::uint64_t* result) {
  if (length < 1 || text == nullptr) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (int i = 0; i + 2 < length; ++i) {
    if (text[i] != '0' || text[i + 1] != 'x' || digit(text[i + 2]) < 0) continue;
    std::uint64_t value = 0;
    for (int k = i + 2; k < length && digit(text[k]) >= 0; ++k) value = (value << 4) | static_cast<std::uint64_t>(digit(text[k]));
    *result = value;
    return true;
  }
  return false;
}
