#pragma once
#include <memory>
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanContext.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Value.h"

class DozidiMeasurementUnit;
class DozidiTraceHeader;

/// What every kind of span offers: a timed operation of a trace with its data, tags and
/// measurements. Three kinds implement it: the span record, the tracer (a transaction's root) and
/// the do-nothing span. Any thread may call every operation.
class DozidiSpan {
 public:
  virtual ~DozidiSpan() = default;

  /// A child of this span; the do-nothing span when no child can be started.
  virtual std::shared_ptr<DozidiSpan> startChildWithOperation(const std::string& operation,
                                                              std::optional<std::string> description = std::nullopt) = 0;
  /// An absent value removes the key.
  virtual void setDataValue(foundation::Value value, const std::string& key) = 0;
  /// The same as setDataValue, under its older name.
  void setExtraValue(foundation::Value value, const std::string& key) { setDataValue(std::move(value), key); }
  virtual void removeDataForKey(const std::string& key) = 0;
  /// A copy of the data; none for the do-nothing span.
  virtual std::optional<foundation::Dictionary> data() const = 0;
  /// A none value removes the key.
  virtual void setTagValue(std::optional<std::string> value, const std::string& key) = 0;
  virtual void removeTagForKey(const std::string& key) = 0;
  virtual void setMeasurement(const std::string& name, foundation::Number value,
                              std::shared_ptr<const DozidiMeasurementUnit> unit = nullptr) = 0;
  /// A copy of the span's own tags.
  virtual foundation::Dictionary tags() const = 0;
  virtual bool isFinished() const = 0;
  /// Finishes with status ok.
  virtual void finish() { finishWithStatus(DozidiSpanStatus::Ok); }
  virtual void finishWithStatus(DozidiSpanStatus status) = 0;
  virtual DozidiTraceHeader toTraceHeader() const;
  virtual foundation::Dictionary serialize() const = 0;

  virtual std::shared_ptr<DozidiSpanContext> context() const = 0;
  /// The end date, none until the span is finished.
  virtual std::optional<foundation::Date> timestamp() const = 0;
  virtual void setTimestamp(std::optional<foundation::Date> timestamp) = 0;
  virtual std::optional<foundation::Date> startTimestamp() const = 0;
  virtual void setStartTimestamp(std::optional<foundation::Date> startTimestamp) = 0;

  /// The span context's dictionary, which an event carries as its "trace" context.
  virtual foundation::Dictionary serializeSpanContext() const { return context()->serialize(); }
  /// The transaction name when the span is a tracer; none for any other span.
  virtual std::optional<std::string> tracerTransactionName() const { return std::nullopt; }
};
