#pragma once
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiClientReport.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiRateLimits.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiTransport.h"
#include "platform/foundation/URLRequest.h"

class DozidiDispatchQueueWrapper;
class DozidiNSURLRequestBuilder;
class DozidiOptions;
class DozidiReachability;
class DozidiRequestManager;

/// Delivers envelopes to the reporting service over HTTP. Every envelope is first written to the
/// file cache; the cached files are then sent one at a time, oldest first, each deleted once the
/// service has answered (whatever the status) and kept when no answer came. Items the service's
/// rate limits forbid are dropped before storing and before sending; what is lost is counted and
/// sent back as a "client_report" item with the next envelope. Sending starts again when the
/// network comes back.
///
/// A crash (an unhandled fatal error event) is the one thing the rate limits never throw away: it
/// is stored even while its category is limited, a 429 answer keeps its file, and send cycles pass
/// over it, to the envelopes behind it, until the limit has ended; then the next cycle (a new
/// envelope, a flush, the network coming back or the next start) sends it.
///
/// Any thread may use it. Storing and send cycles run on the transport's serial queue; answers
/// arrive on the request manager's threads.
class DozidiHttpTransport final : public DozidiTransport,
                                  public DozidiEnvelopeRateLimitDelegate,
                                  public DozidiFileManagerDelegate,
                                  public std::enable_shared_from_this<DozidiHttpTransport> {
 public:
  /// Seconds between the end of one upload and the next send cycle; none while a flush waits.
  static constexpr double kNextCycleDelay = 0.1;
  /// The address watched for network changes.
  static constexpr const char* kReachabilityURL = "https://dozidi.io";

  /// Becomes the delegate of the rate limit and of the file manager, sends what an earlier run
  /// left in the cache, and watches the network.
  static std::shared_ptr<DozidiHttpTransport> initWithOptions(
      std::shared_ptr<DozidiOptions> options, std::shared_ptr<DozidiFileManager> fileManager,
      std::shared_ptr<DozidiRequestManager> requestManager, std::shared_ptr<DozidiNSURLRequestBuilder> requestBuilder,
      std::shared_ptr<DozidiRateLimits> rateLimits, std::shared_ptr<DozidiEnvelopeRateLimit> envelopeRateLimit,
      std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper, std::shared_ptr<DozidiReachability> reachability);
  /// Stops watching the network.
  ~DozidiHttpTransport() override;

  /// Drops rate-limited items (nothing is stored when none is left), adds the client report,
  /// then stores and starts a send cycle on the transport's queue.
  void sendEnvelope(std::shared_ptr<const DozidiEnvelope> envelope) override;
  /// Counted under "<category>:<reason>" unless client reports are off.
  void recordLostEvent(DozidiDataCategory category, DozidiDiscardReason reason) override;
  /// True when the send cycles came to their end (cache empty, or no network) within `timeout`.
  /// The flush's cycle starts on the transport's queue, behind the envelopes still waiting to be
  /// stored, so that everything sent before the flush is covered by it.
  /// A flush while another is waiting returns false at once ("Already flushing."). A flush that
  /// timed out leaves nothing behind: the next one can succeed.
  bool flush(double timeout) override;

  /// A rate limit removed an item: counted as "ratelimit_backoff".
  void envelopeItemDropped(DozidiDataCategory category) override;
  /// The cache removed an item to stay within its size: counted as "cache_overflow".
  void envelopeItemDeleted(DozidiDataCategory category) override;

  /// One send cycle: the oldest cached envelope, unless a cycle is under way.
  void sendAllCachedEnvelopes();

  /// True when an item is an unhandled fatal error event, as converted from a crash report.
  static bool holdsCrashEvent(const DozidiEnvelope& envelope);

 private:
  DozidiHttpTransport() = default;

  std::shared_ptr<const DozidiEnvelope> addClientReportTo(const std::shared_ptr<const DozidiEnvelope>& envelope);
  void sendEnvelope(std::shared_ptr<const DozidiEnvelope> envelope, const std::string& envelopePath,
                    foundation::URLRequest request);
  /// `afterAnswer`: called from an upload's answer (see scheduleNextCycle).
  void deleteEnvelopeAndSendNext(const std::string& envelopePath, bool afterAnswer = false);
  void keepCrashEnvelopeAndSendNext(const std::string& envelopePath);
  /// Clears `isSending` and starts the next cycle after the pause, or at once while a flush waits
  /// and `atOnceWhileFlushing` holds; that one runs on the calling thread when `onThisThread`.
  void scheduleNextCycle(bool atOnceWhileFlushing = true, bool onThisThread = false);
  // A crash envelope that must not go now.
  bool isHeld(const std::string& envelopePath, const DozidiEnvelope& envelope);
  void finishedSending();
  void recordLostEventFor(const DozidiEnvelopeItems& items);

  std::shared_ptr<DozidiOptions> options_;
  std::shared_ptr<DozidiFileManager> fileManager_;
  std::shared_ptr<DozidiRequestManager> requestManager_;
  std::shared_ptr<DozidiNSURLRequestBuilder> requestBuilder_;
  std::shared_ptr<DozidiRateLimits> rateLimits_;
  std::shared_ptr<DozidiEnvelopeRateLimit> envelopeRateLimit_;
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue_;
  std::shared_ptr<DozidiReachability> reachability_;

  // Send-cycle and flush state.
  std::mutex lock_;
  std::condition_variable flushed_;
  bool isSending_ = false;
  bool isFlushing_ = false;
  // Set once the flush's own cycle was started on the transport's queue.
  bool flushArmed_ = false;
  // Tells each flush's cycle from the cycles of earlier flushes that timed out.
  std::uint64_t flushGeneration_ = 0;
  // Set when a send cycle ended after the flush's own cycle was started.
  bool flushDone_ = false;
  // Crash envelopes answered 429 without a limit on their category: they wait for the next start.
  std::set<std::string> heldUntilNextStart_;
  // The envelope this transport stored last, with its file, until a cycle takes it: when it is
  // the oldest, the cycle sends it without reading and parsing its file again.
  std::optional<DozidiFileContents> justStored_;
  std::shared_ptr<const DozidiEnvelope> justStoredEnvelope_;

  std::mutex discardedEventsLock_;
  std::map<std::string, DozidiDiscardedEvent> discardedEvents_;
};
