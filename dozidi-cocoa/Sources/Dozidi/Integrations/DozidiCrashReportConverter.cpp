#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashReportConverter.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <set>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiFrame.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMechanism.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDebugImageProvider.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInAppLogic.h"
#include "platform/foundation/TextCase.h"
#include "platform/foundation/UTF8.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

// Where an asynchronous caller's stack begins in a backtrace: the largest unsigned 64-bit value
// minus 1234, written by the recorder's stack cursor.
constexpr std::uint64_t kAsyncStitchMarker = 0xFFFFFFFFFFFFFB2Dull;

std::string repairedUTF8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = foundation::utf8SequenceLength(text);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      text.remove_prefix(1);
    } else {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return out;
}

Value repaired(const Value& value) {
  if (const std::string* text = value.string()) {
    return foundation::isValidUTF8(*text) ? value : Value(repairedUTF8(*text));
  }
  if (const Array* array = value.array()) {
    Array out;
    out.reserve(array->size());
    for (const Value& element : *array) out.push_back(repaired(element));
    return out;
  }
  if (const Dictionary* dictionary = value.dictionary()) {
    Dictionary out;
    out.reserve(dictionary->size());
    for (const auto& [key, element] : *dictionary) out.set(repairedUTF8(key), repaired(element));
    return out;
  }
  return value;
}

const Dictionary& dictionaryOr(const Value& value) {
  static const Dictionary empty;
  const Dictionary* dictionary = value.dictionary();
  return dictionary != nullptr ? *dictionary : empty;
}

std::optional<std::string> textOf(const Value& value) {
  if (const std::string* text = value.string()) return *text;
  return std::nullopt;
}

// The platform's "%@" of a report value: text as it is, numbers in decimal, "(null)" for none.
std::string formatted(const Value& value) {
  if (const std::string* text = value.string()) return *text;
  if (const foundation::Number* number = value.number()) return number->stringValue();
  if (value.isAbsent() || value.isNull()) return "(null)";
  return value.description();
}

bool truthy(const Value& value) {
  const foundation::Number* number = value.number();
  return number != nullptr && number->boolValue();
}

std::string trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

DozidiCrashReportConverter::DozidiCrashReportConverter(const Dictionary& report,
                                                       std::shared_ptr<const DozidiInAppLogic> inAppLogic)
    : inAppLogic_(std::move(inAppLogic)), report_(dictionaryOr(repaired(Value(report)))) {
  userContext_ = dictionaryOr(report_["user"]);
  for (const auto& [key, value] : dictionaryOr(report_["dozidi_sdk_scope"])) userContext_.set(key, value);
  userContext_.remove("dozidi_sdk_scope");

  const Dictionary& recrash = dictionaryOr(report_["recrash_report"]);
  const Dictionary& crash = dictionaryOr(recrash.contains("crash") ? recrash["crash"] : report_["crash"]);
  const Value& images = recrash.contains("binary_images") ? recrash["binary_images"] : report_["binary_images"];
  if (const Array* array = images.array()) binaryImages_ = *array;
  diagnosis_ = textOf(crash["diagnosis"]).value_or("");
  exceptionContext_ = dictionaryOr(crash["error"]);
  if (const Array* threads = crash["threads"].array()) {
    for (const Value& thread : *threads) {
      const Dictionary* dictionary = thread.dictionary();
      if (dictionary == nullptr) continue;
      if (!crashedThreadIndex_ && truthy((*dictionary)["crashed"])) crashedThreadIndex_ = threads_.size();
      threads_.push_back(*dictionary);
    }
  }
}

std::optional<std::uint64_t> DozidiCrashReportConverter::unsignedReading(const Value& value) {
  const foundation::Number* number = value.number();
  if (number == nullptr || number->isBool()) return std::nullopt;
  return number->uint64Value();
}

std::string DozidiCrashReportConverter::addressText(const Value& value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016" PRIx64, unsignedReading(value).value_or(0));
  return text;
}

