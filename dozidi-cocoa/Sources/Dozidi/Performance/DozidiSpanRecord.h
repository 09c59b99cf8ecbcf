#pragma once
#include <atomic>
#include <memory>
#include <mutex>

#include "dozidi-cocoa/Sources/Dozidi/Performance/detail/DozidiLockedDictionary.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSpan.h"

class DozidiTracer;

/// One span of a transaction: its context, start and end dates, data and own tags. It belongs
/// to a tracer, which it holds weakly and tells when it finishes; it never sends anything
/// itself. Any thread may use it: data and tags have a lock each, the dates share another, the
/// finished flag is atomic.
class DozidiSpanRecord : public DozidiSpan, public std::enable_shared_from_this<DozidiSpanRecord> {
 public:
  /// Starts now, on the reporter's clock.
  static std::shared_ptr<DozidiSpanRecord> initWithTracer(const std::shared_ptr<DozidiTracer>& tracer,
                                                          std::shared_ptr<DozidiSpanContext> context);

  /// A child through the tracer, with this span as parent; the do-nothing span once the tracer
  /// is gone.
  std::shared_ptr<DozidiSpan> startChildWithOperation(const std::string& operation,
                                                      std::optional<std::string> description = std::nullopt) override;
  void setDataValue(foundation::Value value, const std::string& key) override;
  void removeDataForKey(const std::string& key) override;
  std::optional<foundation::Dictionary> data() const override;
  void setTagValue(std::optional<std::string> value, const std::string& key) override;
  void removeTagForKey(const std::string& key) override;
  /// Measurements live on the tracer; dropped when it is gone.
  void setMeasurement(const std::string& name, foundation::Number value,
                      std::shared_ptr<const DozidiMeasurementUnit> unit = nullptr) override;
  foundation::Dictionary tags() const override;
  bool isFinished() const override { return finished_.load(std::memory_order_acquire); }
  /// Sets the status, marks the span finished, takes the end date unless one was set before,
  /// and tells the tracer. A second call changes the status but keeps the first end date.
  void finishWithStatus(DozidiSpanStatus status) override;
  /// The context's dictionary with "timestamp" (0 without an end), "start_timestamp", "data"
  /// (when there is any) and "tags" (the context's tags under the span's own).
  foundation::Dictionary serialize() const override;
  /// Appends the dictionary `serialize` gives as compact JSON text, without building it: what a
  /// transaction's text holds for each of its spans. False, with `out` partly written, when JSON
  /// cannot hold some part of it.
  bool appendJSON(std::string& out) const;

  std::shared_ptr<DozidiSpanContext> context() const override { return context_; }
  std::optional<foundation::Date> timestamp() const override;
  void setTimestamp(std::optional<foundation::Date> timestamp) override;
  std::optional<foundation::Date> startTimestamp() const override;
  void setStartTimestamp(std::optional<foundation::Date> startTimestamp) override;

  std::shared_ptr<DozidiTracer> tracer() const { return tracer_.lock(); }

 private:
  struct Token {
    explicit Token() = default;
  };

 public:
  /// Through `initWithTracer` only (the token is private); public so that one allocation holds
  /// the span and its count.
  DozidiSpanRecord(Token, const std::shared_ptr<DozidiTracer>& tracer, std::shared_ptr<DozidiSpanContext> context);

 private:
  std::weak_ptr<DozidiTracer> tracer_;
  std::shared_ptr<DozidiSpanContext> context_;
  detail::DozidiLockedDictionary data_;
  detail::DozidiLockedDictionary tags_;
  mutable std::mutex datesLock_;
  std::optional<foundation::Date> timestamp_;
  std::optional<foundation::Date> startTimestamp_;
  std::atomic<bool> finished_{false};
};
