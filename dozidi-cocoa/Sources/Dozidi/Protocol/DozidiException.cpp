#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"

using foundation::Dictionary;

std::shared_ptr<DozidiException> DozidiException::initWithValue(std::optional<std::string> value,
                                                                std::optional<std::string> type) {
  auto exception = std::shared_ptr<DozidiException>(new DozidiException());
  exception->value = std::move(value);
  exception->type = std::move(type);
  return exception;
}

Dictionary DozidiException::serialize() const {
  Dictionary result;
  if (value) result.set("value", *value);
  if (type) result.set("type", *type);
  if (mechanism) result.set("mechanism", mechanism->serialize());
  if (module) result.set("module", *module);
  if (threadId) result.set("thread_id", *threadId);
  if (stacktrace) result.set("stacktrace", stacktrace->serialize());
  return result;
}
