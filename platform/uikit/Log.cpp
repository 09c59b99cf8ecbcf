#include "platform/uikit/Log.h"

#include <cstdio>
#include <mutex>

namespace uikit {
namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}
UIKitLog::Sink& sink() {
  static UIKitLog::Sink s;
  return s;
}

}  // namespace

void UIKitLog::write(const std::string& line) {
  Sink current;
  {
    std::lock_guard lock(sinkMutex());
    current = sink();
  }
  if (current) current(line);
  else std::fprintf(stderr, "%s\n", line.c_str());
}

UIKitLog::Sink UIKitLog::setSink(Sink s) {
  std::lock_guard lock(sinkMutex());
  auto previous = std::move(sink());
  sink() = std::move(s);
  return previous;
}

}  // namespace uikit
