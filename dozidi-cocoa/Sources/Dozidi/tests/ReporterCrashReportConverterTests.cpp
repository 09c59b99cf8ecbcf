// A decoded crash report becomes a fatal event: exception and mechanism, threads and frames,
// debug images, and the crash-time scope. Reports are hand-made in the recorder's decoded form.
#include <gtest/gtest.h>

#include "JSONText.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashReportConverter.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiFrame.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMechanism.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDebugImageProvider.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInAppLogic.h"

namespace {

using foundation::Dictionary;

Dictionary parse(const std::string& text) {
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(text);
  EXPECT_TRUE(parsed.ok()) << text;
  return parsed.ok() && parsed->dictionary() ? *parsed->dictionary() : Dictionary{};
}

// Two images: the executable at 0x1000 (0x1000 bytes) and a library at 0x7f0000000000.
const char* kImages = R"("binary_images": [
  {"image_addr": 4096, "image_size": 4096, "image_vmaddr": 0, "name": "/opt/app/crasher",
   "uuid": "00112233-4455-6677-8899-AABBCCDDEEFF"},
  {"image_addr": 139637976727552, "image_size": 65536, "name": "/lib/libc.so.6"}])";

std::shared_ptr<DozidiEvent> convert(const std::string& text) {
  auto logic = std::make_shared<DozidiInAppLogic>(std::vector<std::string>{"crasher"}, std::vector<std::string>{});
  return DozidiCrashReportConverter(parse(text), logic).convertReportToEvent();
}

std::string report(const std::string& error, const std::string& threads, const std::string& extra = "") {
  return R"({"report": {"timestamp": "2026-12-11T01:02:03Z"},)" + std::string(kImages) + R"(,
    "crash": {"error": )" + error + R"(, "threads": )" + threads + "}" + extra + "}";
}

const char* kSignalError = R"({"type": "signal", "address": 0,
  "signal": {"signal": 11, "name": "SIGSEGV", "code": 1, "code_name": "SEGV_MAPERR"},
  "mach": {"exception": 1, "exception_name": "EXC_BAD_ACCESS", "code": 0, "subcode": 0}})";

// Innermost first: crash_function in the executable, the async marker, main, then libc.
const char* kCrashedThreads = R"([
  {"index": 0, "crashed": false, "name": "main", "backtrace": {"contents": [
    {"instruction_addr": 139637976727600}]}},
  {"index": 1, "crashed": true, "current_thread": true, "name": "worker",
   "registers": {"basic": {"rip": 4200, "rsp": -16}},
   "backtrace": {"contents": [
    {"instruction_addr": 4200, "symbol_addr": 4192, "symbol_name": "crash_function"},
    {"instruction_addr": -1235},
    {"instruction_addr": 4400, "symbol_addr": 4352, "symbol_name": "main"},
    {"instruction_addr": 139637976727700}]}},
  "not a thread"])";

TEST(ReporterCrashReportConverterTests, SignalCrashBecomesAFatalEventWithTheCrashedStack) {
  auto event = convert(report(kSignalError, kCrashedThreads));
  ASSERT_TRUE(event);
  EXPECT_EQ(event->level, DozidiEventLevel::Fatal);
  ASSERT_TRUE(event->timestamp);
  EXPECT_EQ(event->timestamp->timeIntervalSince1970(), 1'796'950'923.0);

  ASSERT_TRUE(event->exceptions && event->exceptions->size() == 1);
  const auto& exception = *(*event->exceptions)[0];
  EXPECT_EQ(exception.value, "Signal 11, Code 1");
  EXPECT_EQ(exception.type, "SIGSEGV");
  EXPECT_JSON_EQ(exception.mechanism->serialize(), R"({"type": "signal", "handled": false, "meta": {
    "signal": {"number": 11, "code": 1, "code_name": "SEGV_MAPERR", "name": "SIGSEGV"},
    "mach_exception": {"name": "EXC_BAD_ACCESS", "exception": 1, "code": 0, "subcode": 0}}})");
  ASSERT_TRUE(exception.stacktrace);
  EXPECT_EQ(exception.threadId->int64Value(), 1);

  // Outermost first; the frame above the marker starts the asynchronous caller's stack.
  const auto& frames = exception.stacktrace->frames;
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0]->package, "/lib/libc.so.6");
  EXPECT_FALSE(frames[0]->inApp->boolValue());
  EXPECT_EQ(frames[1]->function, "main");
  EXPECT_FALSE(frames[1]->stackStart);
  EXPECT_EQ(frames[2]->function, "crash_function");
  EXPECT_TRUE(frames[2]->stackStart->boolValue());
  EXPECT_TRUE(frames[2]->inApp->boolValue());
  EXPECT_EQ(frames[2]->instructionAddress, "0x0000000000001068");
  EXPECT_EQ(frames[2]->imageAddress, "0x0000000000001000");
  EXPECT_EQ(exception.stacktrace->registers["rsp"].asString(), "0xfffffffffffffff0");

  ASSERT_TRUE(event->threads);
  ASSERT_EQ(event->threads->size(), 2u);
  EXPECT_EQ((*event->threads)[1]->name, "worker");
  EXPECT_TRUE(*(*event->threads)[1]->crashed);

  // Both images hold frames; the executable is identified by its build-id.
  ASSERT_TRUE(event->debugMeta && event->debugMeta->size() == 2);
  EXPECT_JSON_EQ((*event->debugMeta)[0]->serialize(), R"({"uuid": "00112233-4455-6677-8899-AABBCCDDEEFF",
    "type": "elf", "image_addr": "0x0000000000001000", "image_size": 4096, "name": "crasher",
    "code_id": "00112233445566778899aabbccddeeff", "debug_id": "33221100-5544-7766-8899-aabbccddeeff"})");
}

