#pragma once
#include <string>

#include "platform/foundation/Result.h"

namespace browser::detail {

/// What the failure injection asks of one compile process.
enum class CompilerFault { None, Abort, Hang };

/// The private folder of one compile, "<browser>/tmp/compile-XXXXXX": the rule file handed to the
/// compiler, its answer and its diagnostics, and WebKit's own temporary files ($TMPDIR of the
/// compiler) live there, so that a compile killed at any point leaves nothing in the system's
/// temporary folder. The folder is locked (flock on the folder itself) while its owner lives and is
/// removed by its destructor; making one first sweeps the folders no live owner holds, which is
/// what a killed browser or compiler left behind. Being on the device root's file system, it also
/// lets WebKit move its finished file into browser/filters/ with one rename.
class CompileFolder {
 public:
  /// Sweeps <browserFolder>/tmp and makes a fresh locked folder in it.
  static foundation::Result<CompileFolder> create(const std::string& browserFolder);

  CompileFolder(CompileFolder&& other) noexcept;
  CompileFolder& operator=(CompileFolder&&) = delete;
  CompileFolder(const CompileFolder&) = delete;
  ~CompileFolder();

  const std::string& path() const { return path_; }

 private:
  CompileFolder(std::string path, int lockFd) : path_(std::move(path)), lockFd_(lockFd) {}

  std::string path_;
  int lockFd_ = -1;
};

/// The compiler program: $FENDREL_BROWSER_COMPILER, else "fendrel-browser-compiler" next to the
/// running executable, else the one this library was built with.
std::string ruleCompilerPath();

/// Compiles the rule file at `sourcePath` with WebKit in a compiler process of the browser's own,
/// storing the compiled list under `identifier` in `storageFolder`, and waits for it: at most
/// `timeLimitSeconds` on the process clock (dispatch::Clock), after which the process is killed.
/// WebKit's refusal comes back as WebKit's error (domain, code, message). A compiler that cannot
/// be started, dies by a signal ("the browser's compiler stopped: signal 6"), fails or runs out of
/// time gives SFErrorDomain 3 with that reason; `timedOut`, when given, tells the last case apart.
foundation::Result<void> runRuleCompiler(const CompileFolder& folder, const std::string& storageFolder,
                                         const std::string& identifier, const std::string& sourcePath,
                                         CompilerFault fault, double timeLimitSeconds, bool* timedOut = nullptr);

}  // namespace browser::detail
