#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace dispatch {

/// The longest thread name the system keeps, in bytes (without the terminating zero).
inline constexpr std::size_t kMaxThreadNameLength = 15;

/// Starts a thread named `name` that runs `body`. Every thread of the process starts here, so crash
/// reports, traces and the system's thread lists can tell threads apart. A name longer than
/// kMaxThreadNameLength bytes is cut to that length (never inside a UTF-8 sequence). The name is
/// set before `body` runs. The caller joins or detaches the returned thread.
std::thread startThread(std::string_view name, std::function<void()> body);

/// The name of the calling thread as the system reports it (the program name for the initial
/// thread, empty when the system cannot tell).
std::string currentThreadName();

}  // namespace dispatch
