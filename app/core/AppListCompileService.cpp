#include "app/core/AppListCompileService.h"

#include "app/core/SharedAux.h"
#include "platform/foundation/OperationQueue.h"

namespace fendrel {
namespace {

/// List elements' view of the app's compile service.
class AppListCompileService final : public ListElementCompileService {
 public:
  foundation::Result<void> enableList(const CloudObject& obj) override { return SharedAux::shared().enableList(obj); }
  foundation::Result<void> disableList(const CloudObject& obj) override {
    return SharedAux::shared().disableList(obj);
  }
  void queueCompilation(Recompilation recompilation) override {
    SharedAux::shared().compileQueue()->addOperationWithBlock(
        [recompilation] { SharedAux::shared().recompileSafari(recompilation); });
  }
};

}  // namespace

std::shared_ptr<ListElementCompileService> makeAppCompileService() {
  return std::make_shared<AppListCompileService>();
}

}  // namespace fendrel
