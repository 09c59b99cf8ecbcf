#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanId.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/detail/DozidiLockedDictionary.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"
#include "platform/foundation/Value.h"

/// Whether a trace is sampled: undecided, yes or no.
enum class DozidiSampleDecision : std::int64_t { Undecided = 0, Yes = 1, No = 2 };

/// How a span ended. 0 (undefined) until the span is finished.
enum class DozidiSpanStatus : std::uint64_t {
  Undefined = 0,
  Ok = 1,
  DeadlineExceeded = 2,
  Unauthenticated = 3,
  PermissionDenied = 4,
  NotFound = 5,
  ResourceExhausted = 6,
  InvalidArgument = 7,
  Unimplemented = 8,
  Unavailable = 9,
  InternalError = 10,
  UnknownError = 11,
  Cancelled = 12,
  AlreadyExists = 13,
  FailedPrecondition = 14,
  Aborted = 15,
  OutOfRange = 16,
  DataLoss = 17,
};

/// "undecided", "true" or "false"; any unknown value reads "undecided".
const char* nameForDozidiSampleDecision(DozidiSampleDecision decision);
/// The status's wire name; 0 and every value above 17 read "undefined".
const char* nameForDozidiSpanStatus(DozidiSpanStatus status);

/// The identity and description of one span: trace id, span id, parent, sampling decision,
/// operation, description, status and the context's own tags. Any thread may use it: the tags
/// have their own lock, the status and the description are guarded too, the ids never change.
class DozidiSpanContext {
 public:
  static constexpr const char* type = "trace";

  /// New random trace id and span id, no parent.
  static std::shared_ptr<DozidiSpanContext> initWithOperation(
      std::string operation, DozidiSampleDecision sampled = DozidiSampleDecision::Undecided);
  static std::shared_ptr<DozidiSpanContext> initWithTraceId(DozidiId traceId, DozidiSpanId spanId,
                                                             std::optional<DozidiSpanId> parentId,
                                                             std::string operation, DozidiSampleDecision sampled);
  virtual ~DozidiSpanContext() = default;

 protected:
  /// Makes the constructor callable by `std::make_shared` (one block for the context and its
  /// count) and by nobody outside.
  struct Token {
    explicit Token() = default;
  };

 public:
  DozidiSpanContext(Token, DozidiId traceId, DozidiSpanId spanId, std::optional<DozidiSpanId> parentId,
                    std::string operation, DozidiSampleDecision sampled);

  const DozidiId& traceId() const { return traceId_; }
  const DozidiSpanId& spanId() const { return spanId_; }
  const std::optional<DozidiSpanId>& parentSpanId() const { return parentSpanId_; }
  DozidiSampleDecision sampled() const { return sampled_.load(std::memory_order_relaxed); }
  void setSampled(DozidiSampleDecision sampled) { sampled_.store(sampled, std::memory_order_relaxed); }
  const std::string& operation() const { return operation_; }
  std::optional<std::string> spanDescription() const;
  void setSpanDescription(std::optional<std::string> description);
  DozidiSpanStatus status() const { return status_.load(std::memory_order_acquire); }
  void setStatus(DozidiSpanStatus status) { status_.store(status, std::memory_order_release); }

  /// A none value removes the key.
  void setTagValue(std::optional<std::string> value, const std::string& key);
  void removeTagForKey(const std::string& key);
  /// A copy of the tags.
  foundation::Dictionary tags() const;

  /// "type", "span_id", "trace_id" and "op" always; then "tags" (when there are any), "sampled"
  /// (unless undecided), "description", "parent_span_id" and "status" (unless 0), each when set.
  virtual foundation::Dictionary serialize() const;
  /// Appends the members `serialize` gives, as compact JSON text without the braces, in the same
  /// order, with `tags` in place of the context's own (a span writes them laid under its own).
  /// False, with `out` partly written, when JSON cannot hold them.
  bool appendJSONMembers(std::string& out, const foundation::Dictionary& tags) const;
  /// The most keys a serialised span has: the context's nine, a span's two times and its data.
  static constexpr std::size_t kSerializedSpanKeys = 12;

 private:
  DozidiId traceId_;
  DozidiSpanId spanId_;
  std::optional<DozidiSpanId> parentSpanId_;
  std::atomic<DozidiSampleDecision> sampled_;
  std::string operation_;
  detail::DozidiLockedDictionary tags_;
  mutable std::mutex lock_;
  std::optional<std::string> description_;
  std::atomic<DozidiSpanStatus> status_{DozidiSpanStatus::Undefined};
};
