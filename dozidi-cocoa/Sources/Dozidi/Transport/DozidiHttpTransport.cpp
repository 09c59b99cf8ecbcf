#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiHttpTransport.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDsn.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiNSURLRequestBuilder.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiReachability.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiRequestManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/URLResponse.h"

namespace {

// An unhandled fatal error event, as made from a stored crash report: "level" "fatal" and an
// exception whose mechanism says it was not handled.
bool isCrashEventItem(const DozidiEnvelopeItem& item) {
  if (item.header().type != "event") return false;
  const auto parsed = foundation::JSONSerialization::JSONObjectWithData(item.data().view());
  if (!parsed.ok() || (*parsed)["level"].asString() != "fatal") return false;
  const foundation::Array* exceptions = (*parsed)["exception"]["values"].array();
  if (exceptions == nullptr) return false;
  for (const auto& exception : *exceptions) {
    if (exception["mechanism"]["handled"].asBool() == false) return true;
  }
  return false;
}

}  // namespace

bool DozidiHttpTransport::holdsCrashEvent(const DozidiEnvelope& envelope) {
  for (const auto& item : envelope.items()) {
    if (isCrashEventItem(*item)) return true;
  }
  return false;
}

std::shared_ptr<DozidiHttpTransport> DozidiHttpTransport::initWithOptions(
    std::shared_ptr<DozidiOptions> options, std::shared_ptr<DozidiFileManager> fileManager,
    std::shared_ptr<DozidiRequestManager> requestManager, std::shared_ptr<DozidiNSURLRequestBuilder> requestBuilder,
    std::shared_ptr<DozidiRateLimits> rateLimits, std::shared_ptr<DozidiEnvelopeRateLimit> envelopeRateLimit,
    std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper, std::shared_ptr<DozidiReachability> reachability) {
  std::shared_ptr<DozidiHttpTransport> transport(new DozidiHttpTransport());
  transport->options_ = std::move(options);
  transport->fileManager_ = std::move(fileManager);
  transport->requestManager_ = std::move(requestManager);
  transport->requestBuilder_ = std::move(requestBuilder);
  transport->rateLimits_ = std::move(rateLimits);
  transport->envelopeRateLimit_ = std::move(envelopeRateLimit);
  transport->dispatchQueue_ = std::move(dispatchQueueWrapper);
  transport->reachability_ = std::move(reachability);

  transport->envelopeRateLimit_->setDelegate(transport);
  transport->fileManager_->setDelegate(transport);
  // Envelopes an earlier run could not send go first.
  transport->sendAllCachedEnvelopes();

  if (transport->reachability_) {
    // The cycle starts on the transport's queue: a report never holds the transport, so the
    // transport is never released (and its watch stopped) from inside a report.
    std::weak_ptr<DozidiHttpTransport> weak = transport;
    auto queue = transport->dispatchQueue_;
    transport->reachability_->monitorURL(*foundation::URL::parse(kReachabilityURL),
                                         [weak, queue](bool connected, const std::string&) {
                                           if (!connected) {
                                             DOZIDI_LOG_DEBUG("Lost internet connection.");
                                             return;
                                           }
                                           DOZIDI_LOG_DEBUG("Internet connection is back.");
                                           queue->dispatchAsyncWithBlock([weak] {
                                             if (auto self = weak.lock()) self->sendAllCachedEnvelopes();
                                           });
                                         });
  }
  return transport;
}

DozidiHttpTransport::~DozidiHttpTransport() {
  if (reachability_) reachability_->stopMonitoring();
}

void DozidiHttpTransport::sendEnvelope(std::shared_ptr<const DozidiEnvelope> envelope) {
  // A crash is stored whole even while rate-limited: it waits on disk for the limit to end.
  auto limited =
      envelope && holdsCrashEvent(*envelope) ? envelope : envelopeRateLimit_->removeRateLimitedItems(envelope);
  if (!limited || limited->items().empty()) {
    DOZIDI_LOG_DEBUG("RateLimit is active for all envelope items.");
    return;
  }
  auto withReport = addClientReportTo(limited);
  std::weak_ptr<DozidiHttpTransport> weak = weak_from_this();
  dispatchQueue_->dispatchAsyncWithBlock([weak, withReport] {
    auto self = weak.lock();
    if (!self) return;
    if (auto stored = self->fileManager_->storeEnvelopeContents(*withReport)) {
      std::lock_guard guard(self->lock_);
      self->justStored_ = std::move(stored);
      self->justStoredEnvelope_ = withReport;
    }
    self->sendAllCachedEnvelopes();
  });
}

std::shared_ptr<const DozidiEnvelope> DozidiHttpTransport::addClientReportTo(
    const std::shared_ptr<const DozidiEnvelope>& envelope) {
  if (!options_->sendClientReports) return envelope;
  std::vector<DozidiDiscardedEvent> taken;
  {
    std::lock_guard guard(discardedEventsLock_);
    if (discardedEvents_.empty()) return envelope;
    for (const auto& [key, discarded] : discardedEvents_) taken.push_back(discarded);
    discardedEvents_.clear();
  }
  auto items = envelope->items();
  items.push_back(DozidiEnvelopeItem::initWithClientReport(DozidiClientReport(std::move(taken))));
  return std::make_shared<const DozidiEnvelope>(envelope->header(), std::move(items));
}

