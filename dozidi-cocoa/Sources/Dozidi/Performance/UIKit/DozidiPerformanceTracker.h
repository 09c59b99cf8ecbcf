#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanId.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransactionContext.h"

/// The registry through which automatic instrumentation opens, nests and closes spans by id,
/// without holding span objects itself. One stack of active spans serves the whole process: a
/// span started while another is active becomes its child, and the tracker is the delegate of
/// the transactions it starts, so children started on them directly nest the same way.
///
/// Any thread may call it. The span map and the stack have a lock each and are never held
/// together; spans are finished outside the map's lock. Each activation removes its own span
/// from the stack when it ends (the newest occurrence), so a thread that ends its activation
/// never takes another thread's span off the stack.
class DozidiPerformanceTracker final : public DozidiTracerDelegate,
                                       public std::enable_shared_from_this<DozidiPerformanceTracker> {
 public:
  /// The one tracker, made on first use and never destroyed.
  static std::shared_ptr<DozidiPerformanceTracker> shared();
  /// A tracker of its own, for tests.
  static std::shared_ptr<DozidiPerformanceTracker> create();

  /// A child of the active span; without one, a new transaction on the current hub that waits
  /// for its children. Returns the empty id when the span has none.
  DozidiSpanId startSpanWithName(const std::string& name, const std::string& operation);
  DozidiSpanId startSpanWithName(const std::string& name, DozidiTransactionNameSource nameSource,
                                 const std::string& operation);

  /// Runs `block` with the span active; an id that names no open span just runs it.
  void activateSpan(const DozidiSpanId& spanId, const std::function<void()>& block);
  /// Starts a span, runs `block` with it active, then finishes it with status ok.
  void measureSpanWithDescription(const std::string& description, const std::string& operation,
                                  const std::function<void()>& block);
  void measureSpanWithDescription(const std::string& description, DozidiTransactionNameSource nameSource,
                                  const std::string& operation, const std::function<void()>& block);
  /// The measuring above while `parentSpanId` is active.
  void measureSpanWithDescription(const std::string& description, const std::string& operation,
                                  const DozidiSpanId& parentSpanId, const std::function<void()>& block);
  void measureSpanWithDescription(const std::string& description, DozidiTransactionNameSource nameSource,
                                  const std::string& operation, const DozidiSpanId& parentSpanId,
                                  const std::function<void()>& block);

  /// The id of the span on top of the stack, or none.
  std::optional<DozidiSpanId> activeSpanId();
  /// Puts the open span of that id on top of the stack; false when no open span has the id.
  bool pushActiveSpan(const DozidiSpanId& spanId);
  /// Removes the top of the stack, whatever thread pushed it; nothing when it is empty.
  void popActiveSpan();

  /// Takes the span out of the map and finishes it; an unknown id does nothing.
  void finishSpan(const DozidiSpanId& spanId);
  void finishSpan(const DozidiSpanId& spanId, DozidiSpanStatus status);
  bool isSpanAlive(const DozidiSpanId& spanId);
  std::shared_ptr<DozidiSpan> getSpan(const DozidiSpanId& spanId);

  /// The top of the stack, whatever tracer it belongs to; the tracer checks that it is its own.
  std::shared_ptr<DozidiSpan> activeSpanForTracer(DozidiTracer& tracer) override;

 private:
  DozidiPerformanceTracker() = default;
  std::shared_ptr<DozidiSpan> startTransaction(const std::string& name, DozidiTransactionNameSource nameSource,
                                               const std::string& operation);
  /// Removes the newest occurrence of `span` from the stack.
  void removeActiveSpan(const std::shared_ptr<DozidiSpan>& span);

  std::mutex spansLock_;
  std::unordered_map<DozidiSpanId, std::shared_ptr<DozidiSpan>> spans_;
  std::mutex stackLock_;
  std::vector<std::shared_ptr<DozidiSpan>> activeSpanStack_;
};
