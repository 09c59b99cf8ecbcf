#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSHA1.h"

#include <nettle/sha1.h>

#include <cstdint>

std::string dozidicrash_sha1Hex(std::string_view bytes) {
  // Nettle's SHA-1 rather than OpenSSL's: OpenSSL's first digest loads its configuration and
  // providers, several milliseconds on the start of every program that reports crashes.
  sha1_ctx context;
  sha1_init(&context);
  sha1_update(&context, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
  std::uint8_t digest[SHA1_DIGEST_SIZE];
  sha1_digest(&context, SHA1_DIGEST_SIZE, digest);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * SHA1_DIGEST_SIZE);
  for (std::uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}