void DozidiHttpTransport::sendAllCachedEnvelopes() {
  DOZIDI_LOG_DEBUG("sendAllCachedEnvelopes start.");
  {
    std::lock_guard guard(lock_);
    if (isSending_ || !requestManager_->isReady()) {
      DOZIDI_LOG_DEBUG("Already sending.");
      return;
    }
    isSending_ = true;
  }
  std::optional<DozidiFileContents> known;
  std::shared_ptr<const DozidiEnvelope> knownEnvelope;
  {
    std::lock_guard guard(lock_);
    known = std::exchange(justStored_, std::nullopt);
    knownEnvelope = std::exchange(justStoredEnvelope_, nullptr);
  }
  auto file = fileManager_->getOldestEnvelope(known ? &*known : nullptr);
  std::shared_ptr<const DozidiEnvelope> envelope;
  if (file && known && file->path() == known->path()) {
    envelope = knownEnvelope;
  } else {
    envelope = file ? DozidiSerialization::envelopeWithData(file->contents().view()) : nullptr;
    // Not taken this time (older files go first): it stays at hand for a later cycle, unless a
    // newer store replaced it meanwhile.
    std::lock_guard guard(lock_);
    if (known && !justStored_) {
      justStored_ = std::move(known);
      justStoredEnvelope_ = std::move(knownEnvelope);
    }
  }
  if (file && envelope && isHeld(file->path(), *envelope)) {
    // The oldest is a crash that must wait: the cycle goes on with the oldest of the others.
    file.reset();
    envelope = nullptr;
    for (auto& candidate : fileManager_->getAllEnvelopes()) {
      auto parsed = DozidiSerialization::envelopeWithData(candidate.contents().view());
      if (parsed && isHeld(candidate.path(), *parsed)) continue;
      file = std::move(candidate);
      envelope = std::move(parsed);
      break;
    }
  }
  if (!file) {
    DOZIDI_LOG_DEBUG("No envelopes left to send.");
    finishedSending();
    return;
  }
  if (!envelope) {
    deleteEnvelopeAndSendNext(file->path());
    return;
  }
  const auto limited = envelopeRateLimit_->removeRateLimitedItems(envelope);
  if (limited->items().empty()) {
    deleteEnvelopeAndSendNext(file->path());
    return;
  }
  foundation::Error error("", 0);
  const auto& dsn = options_->parsedDsn();
  auto request = dsn ? requestBuilder_->createEnvelopeRequest(*limited, *dsn, &error) : std::nullopt;
  if (!request) {
    recordLostEventFor(limited->items());
    deleteEnvelopeAndSendNext(file->path());
    return;
  }
  sendEnvelope(limited, file->path(), std::move(*request));
}

void DozidiHttpTransport::sendEnvelope(std::shared_ptr<const DozidiEnvelope> envelope,
                                       const std::string& envelopePath, foundation::URLRequest request) {
  std::weak_ptr<DozidiHttpTransport> weak = weak_from_this();
  requestManager_->addRequest(
      std::move(request), [weak, envelope, envelopePath](std::shared_ptr<foundation::HTTPURLResponse> response,
                                                         std::optional<foundation::Error> error) {
        auto self = weak.lock();
        if (!self) return;
        if (!response) {
          // No answer: the file stays for a later cycle, so nothing is lost yet.
          DOZIDI_LOG_DEBUG("No internet connection.");
          self->finishedSending();
          return;
        }
        if (error && response->statusCode() != 429) self->recordLostEventFor(envelope->items());
        self->rateLimits_->update(*response);
        if (response->statusCode() == 429 && holdsCrashEvent(*envelope)) {
          self->keepCrashEnvelopeAndSendNext(envelopePath);
          return;
        }
        self->deleteEnvelopeAndSendNext(envelopePath, true);
      });
}

void DozidiHttpTransport::deleteEnvelopeAndSendNext(const std::string& envelopePath, bool afterAnswer) {
  DOZIDI_LOG_DEBUG("Deleting envelope and sending next.");
  // A file that could not be removed would be sent again by the next cycle: that one waits for
  // the pause even during a flush, so a folder that refuses removals is not flooded with copies.
  const bool removed = fileManager_->removeFileAtPath(envelopePath) ||
                       !foundation::FileManager::defaultManager().fileExists(envelopePath);
  scheduleNextCycle(removed, afterAnswer);
}

void DozidiHttpTransport::keepCrashEnvelopeAndSendNext(const std::string& envelopePath) {
  DOZIDI_LOG_DEBUG("Rate limited: keeping the crash envelope for a later cycle.");
  {
    std::lock_guard guard(lock_);
    // Unless the answer limited its category, it waits for the next start, never resent at once.
    if (!rateLimits_->isRateLimitActive(dozidiDataCategoryForEnvelopeItemType("event"))) {
      heldUntilNextStart_.insert(envelopePath);
    }
  }
  scheduleNextCycle();
}

