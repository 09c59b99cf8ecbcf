#include "platform/foundation/Console.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace foundation {

namespace {

struct ConsoleState {
  std::mutex mutex;
  std::vector<Console::Capture*> captures;  ///< innermost last
};

ConsoleState& consoleState() {
  static ConsoleState* const state = new ConsoleState();
  return *state;
}

}  // namespace

void Console::print(std::string_view line) {
  auto& state = consoleState();
  std::lock_guard lock(state.mutex);
  if (!state.captures.empty()) {
    auto& text = state.captures.back()->text_;
    text.append(line);
    text.push_back('\n');
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Declared for tests in tests/ConsoleCapture.h.
std::unique_ptr<Console::Capture> captureConsoleForTesting();

std::unique_ptr<Console::Capture> captureConsoleForTesting() {
  auto capture = std::make_unique<Console::Capture>();
  auto& state = consoleState();
  std::lock_guard lock(state.mutex);
  state.captures.push_back(capture.get());
  return capture;
}

Console::Capture::~Capture() {
  auto& state = consoleState();
  std::lock_guard lock(state.mutex);
  std::erase(state.captures, this);
}

std::string Console::Capture::text() const {
  std::lock_guard lock(consoleState().mutex);
  return text_;
}

}  // namespace foundation