std::shared_ptr<DozidiEvent> DozidiCrashReportConverter::convertReportToEvent() {
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Fatal);
  const Value& timestamp = report_["report"]["timestamp"];
  if (const foundation::Number* seconds = timestamp.number()) {
    event->timestamp = foundation::Date::fromTimeIntervalSince1970(static_cast<double>(seconds->int64Value()));
  } else if (const std::string* text = timestamp.string()) {
    event->timestamp = dozidi_fromIso8601String(*text);
  }

  std::vector<std::shared_ptr<DozidiThread>> threads = convertThreads();
  event->debugMeta = debugMetaForThreads(threads);
  event->threads = std::move(threads);
  event->exceptions = convertExceptions();

  event->dist = textOf(userContext_["dist"]);
  event->environment = textOf(userContext_["environment"]);
  if (const Dictionary* context = userContext_["context"].dictionary()) event->context = *context;
  if (const Dictionary* extra = userContext_["extra"].dictionary()) event->extra = *extra;
  if (const Dictionary* tags = userContext_["tags"].dictionary()) event->tags = *tags;
  event->user = convertUser();
  event->breadcrumbs = convertBreadcrumbs();
  event->releaseName = textOf(userContext_["release"]);

  const Dictionary& app = event->context ? dictionaryOr((*event->context)["app"]) : dictionaryOr(Value());
  if (!event->releaseName && app.contains("app_identifier") && app.contains("app_version") && app.contains("app_build")) {
    event->releaseName = formatted(app["app_identifier"]) + "@" + formatted(app["app_version"]) + "+" + formatted(app["app_build"]);
  }
  if (!event->dist && app.contains("app_build")) event->dist = formatted(app["app_build"]);
  return event;
}

std::vector<std::shared_ptr<DozidiThread>> DozidiCrashReportConverter::convertThreads() {
  std::vector<std::shared_ptr<DozidiThread>> threads;
  for (std::size_t i = 0; i < threads_.size(); ++i) {
    auto thread = threadAtIndex(i);
    if (thread && thread->stacktrace) threads.push_back(std::move(thread));
  }
  return threads;
}

std::shared_ptr<DozidiThread> DozidiCrashReportConverter::threadAtIndex(std::size_t index) {
  if (index >= threads_.size()) return nullptr;
  const Dictionary& raw = threads_[index];
  const foundation::Number* id = raw["index"].number();
  auto thread = DozidiThread::initWithThreadId(id != nullptr ? std::optional(*id) : std::nullopt);
  auto frames = stackFramesForThreadIndex(index);
  if (!frames.empty()) {
    Dictionary registers;
    for (const auto& [name, value] : dictionaryOr(raw["registers"]["basic"])) registers.set(name, addressText(value));
    thread->stacktrace = DozidiStacktrace::initWithFrames(std::move(frames), std::move(registers));
  }
  thread->crashed = truthy(raw["crashed"]);
  thread->current = truthy(raw["current_thread"]);
  thread->name = textOf(raw["name"]);
  if (!thread->name) thread->name = textOf(raw["dispatch_queue"]);
  return thread;
}

std::shared_ptr<DozidiThread> DozidiCrashReportConverter::crashedThread() {
  return crashedThreadIndex_ ? threadAtIndex(*crashedThreadIndex_) : nullptr;
}

std::vector<std::shared_ptr<DozidiFrame>> DozidiCrashReportConverter::stackFramesForThreadIndex(std::size_t index) {
  std::vector<std::shared_ptr<DozidiFrame>> frames;
  if (index >= threads_.size()) return frames;
  const Array* raw = threads_[index]["backtrace"]["contents"].array();
  if (raw == nullptr) return frames;
  for (const Value& rawFrame : *raw) {
    if (unsignedReading(rawFrame["instruction_addr"]) == kAsyncStitchMarker) {
      if (!frames.empty()) frames.back()->stackStart = foundation::Number::fromBool(true);
      continue;
    }
    frames.push_back(stackFrame(rawFrame));
  }
  std::reverse(frames.begin(), frames.end());
  return frames;
}

std::shared_ptr<DozidiFrame> DozidiCrashReportConverter::stackFrame(const Value& rawFrame) {
  auto frame = DozidiFrame::create();
  const Dictionary* image = binaryImageForAddress(unsignedReading(rawFrame["instruction_addr"]).value_or(0));
  frame->symbolAddress = addressText(rawFrame["symbol_addr"]);
  frame->instructionAddress = addressText(rawFrame["instruction_addr"]);
  if (image != nullptr) {
    frame->imageAddress = addressText((*image)["image_addr"]);
    frame->package = textOf((*image)["name"]);
  }
  const bool inApp = inAppLogic_ && frame->package && inAppLogic_->isInApp(*frame->package);
  frame->inApp = foundation::Number::fromBool(inApp);
  frame->function = textOf(rawFrame["symbol_name"]);
  return frame;
}

const Dictionary* DozidiCrashReportConverter::binaryImageForAddress(std::uint64_t address) const {
  for (const Value& value : binaryImages_) {
    const Dictionary* image = value.dictionary();
    if (image == nullptr) continue;
    const std::uint64_t start = unsignedReading((*image)["image_addr"]).value_or(0);
    const std::uint64_t size = unsignedReading((*image)["image_size"]).value_or(0);
    if (start <= address && address - start < size) return image;
  }
  return nullptr;
}

