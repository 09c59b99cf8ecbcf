#pragma once
// The app's compile service as list elements see it: enabling, disabling and recompiling go to
// SharedAux, the recompilation on its compile queue.

#include <memory>

#include "app/core/ListElement.h"

namespace fendrel {

/// Makes the compile service that forwards to SharedAux::shared(). Any thread.
std::shared_ptr<ListElementCompileService> makeAppCompileService();

}  // namespace fendrel
