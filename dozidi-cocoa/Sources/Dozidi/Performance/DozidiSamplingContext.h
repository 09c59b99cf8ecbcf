#pragma once
#include <memory>
#include <optional>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransactionContext.h"
#include "platform/foundation/Value.h"

/// What the samplers and the user's sampler callbacks decide from: the transaction's context and
/// the caller's own sampling values.
class DozidiSamplingContext {
 public:
  explicit DozidiSamplingContext(std::shared_ptr<DozidiTransactionContext> transactionContext,
                                 std::optional<foundation::Dictionary> customSamplingContext = std::nullopt)
      : transactionContext_(std::move(transactionContext)), customSamplingContext_(std::move(customSamplingContext)) {}

  const std::shared_ptr<DozidiTransactionContext>& transactionContext() const { return transactionContext_; }
  const std::optional<foundation::Dictionary>& customSamplingContext() const { return customSamplingContext_; }

 private:
  std::shared_ptr<DozidiTransactionContext> transactionContext_;
  std::optional<foundation::Dictionary> customSamplingContext_;
};