std::vector<std::shared_ptr<DozidiDebugMeta>> DozidiCrashReportConverter::debugMetaForThreads(
    const std::vector<std::shared_ptr<DozidiThread>>& threads) {
  std::set<std::string> addresses;
  for (const auto& thread : threads) {
    if (!thread->stacktrace) continue;
    for (const auto& frame : thread->stacktrace->frames) {
      if (frame->imageAddress) addresses.insert(*frame->imageAddress);
    }
  }
  std::vector<std::shared_ptr<DozidiDebugMeta>> images;
  for (const Value& value : binaryImages_) {
    const Dictionary* image = value.dictionary();
    if (image != nullptr && addresses.contains(addressText((*image)["image_addr"]))) {
      images.push_back(debugMetaFromBinaryImageDictionary(*image));
    }
  }
  return images;
}

std::shared_ptr<DozidiDebugMeta> DozidiCrashReportConverter::debugMetaFromBinaryImageDictionary(const Dictionary& image) {
  auto meta = DozidiDebugMeta::create();
  meta->uuid = textOf(image["uuid"]);
  meta->type = "elf";
  if (meta->uuid) meta->setELFBuildId(*meta->uuid, textOf(image["build_id"]));
  if (unsignedReading(image["image_vmaddr"]).value_or(0) >= 1) meta->imageVmAddress = addressText(image["image_vmaddr"]);
  meta->imageAddress = addressText(image["image_addr"]);
  meta->imageSize = unsignedReading(image["image_size"]);
  meta->name = textOf(image["name"]);
  return meta;
}

std::optional<std::vector<std::shared_ptr<DozidiException>>> DozidiCrashReportConverter::convertExceptions() {
  if (exceptionContext_.empty()) return std::nullopt;
  const Dictionary& error = exceptionContext_;
  const std::string type = textOf(error["type"]).value_or("Unknown Exception");
  std::string value;
  std::optional<std::string> exceptionType;
  if (type == "nsexception") {
    const Value& reason = error["nsexception"]["reason"];
    value = !reason.isAbsent() ? formatted(reason) : textOf(error["reason"]).value_or("");
    exceptionType = textOf(error["nsexception"]["name"]);
  } else if (type == "cpp_exception") {
    // The thrown type, and what the exception said about itself when it said anything.
    value = formatted(error["cpp_exception"]["name"]);
    if (auto reason = textOf(error["reason"]); reason && !reason->empty()) value += ": " + *reason;
    exceptionType = "C++ Exception";
  } else if (type == "mach") {
    const Dictionary& mach = dictionaryOr(error["mach"]);
    value = "Exception " + formatted(mach["exception"]) + ", Code " + formatted(mach["code"]) + ", Subcode " + formatted(mach["subcode"]);
    exceptionType = textOf(mach["exception_name"]);
  } else if (type == "signal") {
    const Dictionary& signal = dictionaryOr(error["signal"]);
    value = "Signal " + formatted(signal["signal"]) + ", Code " + formatted(signal["code"]);
    exceptionType = textOf(signal["name"]);
  } else if (type == "user") {
    value = formatted(error["reason"]);
    exceptionType = textOf(error["user_reported"]["name"]);
    if (const auto colon = value.find(':'); colon != std::string::npos) {
      exceptionType = value.substr(0, colon);
      value = trimmed(std::string_view(value).substr(colon + 1));
    }
  } else {
    value = "Unknown Exception";
    exceptionType = type;
  }

  value = enhanceValueFromNotableAddresses(std::move(value));
  value = enhanceValueFromCrashInfoMessage(std::move(value));
  auto mechanism = extractMechanismOfType(type);
  // Without a crashed thread the exception has no stack trace: another thread's stack would be
  // attributed to it.
  std::shared_ptr<DozidiThread> crashed = crashedThread();
  if (!diagnosis_.empty() && value.find(diagnosis_) == std::string::npos) value += " >\n" + diagnosis_;

  auto exception = DozidiException::initWithValue(value, exceptionType);
  exception->mechanism = std::move(mechanism);
  if (crashed) {
    exception->threadId = crashed->threadId;
    exception->stacktrace = crashed->stacktrace;
  }
  return std::vector<std::shared_ptr<DozidiException>>{exception};
}