bool DozidiHttpTransport::isHeld(const std::string& envelopePath, const DozidiEnvelope& envelope) {
  if (!holdsCrashEvent(envelope)) return false;
  if (rateLimits_->isRateLimitActive(dozidiDataCategoryForEnvelopeItemType("event"))) return true;
  std::lock_guard guard(lock_);
  return heldUntilNextStart_.contains(envelopePath);
}

void DozidiHttpTransport::scheduleNextCycle(bool atOnceWhileFlushing, bool onThisThread) {
  bool flushing = false;
  {
    std::lock_guard guard(lock_);
    isSending_ = false;
    flushing = isFlushing_ && atOnceWhileFlushing;
  }
  std::weak_ptr<DozidiHttpTransport> weak = weak_from_this();
  auto nextCycle = [weak] {
    if (auto self = weak.lock()) self->sendAllCachedEnvelopes();
  };
  // The pause spreads the uploads of a running app out. A flush has its caller waiting until the
  // cache is empty (at the end of a program, for the session it just ended): its cycles follow
  // one another at once.
  // After an answer, the flushing cycle goes on on the answer's thread: a hand-over to the queue
  // costs the waiting caller a wake-up of one more thread, which is most of a cycle that finds
  // the cache empty. Cycles started on the queue itself go back to it, so that a run of files
  // removed without an upload never nests cycles.
  if (flushing && onThisThread) {
    nextCycle();
  } else if (flushing) {
    dispatchQueue_->dispatchAsyncWithBlock(std::move(nextCycle));
  } else {
    dispatchQueue_->dispatchAfter(kNextCycleDelay, std::move(nextCycle));
  }
}

void DozidiHttpTransport::finishedSending() {
  DOZIDI_LOG_DEBUG("Finished sending.");
  std::lock_guard guard(lock_);
  isSending_ = false;
  if (isFlushing_ && flushArmed_ && !flushDone_) {
    DOZIDI_LOG_DEBUG("Stop flushing.");
    flushDone_ = true;
    flushed_.notify_all();
  }
}

void DozidiHttpTransport::recordLostEventFor(const DozidiEnvelopeItems& items) {
  for (const auto& item : items) {
    if (item->header().type == "client_report") continue;
    recordLostEvent(dozidiDataCategoryForEnvelopeItemType(item->header().type), DozidiDiscardReason::NetworkError);
  }
}

void DozidiHttpTransport::recordLostEvent(DozidiDataCategory category, DozidiDiscardReason reason) {
  if (!options_->sendClientReports) return;
  const auto key = nameForDozidiDataCategory(category) + ":" + nameForDozidiDiscardReason(reason);
  std::lock_guard guard(discardedEventsLock_);
  const auto found = discardedEvents_.find(key);
  const std::uint64_t quantity = found == discardedEvents_.end() ? 1 : found->second.quantity() + 1;
  discardedEvents_.insert_or_assign(key, DozidiDiscardedEvent(reason, category, quantity));
}

bool DozidiHttpTransport::flush(double timeout) {
  auto& clock = dispatch::Clock::current();
  const double deadline = clock.deadlineAfter(timeout);
  std::uint64_t generation = 0;
  {
    std::lock_guard guard(lock_);
    if (isFlushing_) {
      DOZIDI_LOG_DEBUG("Already flushing.");
      return false;
    }
    DOZIDI_LOG_DEBUG("Start flushing.");
    isFlushing_ = true;
    flushArmed_ = false;
    flushDone_ = false;
    generation = ++flushGeneration_;
  }
  std::weak_ptr<DozidiHttpTransport> weak = weak_from_this();
  dispatchQueue_->dispatchAsyncWithBlock([weak, generation] {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard armed(self->lock_);
      if (self->isFlushing_ && self->flushGeneration_ == generation) self->flushArmed_ = true;
    }
    self->sendAllCachedEnvelopes();
  });
  std::unique_lock guard(lock_);
  // The flush stays marked until it returns, so a second flush never takes over its wait.
  const bool finished = clock.waitUntil(flushed_, guard, deadline, [this] { return flushDone_; });
  isFlushing_ = false;
  flushArmed_ = false;
  flushDone_ = false;
  if (finished) {
    DOZIDI_LOG_DEBUG("Finished flushing.");
  } else {
    DOZIDI_LOG_DEBUG("Flushing timed out.");
  }
  return finished;
}

void DozidiHttpTransport::envelopeItemDropped(DozidiDataCategory category) {
  recordLostEvent(category, DozidiDiscardReason::RateLimitBackoff);
}

void DozidiHttpTransport::envelopeItemDeleted(DozidiDataCategory category) {
  recordLostEvent(category, DozidiDiscardReason::CacheOverflow);
}