TEST(ReporterCrashReportConverterTests, ExceptionTable) {
  const struct {
    const char* name;
    std::string error;
    const char* value;
    const char* type;
  } cases[] = {
      {"cpp", R"({"type": "cpp_exception", "cpp_exception": {"name": "St13runtime_error"}, "reason": "boom"})",
       "St13runtime_error: boom", "C++ Exception"},
      {"cpp without reason", R"({"type": "cpp_exception", "cpp_exception": {"name": "i"}})", "i", "C++ Exception"},
      {"mach", R"({"type": "mach", "mach": {"exception": 1, "exception_name": "EXC_BAD_ACCESS", "code": 2, "subcode": 8}})",
       "Exception 1, Code 2, Subcode 8", "EXC_BAD_ACCESS"},
      {"user with colon", R"({"type": "user", "reason": "Parser:  bad token ", "user_reported": {"name": "N"}})",
       "bad token", "Parser"},
      {"user without colon", R"({"type": "user", "reason": "plain", "user_reported": {"name": "N"}})", "plain", "N"},
      {"nsexception", R"({"type": "nsexception", "reason": "outer", "nsexception": {"name": "NSRangeException"}})",
       "outer", "NSRangeException"},
      {"unknown", R"({"type": "deadlock"})", "Unknown Exception", "deadlock"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto event = convert(report(c.error, "[]"));
    ASSERT_TRUE(event && event->exceptions && event->exceptions->size() == 1);
    EXPECT_EQ((*event->exceptions)[0]->value, c.value);
    EXPECT_EQ((*event->exceptions)[0]->type, c.type);
  }
}

TEST(ReporterCrashReportConverterTests, NoCrashedThreadGivesAnExceptionWithoutStack) {
  const std::string threads = R"([{"index": 0, "backtrace": {"contents": [{"instruction_addr": 4200}]}}])";
  auto event = convert(report(kSignalError, threads));
  ASSERT_TRUE(event && event->exceptions);
  EXPECT_FALSE((*event->exceptions)[0]->stacktrace);
  EXPECT_FALSE((*event->exceptions)[0]->threadId);
  EXPECT_EQ(event->threads->size(), 1u);
}

TEST(ReporterCrashReportConverterTests, AddressesDiagnosisAndImageBounds) {
  // An address at an image's end is outside it; a fault address becomes relevant_address; the
  // diagnosis is appended once.
  const std::string error = R"({"type": "signal", "address": 16, "signal": {"signal": 11, "name": "SIGSEGV", "code": 1},
    "mach": {"exception": 1, "exception_name": "EXC_BAD_ACCESS"}})";
  const std::string threads = R"([{"index": 0, "crashed": true, "backtrace": {"contents": [{"instruction_addr": 8192}]}}])";
  const std::string text = R"({"report": {"timestamp": 1700000000},)" + std::string(kImages) + R"(,
    "crash": {"diagnosis": "Attempted to dereference garbage pointer 0x10.", "error": )" + error +
                           R"(, "threads": )" + threads + "}}";
  auto event = convert(text);
  ASSERT_TRUE(event && event->exceptions);
  EXPECT_EQ(event->timestamp->timeIntervalSince1970(), 1'700'000'000.0);
  const auto& exception = *(*event->exceptions)[0];
  EXPECT_EQ(exception.value, "Signal 11, Code 1 >\nAttempted to dereference garbage pointer 0x10.");
  EXPECT_EQ(exception.mechanism->data, (Dictionary{{"relevant_address", "0x0000000000000010"}}));
  EXPECT_FALSE(exception.stacktrace->frames[0]->package);
  EXPECT_TRUE(event->debugMeta->empty());
}

