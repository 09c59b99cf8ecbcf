#include "app/cli/EventLog.h"

#include <unistd.h>

#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace fendrel::cli {
namespace {

using foundation::Value;

/// A copy of `value` that JSON can hold: dates, URLs, errors, data and other objects become their
/// description text.
Value writable(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Absent:
      return nullptr;
    case Value::Kind::Null:
    case Value::Kind::Number:
    case Value::Kind::String:
      return value;
    case Value::Kind::URL:
      return value.url()->absoluteString();
    case Value::Kind::Error: {
      const foundation::Error& error = *value.error();
      return foundation::Dictionary{
          {"domain", error.domain()}, {"code", error.code()}, {"description", error.localizedDescription()}};
    }
    case Value::Kind::Array: {
      foundation::Array out;
      for (const Value& element : *value.array()) out.push_back(writable(element));
      return out;
    }
    case Value::Kind::Dictionary: {
      foundation::Dictionary out;
      for (const auto& [key, element] : *value.dictionary()) out.set(key, writable(element));
      return out;
    }
    default:
      return value.description();
  }
}

}  // namespace

EventLog& EventLog::shared() {
  static auto* log = new EventLog();
  return *log;
}

void EventLog::takeOverStandardOutput() {
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  if (saved < 0) return;  // keep writing to standard output as it is
  std::FILE* results = ::fdopen(saved, "w");
  if (!results) {
    ::close(saved);
    return;
  }
  if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::fclose(results);
    return;
  }
  std::lock_guard lock(mutex_);
  results_ = results;
}

void EventLog::setEventsToStandardError(bool toStandardError) {
  std::lock_guard lock(mutex_);
  eventsToStandardError_ = toStandardError;
}

std::string EventLog::jsonText(const Value& value) {
  auto text = foundation::JSONSerialization::dataWithJSONObject(
      writable(value),
      foundation::JSONWritingOptions::FragmentsAllowed | foundation::JSONWritingOptions::WithoutEscapingSlashes);
  return text ? *text : value.description();
}

void EventLog::event(std::string_view name, const foundation::Dictionary& fields) {
  foundation::Dictionary line{{"event", name}};
  for (const auto& [key, value] : fields) line.set(key, value);
  std::string json = jsonText(line);
  std::lock_guard lock(mutex_);
  writeLine(eventsToStandardError_ ? stderr : results_, json);
}

void EventLog::result(const Value& value) {
  std::string json = jsonText(value);
  std::lock_guard lock(mutex_);
  writeLine(results_, json);
}

void EventLog::text(std::string_view text) {
  std::lock_guard lock(mutex_);
  writeLine(results_, text);
}

void EventLog::diagnostic(std::string_view text) {
  std::lock_guard lock(mutex_);
  writeLine(stderr, text);
}

void EventLog::writeLine(std::FILE* stream, std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace fendrel::cli
