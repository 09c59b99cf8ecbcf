#pragma once
// Replacing a platform method for the file and database tracing: once per process per key, with
// the wrapper calling the implementation it displaced.
#include <functional>

#include "platform/runtime/Methods.h"

namespace dozidi_io::detail {

/// Gives a wrapper the implementation it displaced, looked up when the wrapper runs.
using OriginalImplementation = std::function<runtime::IMP()>;

/// Replaces the instance method `selector` of `cls` with the implementation `factory` returns,
/// unless `cls` or a superclass was already replaced under `key` (an address owned by the
/// caller). True when the method was replaced.
bool replaceInstanceMethodOnce(runtime::Class cls, runtime::SEL selector, const void* key,
                               const std::function<runtime::IMP(OriginalImplementation)>& factory);

}  // namespace dozidi_io::detail
