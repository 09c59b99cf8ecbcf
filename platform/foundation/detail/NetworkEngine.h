#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/foundation/HTTPHeaderFields.h"
#include "platform/foundation/URLRequest.h"
#include "platform/foundation/URLResponse.h"

namespace foundation::detail {

/// Receives the events of one transfer, on the network thread, in this order: the response (at
/// most once, before any body byte), body chunks, then the end (exactly once).
class TransferObserver {
 public:
  virtual ~TransferObserver() = default;
  virtual void transferDidReceiveResponse(std::shared_ptr<URLResponse> response) = 0;
  /// Returns an error to stop the transfer; the end then reports that error.
  virtual std::optional<Error> transferDidReceiveData(std::string_view bytes) = 0;
  virtual void transferDidEnd(std::optional<Error> error) = 0;
};

/// What a transfer needs beyond its request.
struct TransferOptions {
  double idleTimeoutSeconds = 60.0;      ///< no byte sent or received for this long: TimedOut
  double resourceTimeoutSeconds = 0.0;   ///< the whole transfer; 0: no limit
  HTTPHeaderFields additionalHeaders;    ///< added unless the request sets the same field
};

/// The process's one network thread: drives every transfer with a curl multi handle.
class NetworkEngine {
 public:
  /// Created on first use, never destroyed.
  static NetworkEngine& shared();

  /// Starts a transfer and returns its identifier (never 0). Requests the engine cannot load end at
  /// once, on the network thread, with an UnsupportedURL or BadURL error.
  std::uint64_t start(const URLRequest& request, const TransferOptions& options,
                      std::shared_ptr<TransferObserver> observer);
  /// Ends a running transfer with URLError Cancelled; does nothing for one that has ended.
  void cancel(std::uint64_t transfer);

  struct Impl;

 private:
  NetworkEngine();
  Impl* impl_;
};

/// A URL-domain error about `url`, with the platform's description for `code` and, when given, a
/// debugging description.
Error makeURLError(std::int64_t code, const URL& url, std::string_view debugDescription = {});
Error makeURLError(URLError code, const URL& url, std::string_view debugDescription = {});

}  // namespace foundation::detail
