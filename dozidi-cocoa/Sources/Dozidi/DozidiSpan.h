#pragma once
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

/// The span or transaction a scope may be bound to, as far as the scope needs it: the dictionary
/// of its span context, and for a tracer the name of its transaction.
class DozidiSpan {
 public:
  virtual ~DozidiSpan() = default;
  /// The span context's dictionary, which an event carries as its "trace" context.
  virtual foundation::Dictionary serializeSpanContext() const = 0;
  /// The transaction name when the span is a tracer; none for any other span.
  virtual std::optional<std::string> tracerTransactionName() const { return std::nullopt; }
};
