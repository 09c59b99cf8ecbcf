#include <gtest/gtest.h>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashDoctor.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

/// A decoded report with the given error and crashed thread, on an x86_64 machine.
Value report(Dictionary error, Dictionary thread = {}, std::string arch = "x86_64") {
  thread.set("crashed", true);
  return Dictionary{
      {"report", Dictionary{{"process_name", "App"}}},
      {"system", Dictionary{{"cpu_arch", std::move(arch)}}},
      {"crash", Dictionary{{"error", std::move(error)}, {"threads", Array{Dictionary{{"crashed", false}}, thread}}}}};
}

Dictionary signalError(const char* name, std::uint64_t address = 0) {
  return Dictionary{{"type", "signal"}, {"signal", Dictionary{{"name", name}}}, {"address", address}};
}

Dictionary machError(const char* name, std::uint64_t address = 0) {
  return Dictionary{{"type", "mach"}, {"mach", Dictionary{{"exception_name", name}}}, {"address", address}};
}

Dictionary backtrace(Array entries) { return Dictionary{{"contents", std::move(entries)}}; }

// The crashed thread of a message send to a freed object: its receiver register points at a
// zombie, its selector register at the selector text.
Dictionary zombieThread(const char* function) {
  return Dictionary{
      {"backtrace", backtrace(Array{Dictionary{{"symbol_name", function}, {"object_name", "libobjc"}}})},
      {"registers", Dictionary{{"basic", Dictionary{{"rdi", 0x1000}, {"rsi", 0x2000}, {"rdx", 5}}}}},
      {"notable_addresses",
       Dictionary{{"rdi", Dictionary{{"type", "objc_object"}, {"class", "Now"}, {"last_deallocated_obj", "Freed"}}},
                  {"rsi", Dictionary{{"type", "string"}, {"value", "setValue:forKey:"}}},
                  {"rdx", Dictionary{{"type", "string"}, {"value", "text"}}}}}};
}

TEST(CrashDoctorTests, DiagnosesEachKindOfCrash) {
  const Dictionary overflowThread{
      {"stack", Dictionary{{"overflow", true}}},
      {"backtrace", backtrace(Array{Dictionary{{"symbol_name", "libc_frame"}, {"object_name", "libc.so.6"}},
                                    Dictionary{{"symbol_name", "recurse"}, {"object_name", "App"}}})}};
  const Dictionary nsexception{{"type", "nsexception"},
                               {"nsexception", Dictionary{{"name", "NSRangeException"}, {"reason", "index 3"}}}};
  struct Case {
    const char* name;
    Value report;
    std::optional<std::string> diagnosis;
  } cases[] = {
      {"stack overflow wins over an exception", report(nsexception, overflowThread), "Stack overflow in recurse"},
      {"object exception", report(nsexception), "Application threw exception NSRangeException: index 3"},
      {"object exception without its own reason",
       report(Dictionary{{"type", "nsexception"}, {"reason", "outer"}, {"nsexception", Dictionary{{"name", "E"}}}}),
       "Application threw exception E: outer"},
      {"memory corruption by text",
       report(signalError("SIGSEGV"),
              Dictionary{{"notable_addresses",
                          Dictionary{{"stack@0x1", Dictionary{{"type", "string"},
                                                              {"value", "incorrect checksum for freed object"}}}}}}),
       "Rogue memory write has corrupted memory."},
      {"memory corruption by frame",
       report(signalError("SIGABRT"),
              Dictionary{{"backtrace", backtrace(Array{Dictionary{{"symbol_name", "free_list_checksum_botch"}}})}}),
       "Rogue memory write has corrupted memory."},
      {"math by signal", report(signalError("SIGFPE")), "Math error (usually caused from division by 0)."},
      {"math by mach exception", report(machError("EXC_ARITHMETIC")),
       "Math error (usually caused from division by 0)."},
      {"mach object decides over the signal",
       report(Dictionary{{"mach", Dictionary{}}, {"signal", Dictionary{{"name", "SIGFPE"}}}}), std::nullopt},
      {"null pointer", report(machError("EXC_BAD_ACCESS")), "Attempted to dereference null pointer."},
      {"garbage pointer", report(signalError("SIGSEGV", 0x2a)), "Attempted to dereference garbage pointer 0x2a."},
      {"zombie message send", report(machError("EXC_BAD_ACCESS", 8), zombieThread("objc_msgSend")),
       "Possible zombie in call: -[Freed setValue:\"text\" forKey:0x0]"},
      {"zombie retain", report(machError("EXC_BAD_ACCESS", 8), zombieThread("objc_retain")),
       "Possible zombie in call: Function: objc_retain\nParam 1:  Now (instance) (was Freed)"},
      {"bad access with a live object",
       report(machError("EXC_BAD_ACCESS", 8),
              [] {
                Dictionary thread = zombieThread("objc_msgSend");
                thread.set("notable_addresses",
                           Dictionary{{"rdi", Dictionary{{"type", "objc_object"}, {"class", "Live"}}}});
                return thread;
              }()),
       "Attempted to dereference garbage pointer 0x8."},
      {"C++ exception", report(Dictionary{{"type", "cpp_exception"}, {"mach", Dictionary{}}}), std::nullopt},
      {"crashed thread found by its key",
       Dictionary{{"crash", Dictionary{{"error", signalError("SIGSEGV")},
                                       {"crashed_thread", Dictionary{{"stack", Dictionary{{"overflow", true}}}}}}}},
       "Stack overflow in (null)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DozidiCrashDoctor::doctor()->diagnoseCrash(c.report), c.diagnosis);
  }
}

TEST(CrashDoctorTests, ParametersComeFromTheFamilysRegisters) {
  struct Case {
    const char* arch;
    DozidiCrashCPUFamily family;
  } families[] = {{"arm64", DozidiCrashCPUFamily::ARM},
                  {"i386", DozidiCrashCPUFamily::X86},
                  {"X86_64h", DozidiCrashCPUFamily::X86_64},
                  {"riscv", DozidiCrashCPUFamily::Unknown}};
  for (const Case& c : families) {
    SCOPED_TRACE(c.arch);
    EXPECT_EQ(DozidiCrashDoctor::cpuFamily(report({}, {}, c.arch)), c.family);
  }
  EXPECT_EQ(DozidiCrashDoctor::cpuFamily(Dictionary{}), DozidiCrashCPUFamily::ARM);

  // An ARM report whose registers have other names: four parameters at address 0.
  const DozidiCrashDoctorFunctionCall arm = DozidiCrashDoctor::lastFunctionCall(
      report({}, Dictionary{{"registers", Dictionary{{"basic", Dictionary{{"x0", 9}}}}}}, "arm64"));
  ASSERT_EQ(arm.params.size(), 4u);
  EXPECT_EQ(arm.params[0].address, 0u);
  EXPECT_EQ(arm.params[0].value, "0x0");
  EXPECT_TRUE(DozidiCrashDoctor::lastFunctionCall(report({}, {}, "riscv")).params.empty());
}

}  // namespace
