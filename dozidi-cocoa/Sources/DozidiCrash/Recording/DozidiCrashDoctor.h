#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

/// One argument of the call that crashed, read from a parameter register and the notable address
/// recorded for it.
struct DozidiCrashDoctorParam {
  std::optional<std::string> className;
  /// The class of the deallocated object that was at the address.
  std::optional<std::string> previousClassName;
  bool isInstance = false;
  std::uint64_t address = 0;
  std::optional<std::string> value;
  /// The notable address's "type".
  std::optional<std::string> type;
};

/// The crashed frame's function and its first arguments.
struct DozidiCrashDoctorFunctionCall {
  std::string name;
  std::vector<DozidiCrashDoctorParam> params;

  /// "-[Class selector:arg]" for a message send whose selector is known; none otherwise.
  std::optional<std::string> descriptionForObjCCall() const;
  /// The message-send form when there is one, else "Function: <name>" and one line per parameter.
  std::string descriptionWithParamCount(std::size_t count) const;
};

enum class DozidiCrashCPUFamily { Unknown = 0, ARM = 1, X86 = 2, X86_64 = 3 };

/// Reads a decoded crash report on the next launch and gives a one-line, human-readable diagnosis
/// of the crash ("Attempted to dereference null pointer.", …), or none when nothing matches.
/// Missing or oddly shaped parts of the report read as absent; it never fails. Stateless: any
/// thread.
class DozidiCrashDoctor {
 public:
  static std::shared_ptr<DozidiCrashDoctor> doctor() { return std::make_shared<DozidiCrashDoctor>(); }

  std::optional<std::string> diagnoseCrash(const foundation::Value& report) const;

  static const foundation::Value& recrashReport(const foundation::Value& report);
  static const foundation::Value& systemReport(const foundation::Value& report);
  static const foundation::Value& crashReport(const foundation::Value& report);
  static const foundation::Value& infoReport(const foundation::Value& report);
  static const foundation::Value& errorReport(const foundation::Value& report);
  static std::optional<std::string> mainExecutableNameForReport(const foundation::Value& report);
  /// "crash"."crashed_thread", else the first of "crash"."threads" marked "crashed".
  static const foundation::Value& crashedThreadReport(const foundation::Value& report);
  static const foundation::Value& backtraceFromThreadReport(const foundation::Value& thread);
  static const foundation::Value& basicRegistersFromThreadReport(const foundation::Value& thread);
  /// The crashed thread's first backtrace entry.
  static const foundation::Value& lastStackEntry(const foundation::Value& report);
  /// The crashed thread's first backtrace entry in the main executable.
  static const foundation::Value& lastInAppStackEntry(const foundation::Value& report);

  static DozidiCrashCPUFamily cpuFamily(const foundation::Value& report);
  /// The register that carries parameter `index` (0 to 3) in the family; none otherwise.
  static std::optional<std::string> registerNameForFamily(DozidiCrashCPUFamily family, int index);
  static DozidiCrashDoctorFunctionCall lastFunctionCall(const foundation::Value& report);
  static std::optional<std::string> zombieCall(const DozidiCrashDoctorFunctionCall& call);
};
