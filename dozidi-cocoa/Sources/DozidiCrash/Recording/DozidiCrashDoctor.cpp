#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashDoctor.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "platform/foundation/TextCase.h"

namespace {

using foundation::Value;

std::optional<std::string> text(const Value& value) {
  if (const std::string* string = value.string()) return *string;
  return std::nullopt;
}

bool isText(const Value& value, std::string_view expected) {
  const std::string* string = value.string();
  return string != nullptr && *string == expected;
}

// "%@" of a value that may be missing.
std::string object(const std::optional<std::string>& value) { return value ? *value : "(null)"; }

// "%p": hexadecimal with a "0x" prefix.
std::string pointer(std::uint64_t address) {
  char buffer[2 + 16 + 1];
  std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, address);
  return buffer;
}

std::string kindOfClass(bool isInstance) { return isInstance ? "instance" : "class"; }

std::uint64_t unsignedValue(const Value& value) {
  const foundation::Number* number = value.number();
  return number != nullptr ? number->uint64Value() : 0;
}

bool isStackOverflow(const Value& crashedThread) { return crashedThread["stack"]["overflow"].asBool() == true; }

bool errorMatches(const Value& error, std::string_view machName, std::string_view signalName) {
  if (error["mach"].dictionary() != nullptr) return isText(error["mach"]["exception_name"], machName);
  return isText(error["signal"]["name"], signalName);
}

bool isMemoryCorruption(const Value& report) {
  const Value& thread = DozidiCrashDoctor::crashedThreadReport(report);
  if (const foundation::Dictionary* notable = thread["notable_addresses"].dictionary()) {
    for (const auto& [name, entry] : *notable) {
      (void)name;
      if (!isText(entry["type"], "string")) continue;
      const std::string value = text(entry["value"]).value_or("");
      if (value.find("autorelease pool page") != std::string::npos && value.find("corrupted") != std::string::npos) {
        return true;
      }
      if (value.find("incorrect checksum for freed object") != std::string::npos) return true;
    }
  }
  if (const foundation::Array* backtrace = DozidiCrashDoctor::backtraceFromThreadReport(thread).array()) {
    for (const Value& entry : *backtrace) {
      const std::string symbol = text(entry["symbol_name"]).value_or("");
      if (symbol == "objc_autoreleasePoolPush" || symbol == "free_list_checksum_botch" ||
          symbol == "szone_malloc_should_clear") {
        return true;
      }
      if (symbol == "lookUpMethod" && isText(entry["object_name"], "libobjc.A.dylib")) return true;
    }
  }
  return false;
}

// One argument as a message send shows it.
std::string argumentText(const DozidiCrashDoctorParam& param) {
  if (param.value) return param.type == "string" ? "\"" + *param.value + "\"" : *param.value;
  if (param.previousClassName) return *param.previousClassName;
  if (param.className) return *param.className + " (" + kindOfClass(param.isInstance) + ")";
  return "?";
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

}  // namespace

std::optional<std::string> DozidiCrashDoctorFunctionCall::descriptionForObjCCall() const {
  if (name != "objc_msgSend" || params.size() < 2 || params[1].type != "string" || !params[1].value)
    return std::nullopt;
  const DozidiCrashDoctorParam& receiver = params[0];
  const std::string className = receiver.previousClassName ? *receiver.previousClassName
                                : receiver.className       ? *receiver.className
                                                           : "id";
  const std::vector<std::string> selector = split(*params[1].value, ':');
  std::string out = "-[" + className + " " + selector[0];
  const std::size_t argumentCount = selector.size() - 1;
  for (std::size_t i = 0; i < argumentCount; ++i) {
    out += ':';
    out += i < 2 && i + 2 < params.size() ? argumentText(params[i + 2]) : "?";
    if (i + 1 < argumentCount) out += " " + selector[i + 1];
  }
  return out + "]";
}

std::string DozidiCrashDoctorFunctionCall::descriptionWithParamCount(std::size_t count) const {
  if (std::optional<std::string> call = descriptionForObjCCall()) return *call;
  std::string out = "Function: " + name + "\n";
  for (std::size_t i = 0; i < std::min(count, params.size()); ++i) {
    const DozidiCrashDoctorParam& param = params[i];
    if (i > 0) out += "\n";
    out += "Param " + std::to_string(i + 1) + ":  ";
    if (param.className) out += *param.className + " (" + kindOfClass(param.isInstance) + ") ";
    if (param.value) out += *param.value + " ";
    if (param.previousClassName) out += "(was " + *param.previousClassName + ")";
  }
  return out;
}

const Value& DozidiCrashDoctor::recrashReport(const Value& report) { return report["recrash_report"]; }
const Value& DozidiCrashDoctor::systemReport(const Value& report) { return report["system"]; }
const Value& DozidiCrashDoctor::crashReport(const Value& report) { return report["crash"]; }
const Value& DozidiCrashDoctor::infoReport(const Value& report) { return report["report"]; }
const Value& DozidiCrashDoctor::errorReport(const Value& report) { return report["crash"]["error"]; }

std::optional<std::string> DozidiCrashDoctor::mainExecutableNameForReport(const Value& report) {
  return text(report["report"]["process_name"]);
}

const Value& DozidiCrashDoctor::crashedThreadReport(const Value& report) {
  const Value& crash = crashReport(report);
  if (!crash["crashed_thread"].isAbsent()) return crash["crashed_thread"];
  if (const foundation::Array* threads = crash["threads"].array()) {
    for (const Value& thread : *threads) {
      if (thread["crashed"].asBool() == true) return thread;
    }
  }
  return Value::absent();
}

