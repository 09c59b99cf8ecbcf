#pragma once
#include <memory>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDataCategory.h"

class DozidiEnvelope;

/// Where the client's envelopes go.
class DozidiTransport {
 public:
  virtual ~DozidiTransport() = default;
  /// Accepts an envelope; returns at once.
  virtual void sendEnvelope(std::shared_ptr<const DozidiEnvelope> envelope) = 0;
  /// Counts one lost item of `category` for `reason`.
  virtual void recordLostEvent(DozidiDataCategory category, DozidiDiscardReason reason) = 0;
  /// Blocks for at most `timeout` seconds until what is stored has been sent (or the network
  /// turned out to be missing); true when that happened in time.
  virtual bool flush(double timeout) = 0;
};
