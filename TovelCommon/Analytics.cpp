#include "TovelCommon/Analytics.h"

#include <cctype>
#include <charconv>
#include <utility>

#include "platform/foundation/Console.h"
#include "platform/foundation/DeviceFacts.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UUID.h"

namespace tovel {
namespace {

using foundation::Value;

/// A text between double quotes, with quote and backslash escaped by a backslash.
std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

/// Plain decimal notation (never an exponent), the shortest that reads back the same.
std::string plainDecimal(double value) {
  char buffer[512];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (ec != std::errc()) return foundation::Number::fromDouble(value).stringValue();
  return std::string(buffer, end);
}

std::string numberText(const foundation::Number& number) {
  if (number.isBool()) return number.rawInt64() != 0 ? "true" : "false";
  if (number.kind() == foundation::Number::Kind::Decimal) return plainDecimal(number.rawDouble());
  return number.stringValue();
}

/// The sorted "key":"value" entries joined by ":". Keys are quoted and escaped like values, so
/// that a key holding ':' or '"' cannot make two different text maps read the same: equal digests
/// mean equal text maps.
std::string digest(const AnalyticsTexts& texts) {
  std::string out;
  for (const auto& [key, text] : texts) {
    if (!out.empty()) out += ':';
    out += quoted(key);
    out += ':';
    out += quoted(text);
  }
  return out;
}

/// ["key": "value", ...], or [:] for an empty map.
std::string trackListing(const AnalyticsTexts& texts) {
  if (texts.empty()) return "[:]";
  std::string out = "[";
  bool first = true;
  for (const auto& [key, text] : texts) {
    if (!first) out += ", ";
    first = false;
    out += quoted(key);
    out += ": ";
    out += quoted(text);
  }
  out += ']';
  return out;
}

/// Each word's first letter upper-case and the rest lower-case (ASCII letters; other bytes kept).
std::string capitalized(std::string_view text) {
  std::string out(text);
  bool wordStart = true;
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    const bool ascii = u < 0x80;
    const bool alnum = ascii && std::isalnum(u);
    if (ascii && std::isalpha(u)) c = static_cast<char>(wordStart ? std::toupper(u) : std::tolower(u));
    wordStart = ascii && !alnum;
  }
  return out;
}

}  // namespace

std::optional<std::string> Analytics::textForm(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Absent:
      return std::nullopt;
    case Value::Kind::Null:
      return "null";
    case Value::Kind::String:
      return *value.string();
    case Value::Kind::Number:
      return numberText(*value.number());
    case Value::Kind::URL:
      return value.url()->absoluteString();
    case Value::Kind::Error: {
      const foundation::Error& error = *value.error();
      return error.domain() + " " + std::to_string(error.code()) + " " + error.localizedDescription();
    }
    case Value::Kind::Array: {
      std::string out = "[";
      bool first = true;
      for (const Value& element : *value.array()) {
        if (!first) out += ", ";
        first = false;
        out += quoted(textForm(element).value_or(""));
      }
      out += ']';
      return out;
    }
    case Value::Kind::Data:
    case Value::Kind::Date:
    case Value::Kind::Dictionary:
    case Value::Kind::Opaque:
      return value.description();
  }
  return value.description();
}

std::shared_ptr<Analytics> Analytics::create(const InternalAnalyticsHandler& sink,
                                             std::weak_ptr<ExternalAnalyticsHandler> externalHandler) {
  std::shared_ptr<Analytics> analytics(new Analytics(sink.clone()));
  analytics->analytics_->setDistinctId(analytics->identifier());
  analytics->externalAnalyticsHandler_ = std::move(externalHandler);
  return analytics;
}

Analytics::Analytics(std::unique_ptr<InternalAnalyticsHandler> sink) : analytics_(std::move(sink)) {}

std::string Analytics::identifier() {
  std::lock_guard lock(mutex_);
  return identifierLocked();
}

std::string Analytics::identifierLocked() {
  if (!identifier_) {
    // A device without a vendor identifier gets a fresh one for this run only.
    std::optional<foundation::UUID> vendor;
    if (auto text = foundation::DeviceFacts::current().identifierForVendor)
      vendor = foundation::UUID::fromString(*text);
    identifier_ = vendor ? vendor->uuidString() : foundation::UUID().uuidString();
  }
  return *identifier_;
}

bool Analytics::enabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void Analytics::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