const Value& DozidiCrashDoctor::backtraceFromThreadReport(const Value& thread) {
  return thread["backtrace"]["contents"];
}
const Value& DozidiCrashDoctor::basicRegistersFromThreadReport(const Value& thread) {
  return thread["registers"]["basic"];
}

const Value& DozidiCrashDoctor::lastStackEntry(const Value& report) {
  return backtraceFromThreadReport(crashedThreadReport(report))[0];
}

const Value& DozidiCrashDoctor::lastInAppStackEntry(const Value& report) {
  const std::optional<std::string> executable = mainExecutableNameForReport(report);
  if (const foundation::Array* backtrace = backtraceFromThreadReport(crashedThreadReport(report)).array()) {
    for (const Value& entry : *backtrace) {
      if (text(entry["object_name"]) == executable) return entry;
    }
  }
  return Value::absent();
}

DozidiCrashCPUFamily DozidiCrashDoctor::cpuFamily(const Value& report) {
  const std::optional<std::string> arch = text(systemReport(report)["cpu_arch"]);
  // A report without an architecture counts as ARM, as reports always have.
  if (!arch || arch->starts_with("arm")) return DozidiCrashCPUFamily::ARM;
  if (arch->size() >= 4 && (*arch)[0] == 'i' && arch->compare(2, 2, "86") == 0) return DozidiCrashCPUFamily::X86;
  const std::string lower = foundation::lowercased(*arch);
  if (lower.find("x86_64") != std::string::npos) return DozidiCrashCPUFamily::X86_64;
  return DozidiCrashCPUFamily::Unknown;
}

std::optional<std::string> DozidiCrashDoctor::registerNameForFamily(DozidiCrashCPUFamily family, int index) {
  static constexpr const char* kARM[] = {"r0", "r1", "r2", "r3"};
  static constexpr const char* kX86[] = {"edi", "esi", "edx", "ecx"};
  static constexpr const char* kX86_64[] = {"rdi", "rsi", "rdx", "rcx"};
  if (index < 0 || index > 3) return std::nullopt;
  switch (family) {
    case DozidiCrashCPUFamily::ARM: return kARM[index];
    case DozidiCrashCPUFamily::X86: return kX86[index];
    case DozidiCrashCPUFamily::X86_64: return kX86_64[index];
    case DozidiCrashCPUFamily::Unknown: return std::nullopt;
  }
  return std::nullopt;
}

DozidiCrashDoctorFunctionCall DozidiCrashDoctor::lastFunctionCall(const Value& report) {
  DozidiCrashDoctorFunctionCall call;
  call.name = text(lastStackEntry(report)["symbol_name"]).value_or("");
  const Value& thread = crashedThreadReport(report);
  const Value& registers = basicRegistersFromThreadReport(thread);
  const Value& notable = thread["notable_addresses"];
  const DozidiCrashCPUFamily family = cpuFamily(report);
  for (int i = 0; i < 4; ++i) {
    const std::optional<std::string> registerName = registerNameForFamily(family, i);
    if (!registerName) break;
    DozidiCrashDoctorParam param;
    param.address = unsignedValue(registers[*registerName]);
    const Value& entry = notable[*registerName];
    if (entry.dictionary() != nullptr) {
      param.type = text(entry["type"]);
      if (param.type == "string") {
        param.value = text(entry["value"]);
      } else if (param.type == "objc_object" || param.type == "objc_class") {
        param.className = text(entry["class"]);
        param.isInstance = param.type == "objc_object";
      }
      param.previousClassName = text(entry["last_deallocated_obj"]);
    } else {
      param.value = pointer(param.address);
    }
    call.params.push_back(std::move(param));
  }
  return call;
}

std::optional<std::string> DozidiCrashDoctor::zombieCall(const DozidiCrashDoctorFunctionCall& call) {
  if (call.params.empty() || !call.params[0].previousClassName) return std::nullopt;
  if (call.name == "objc_msgSend") return call.descriptionWithParamCount(4);
  if (call.name == "objc_retain") return call.descriptionWithParamCount(1);
  return std::nullopt;
}

std::optional<std::string> DozidiCrashDoctor::diagnoseCrash(const Value& report) const {
  const Value& error = errorReport(report);
  if (isStackOverflow(crashedThreadReport(report))) {
    return "Stack overflow in " + object(text(lastInAppStackEntry(report)["symbol_name"]));
  }
  if (isText(error["type"], "nsexception")) {
    const Value& exception = error["nsexception"];
    const std::optional<std::string> reason =
        exception["reason"].isAbsent() ? text(error["reason"]) : text(exception["reason"]);
    return "Application threw exception " + object(text(exception["name"])) + ": " + object(reason);
  }
  if (isMemoryCorruption(report)) return "Rogue memory write has corrupted memory.";
  if (errorMatches(error, "EXC_ARITHMETIC", "SIGFPE")) return "Math error (usually caused from division by 0).";
  if (std::optional<std::string> zombie = zombieCall(lastFunctionCall(report))) {
    return "Possible zombie in call: " + *zombie;
  }
  if (errorMatches(error, "EXC_BAD_ACCESS", "SIGSEGV")) {
    const std::uint64_t address = unsignedValue(error["address"]);
    if (address != 0) return "Attempted to dereference garbage pointer " + pointer(address) + ".";
    return std::string("Attempted to dereference null pointer.");
  }
  return std::nullopt;
}
