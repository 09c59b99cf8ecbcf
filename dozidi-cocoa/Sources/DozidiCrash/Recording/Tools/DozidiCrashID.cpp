#include "DozidiCrashID.h"

#include <sys/random.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/foundation/SystemCalls.h"

void dozidicrashid_generate(char* buffer) {
  unsigned char bytes[16] = {};
  // The raw system call: the kernel's random source needs no descriptor and no library state.
  long got = 0;
  got = foundation::retryOnInterrupt([&] { return ::syscall(SYS_getrandom, bytes, sizeof bytes, GRND_NONBLOCK); });
  if (got != static_cast<long>(sizeof bytes)) {
    // Without kernel randomness (very early boot) the clock still makes the ID unlikely to repeat.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t mix = static_cast<std::uint64_t>(now.tv_sec) * 1000000007ull ^
                        static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(::getpid()) << 32);
    for (unsigned i = 0; i < sizeof bytes; ++i) {
      mix = mix * 6364136223846793005ull + 1442695040888963407ull;
      bytes[i] = static_cast<unsigned char>(mix >> 56);
    }
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  const char* hex = "0123456789ABCDEF";
  char* out = buffer;
  for (unsigned i = 0; i < sizeof bytes; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *out++ = '-';
    *out++ = hex[bytes[i] >> 4];
    *out++ = hex[bytes[i] & 0x0F];
  }
  *out = '\0';
}
