#include "app/cli/Commands.h"
#include "app/core/SharedAux.h"
#include "platform/foundation/OperationQueue.h"

namespace fendrel::cli {

int runCompile(const Invocation& invocation) {
  AppSession session(invocation.timeoutSeconds);
  if (auto status = launchAndSettle(session)) return *status;
  const auto mark = session.compileMark();
  const bool force = invocation.force;
  SharedAux::shared().compileQueue()->addOperationWithBlock([force] { SharedAux::shared().recompileSafari(force); });
  return settleAndJudge(session, mark, "compile");
}

}  // namespace fendrel::cli
