#pragma once
// The barrier at every function that C code calls back (toolkit signals and timers, the network
// library's callbacks, the loader's and the drawing library's): an exception must never unwind
// through C frames, which neither expect it nor clean up after it.

#include <exception>
#include <functional>
#include <string_view>
#include <type_traits>
#include <utility>

namespace dispatch {

/// Receives each exception a guarded callback stopped: the callback's name and what was thrown.
using CallbackFailureSink = std::function<void(std::string_view callback, std::string_view what)>;

/// Replaces where stopped exceptions are reported; an empty sink restores the default, one line on
/// standard error. Returns the previous sink. Any thread.
CallbackFailureSink setCallbackFailureSink(CallbackFailureSink sink);

/// Logs that `callback` threw `what` through the current sink. Throws nothing: a sink that throws,
/// or a line that cannot be made, is dropped.
void reportCallbackFailure(const char* callback, const char* what) noexcept;

/// Runs `body` for a callback from C code named `callback`. Whatever it throws is caught here,
/// reported with reportCallbackFailure(), and `onFailure(what)` gives the result the C caller
/// sees instead (a "stop" or "not handled" value); it must not throw itself.
template <typename Body, typename OnFailure>
std::invoke_result_t<Body> guardCallback(const char* callback, Body&& body, OnFailure&& onFailure) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::exception& exception) {
    reportCallbackFailure(callback, exception.what());
    return onFailure(exception.what());
  } catch (...) {
    reportCallbackFailure(callback, "unknown exception");
    return onFailure("unknown exception");
  }
}

}  // namespace dispatch