TEST(ReporterCrashReportConverterTests, RecrashReportIsConvertedFromTheInnerCrash) {
  const std::string text = R"({"report": {"timestamp": "2026-12-11T01:02:03Z"},
    "crash": {"error": {"type": "signal", "signal": {"signal": 6, "name": "SIGABRT"}}},
    "recrash_report": {"binary_images": [], "crash": {"error": {"type": "cpp_exception",
      "cpp_exception": {"name": "inner"}}, "threads": []}}})";
  auto event = convert(text);
  ASSERT_TRUE(event && event->exceptions);
  EXPECT_EQ((*event->exceptions)[0]->value, "inner");
}

TEST(ReporterCrashReportConverterTests, ScopeMirrorOverUserSectionAndRepairedText) {
  const std::string extra = R"(, "user": {"release": "app@1", "tags": {"from": "user"}, "custom": 1,
    "dozidi_sdk_scope": {"ignored": true}},
    "dozidi_sdk_scope": {"tags": {"t": "v"}, "extra": {"e": 1}, "dist": "7", "environment": "prod",
      "user": {"id": "42", "email": "a@b.c", "data": {"k": "v"}},
      "breadcrumbs": [{"level": "warning", "category": "ui", "message": "tap", "timestamp": "2026-12-11T01:02:00.500Z"},
                      {"category": "x"}]})";
  const std::string error = R"({"type": "cpp_exception", "cpp_exception": {"name": "bad\u00ff"}})";
  auto event = convert(report(error, "[]", extra));
  ASSERT_TRUE(event);
  EXPECT_EQ(event->tags, (Dictionary{{"t", "v"}}));
  EXPECT_EQ(event->extra, (Dictionary{{"e", 1}}));
  EXPECT_EQ(event->dist, "7");
  EXPECT_EQ(event->environment, "prod");
  EXPECT_EQ(event->releaseName, "app@1");
  ASSERT_TRUE(event->user);
  EXPECT_EQ(event->user->userId(), "42");
  EXPECT_EQ(event->user->data(), (Dictionary{{"k", "v"}}));
  ASSERT_TRUE(event->breadcrumbs && event->breadcrumbs->size() == 2);
  EXPECT_EQ((*event->breadcrumbs)[0]->level, DozidiEventLevel::Warning);
  EXPECT_EQ((*event->breadcrumbs)[0]->timestamp->timeIntervalSince1970(), 1'796'950'920.5);
  EXPECT_EQ((*event->breadcrumbs)[1]->level, DozidiEventLevel::Error);
  // The event serialises even though the report's text held a byte that is no UTF-8.
  EXPECT_FALSE(sortedJSON(event->serialize()).empty());
}

TEST(ReporterCrashReportConverterTests, RawInvalidUTF8IsRepaired) {
  Dictionary raw = parse(report(kSignalError, "[]"));
  raw.set("user", Dictionary{{"tags", Dictionary{{"name", std::string("a\xff" "b")}}}});
  auto event = DozidiCrashReportConverter(raw, nullptr).convertReportToEvent();
  ASSERT_TRUE(event && event->tags);
  EXPECT_EQ((*event->tags)["name"].asString(), "a\xEF\xBF\xBD" "b");
}

TEST(ReporterCrashReportConverterTests, ReleaseAndDistFallBackToTheAppContext) {
  const std::string extra = R"(, "user": {"context": {"app": {"app_identifier": "org.fendrel", "app_version": "1.2",
    "app_build": "34"}}})";
  auto event = convert(report(kSignalError, "[]", extra));
  ASSERT_TRUE(event);
  EXPECT_EQ(event->releaseName, "org.fendrel@1.2+34");
  EXPECT_EQ(event->dist, "34");
}

}  // namespace
