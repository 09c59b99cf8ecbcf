#include "platform/dispatch/Thread.h"

#include <pthread.h>

namespace dispatch {
namespace {

// The system refuses longer names outright, so a long name is shortened rather than lost.
std::string fittedName(std::string_view name) {
  if (name.size() <= kMaxThreadNameLength) return std::string(name);
  std::size_t length = kMaxThreadNameLength;
  // Step back over continuation bytes so that the cut keeps whole characters.
  while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  return std::string(name.substr(0, length));
}

}  // namespace

std::thread startThread(std::string_view name, std::function<void()> body) {
  return std::thread([name = fittedName(name), body = std::move(body)] {
    ::pthread_setname_np(::pthread_self(), name.c_str());
    body();
  });
}

std::string currentThreadName() {
  char name[kMaxThreadNameLength + 1] = {};
  if (::pthread_getname_np(::pthread_self(), name, sizeof name) != 0) return {};
  return name;
}

}  // namespace dispatch