namespace {

struct ReenteredEvent {
  std::string event;
  AnalyticsParameters params;
  Once once;
};

/// A log() call in progress on this thread. A call that re-enters the same front end (from its
/// handler or sink) is queued in the outer call's frame and run by that call afterwards.
struct LogFrame {
  const Analytics* owner;
  LogFrame* outer;
  std::deque<ReenteredEvent> reentered;
};

thread_local LogFrame* tLogFrames = nullptr;

}  // namespace

void Analytics::log(std::string_view event, const AnalyticsParameters& params, Once once) {
  for (LogFrame* frame = tLogFrames; frame != nullptr; frame = frame->outer) {
    if (frame->owner == this) {
      frame->reentered.push_back({std::string(event), params, once});
      return;
    }
  }
  LogFrame frame{this, tLogFrames, {}};
  tLogFrames = &frame;
  decide(std::string(event), params, once);
  for (;;) {
    deliverQueued();
    if (frame.reentered.empty()) break;
    ReenteredEvent next = std::move(frame.reentered.front());
    frame.reentered.pop_front();
    decide(next.event, next.params, next.once);
  }
  tLogFrames = frame.outer;
}

void Analytics::decide(const std::string& event, const AnalyticsParameters& params, Once once) {
  // The dimensions are gathered and turned into text without the lock: the handler is outside code.
  auto handler = externalAnalyticsHandler_.lock();
  AnalyticsParameters merged;
  if (handler) {
    if (auto dimensions = handler->commonAnalyticsDimensions()) merged = std::move(*dimensions);
  }
  for (const auto& [key, value] : params) merged.insert_or_assign(key, value);

  Delivery delivery{event, {}, nullptr, false, foundation::Date::now(), ""};
  for (const auto& [key, value] : merged) {
    if (auto text = textForm(value)) delivery.texts.emplace(key, std::move(*text));
  }
  std::string hash = digest(delivery.texts);

  std::lock_guard lock(mutex_);
  const bool skipped = (once == Once::Yes && eventsToSkip_.contains(event)) ||
                       (lastEvent_ == event && lastDimsHash_ == hash);
  if (skipped) {
    delivery.consolePrefix = "--SKIP--";
  } else {
    delivery.handler = std::move(handler);
    lastEvent_ = event;
    lastDimsHash_ = std::move(hash);
    if (once == Once::Yes) eventsToSkip_.insert(event);
    delivery.send = enabled_;
    if (!enabled_) delivery.consolePrefix = "--DISABLED--";
  }
  outbox_.push_back(std::move(delivery));
}

void Analytics::deliverQueued() {
  {
    std::lock_guard lock(mutex_);
    // One thread at a time delivers, so the handler, the sink and the console see the events in
    // the order they were decided; the others leave theirs to it.
    if (delivering_) return;
    delivering_ = true;
  }
  for (;;) {
    Delivery next;
    {
      std::lock_guard lock(mutex_);
      if (outbox_.empty()) {
        delivering_ = false;
        return;
      }
      next = std::move(outbox_.front());
      outbox_.pop_front();
    }
    if (next.handler) next.handler->log(next.event, next.texts);
    if (next.send) {
      foundation::Dictionary properties;
      for (const auto& [key, text] : next.texts) properties.set(key, text);
      analytics_->track(next.event, properties, next.date);
    }
    foundation::Console::print(next.consolePrefix + "TRACK " + next.event + "=" + trackListing(next.texts));
  }
}

void Analytics::logError(std::string_view event, std::string_view failReason, const AnalyticsParameters& params,
                         std::string_view file, std::uint64_t line) {
  AnalyticsParameters copy = params;
  copy.insert_or_assign("failReason", Value(failReason));
  copy.insert_or_assign("file", Value(file));
  copy.insert_or_assign("line", Value(line));
  log(event, copy, Once::No);
}

void Analytics::logPurchase(bool success, std::string_view itemName, std::string_view itemId,
                            foundation::Number itemPrice, const AnalyticsParameters& params,
                            std::optional<std::string> currency) {
  AnalyticsParameters copy = params;
  copy.insert_or_assign("itemName", Value(itemName));
  copy.insert_or_assign("itemId", Value(itemId));
  copy.insert_or_assign("itemPrice", Value(itemPrice));
  if (currency) {
    copy.insert_or_assign("currency", Value(std::move(*currency)));
  } else {
    copy.erase("currency");
  }
  log(success ? "InAppPurchasePurchased" : "InAppPurchaseFailed", copy, Once::No);
}

void Analytics::logInvite(std::string_view channel, const AnalyticsParameters& params) {
  log("invite" + capitalized(channel), params, Once::No);
}

}  // namespace tovel