std::string DozidiCrashReportConverter::enhanceValueFromNotableAddresses(std::string value) const {
  if (!crashedThreadIndex_) return value;
  std::vector<std::string> texts;
  for (const auto& [name, entry] : dictionaryOr(threads_[*crashedThreadIndex_]["notable_addresses"])) {
    if (textOf(entry["type"]) != "string") continue;
    const std::optional<std::string> text = textOf(entry["value"]);
    if (!text || std::count(text->begin(), text->end(), '/') >= 2) continue;
    if (std::find(texts.begin(), texts.end(), *text) == texts.end()) texts.push_back(*text);
  }
  if (texts.empty()) return value;
  std::stable_sort(texts.begin(), texts.end(),
                   [](const std::string& a, const std::string& b) { return foundation::lowercased(a) < foundation::lowercased(b); });
  std::string joined;
  for (const std::string& text : texts) joined += (joined.empty() ? "" : " > ") + text;
  return joined;
}

std::string DozidiCrashReportConverter::enhanceValueFromCrashInfoMessage(std::string value) const {
  for (const Value& entry : binaryImages_) {
    const std::optional<std::string> name = textOf(entry["name"]);
    if (!name || name->find("libswiftCore.dylib") == std::string::npos) continue;
    if (auto message = textOf(entry["crash_info_message"])) return *message;
    if (auto message = textOf(entry["crash_info_message2"])) return *message;
  }
  return value;
}

std::shared_ptr<DozidiMechanism> DozidiCrashReportConverter::extractMechanismOfType(const std::string& type) const {
  auto mechanism = DozidiMechanism::initWithType(type);
  const Dictionary* mach = exceptionContext_["mach"].dictionary();
  if (mach == nullptr) return mechanism;
  mechanism->handled = false;
  auto meta = DozidiMechanismMeta::create();
  const auto copied = [](const Dictionary& from, std::initializer_list<std::pair<const char*, const char*>> keys) {
    Dictionary out;
    for (const auto& [to, key] : keys) {
      if (from.contains(key)) out.set(to, from[key]);
    }
    return out;
  };
  meta->machException = copied(*mach, {{"name", "exception_name"}, {"exception", "exception"}, {"subcode", "subcode"}, {"code", "code"}});
  if (const Dictionary* signal = exceptionContext_["signal"].dictionary()) {
    meta->signal = copied(*signal, {{"number", "signal"}, {"code", "code"}, {"code_name", "code_name"}, {"name", "name"}});
  }
  mechanism->meta = std::move(meta);
  if (unsignedReading(exceptionContext_["address"]).value_or(0) >= 1) {
    mechanism->data = Dictionary{{"relevant_address", addressText(exceptionContext_["address"])}};
  }
  return mechanism;
}

std::shared_ptr<DozidiUser> DozidiCrashReportConverter::convertUser() const {
  const Dictionary* raw = userContext_["user"].dictionary();
  if (raw == nullptr) return nullptr;
  auto user = DozidiUser::create();
  user->setUserId(textOf((*raw)["id"]));
  user->setEmail(textOf((*raw)["email"]));
  user->setUsername(textOf((*raw)["username"]));
  if (const Dictionary* data = (*raw)["data"].dictionary()) user->setData(*data);
  return user;
}

std::vector<std::shared_ptr<DozidiBreadcrumb>> DozidiCrashReportConverter::convertBreadcrumbs() const {
  std::vector<std::shared_ptr<DozidiBreadcrumb>> crumbs;
  const Array* raw = userContext_["breadcrumbs"].array();
  if (raw == nullptr) return crumbs;
  for (const Value& entry : *raw) {
    if (entry.dictionary() == nullptr) continue;
    auto crumb = DozidiBreadcrumb::initWithLevel(dozidiLevelFromString(entry["level"]), textOf(entry["category"]).value_or("default"));
    crumb->message = textOf(entry["message"]);
    crumb->type = textOf(entry["type"]);
    if (auto text = textOf(entry["timestamp"])) crumb->timestamp = dozidi_fromIso8601String(*text);
    if (const Dictionary* data = entry["data"].dictionary()) crumb->data = *data;
    crumbs.push_back(std::move(crumb));
  }
  return crumbs;
}

DozidiEventLevel DozidiCrashReportConverter::dozidiLevelFromString(const Value& level) {
  const std::optional<std::string> name = textOf(level);
  if (name == "fatal") return DozidiEventLevel::Fatal;
  if (name == "warning") return DozidiEventLevel::Warning;
  if (name == "info" || name == "log") return DozidiEventLevel::Info;
  if (name == "debug") return DozidiEventLevel::Debug;
  return DozidiEventLevel::Error;
}
