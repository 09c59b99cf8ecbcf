#include "app/cli/Commands.h"
#include "app/core/SharedAux.h"
#include "platform/foundation/OperationQueue.h"

namespace fendrel::cli {

int runCompile(const Invocation& invocation) {
  AppSession session(invocation.timeoutSeconds);
  if (auto status = launchAndSettle(session)) return *status;
  const auto mark = session.compileMark();
  const Recompilation recompilation = invocation.force ? Recompilation::Always : Recompilation::IfChanged;
  SharedAux::shared().compileQueue()->addOperationWithBlock(
      [recompilation] { SharedAux::shared().recompileSafari(recompilation); });
  if (const int status = settleAndJudge(session, mark, "compile"); status != kExitSuccess) return status;
  return requireEnabledListFiles(session, "compile");
}

}  // namespace fendrel::cli
