#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiSamplingProfilerBackend.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashDefaultBinaryImageProvider.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiFramesTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransaction.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiDevice.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiProfilePayload.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDebugImageProvider.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiTime.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/Bundle.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr std::uint32_t kSamplingFrequencyHz = 101;

// The real sampler behind the run's interface.
class RealSampler final : public DozidiProfileSampler {
 public:
  explicit RealSampler(dozidi::profiling::SamplingProfiler::Callback callback)
      : sampler_(dozidi::profiling::SamplingProfiler::create(std::move(callback), kSamplingFrequencyHz)) {}
  void startSampling() override { sampler_->startSampling(); }
  void stopSampling() override { sampler_->stopSampling(); }
  bool isSampling() override { return sampler_->isSampling(); }

 private:
  std::shared_ptr<dozidi::profiling::SamplingProfiler> sampler_;
};

// What the payload needs of a linked transaction, copied when it is linked.
struct LinkedTransaction {
  std::string eventId;
  std::string traceId;
  std::string name;
  std::string platform;
  std::optional<foundation::Date> start;
  std::optional<foundation::Date> end;
  std::optional<std::int64_t> activeThreadId;
};

std::string localeIdentifier() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    std::string text(value);
    text = text.substr(0, text.find_first_of(".@"));
    if (!text.empty()) return text;
  }
  return "en_US_POSIX";
}

std::string infoText(const foundation::Dictionary& info, const char* key) {
  const foundation::Value* value = info.find(key);
  return value != nullptr && value->string() != nullptr ? *value->string() : std::string();
}

std::uint64_t secondsToNs(double seconds) { return seconds <= 0 ? 0 : static_cast<std::uint64_t>(seconds * 1e9); }

}  // namespace

/// One profiling run.
class DozidiProfileRun {
 public:
  std::shared_ptr<DozidiProfilePayload> payload;
  std::uint64_t startTimestamp = 0;
  foundation::Date startDate;
  std::uint64_t endTimestamp = 0;
  foundation::Date endDate;
  std::shared_ptr<DozidiProfileSampler> sampler;
  std::vector<std::string> spansInFlight;
  std::vector<LinkedTransaction> transactions;
  int truncationReason = 0;
  DozidiScreenFrames frameInfo;
  std::shared_ptr<DozidiDispatchBlock> timeoutBlock;
  std::weak_ptr<DozidiHub> hub;
  std::function<std::vector<std::shared_ptr<DozidiDebugMeta>>()> debugImages;
  bool stopped = false;

  void stop() {
    if (stopped) return;
    stopped = true;
    if (sampler) sampler->stopSampling();
    endTimestamp = getAbsoluteTime();
    endDate = DozidiCurrentDate::date();
    DOZIDI_LOG_DEBUG("Stopped profiler at system time: " + std::to_string(endTimestamp) + ".");
  }
};

std::shared_ptr<DozidiSamplingProfilerBackend> DozidiSamplingProfilerBackend::create(DozidiProfilingServices services) {
  auto container = DozidiDependencyContainer::sharedInstance();
  if (!services.queue) services.queue = container->dispatchQueueWrapper();
  if (!services.notifications) services.notifications = container->notificationCenterWrapper();
  if (!services.makeSampler) {
    services.makeSampler = [](dozidi::profiling::SamplingProfiler::Callback callback) {
      return std::make_shared<RealSampler>(std::move(callback));
    };
  }
  if (!services.debugImages) {
    services.debugImages = [] {
      DozidiDebugImageProvider provider(std::make_shared<DozidiCrashDefaultBinaryImageProvider>());
      return provider.getDebugImages();
    };
  }
  auto backend = std::shared_ptr<DozidiSamplingProfilerBackend>(new DozidiSamplingProfilerBackend(std::move(services)));
  std::weak_ptr<DozidiSamplingProfilerBackend> weak = backend;
  backend->services_.notifications->addObserver(backend.get(), DozidiNSNotificationCenterWrapper::willResignActiveNotificationName(),
                                                [weak](const auto&...) {
                                                  if (auto self = weak.lock()) self->backgroundAbort();
                                                });
  return backend;
}

void DozidiSamplingProfilerBackend::install() {
  DozidiProfiler::setBackendIfNone([] { return create(); });
}

DozidiSamplingProfilerBackend::DozidiSamplingProfilerBackend(DozidiProfilingServices services)
    : services_(std::move(services)) {}

DozidiSamplingProfilerBackend::~DozidiSamplingProfilerBackend() {
  services_.notifications->removeObserver(this);
  std::lock_guard lock(lock_);
  if (current_) stopLocked(0);
}

void DozidiSamplingProfilerBackend::startForSpanID(const DozidiSpanId& spanId, const std::shared_ptr<DozidiHub>& hub) {
  std::lock_guard lock(lock_);
  if (!current_) {
    auto run = std::make_shared<DozidiProfileRun>();
    run->debugImages = services_.debugImages;
    DozidiFramesTracker::sharedInstance()->resetProfilingTimestamps();
    run->startTimestamp = getAbsoluteTime();
    run->startDate = DozidiCurrentDate::date();
    run->payload = std::make_shared<DozidiProfilePayload>(run->startTimestamp);
    DOZIDI_LOG_DEBUG("Starting profiler at system time " + std::to_string(run->startTimestamp) + ".");
    // The callback holds the payload, not the run: it is written by the sampling thread only and
    // read once the sampler has stopped.
    run->sampler = services_.makeSampler([payload = run->payload](const dozidi::profiling::Backtrace& backtrace) {
      payload->processBacktrace(backtrace);
    });
    run->sampler->startSampling();
    // The timeout runs on a queue, so a run started on a thread without a run loop still ends.
    std::weak_ptr<DozidiSamplingProfilerBackend> weak = weak_from_this();
    run->timeoutBlock = DozidiDispatchBlock::create([weak] {
      if (auto self = weak.lock()) self->timeoutAbort();
    });
    services_.queue->dispatchAfter(services_.timeoutInterval, run->timeoutBlock);
    run->hub = hub;
    current_ = run;
    DozidiProfiler::setRunning(true);
  }
  DOZIDI_LOG_DEBUG("Tracking span with ID " + spanId.description() + " with profiler");
  current_->spansInFlight.push_back(spanId.description());
  runsBySpanId_[spanId.description()] = current_;
}

void DozidiSamplingProfilerBackend::stopLocked(int reason) {
  if (current_->timeoutBlock) services_.queue->dispatchCancel(current_->timeoutBlock);
  current_->stop();
  current_->truncationReason = reason;
  auto frames = DozidiFramesTracker::sharedInstance();
  current_->frameInfo = frames->currentFrames();
  frames->resetProfilingTimestamps();
  current_.reset();
  DozidiProfiler::setRunning(false);
}

void DozidiSamplingProfilerBackend::stopProfilingSpan(const DozidiSpanId& spanId) {
  std::lock_guard lock(lock_);
  if (!current_) {
    DOZIDI_LOG_DEBUG("No profiler tracking span with id " + spanId.description());
    return;
  }
  auto& spans = current_->spansInFlight;
  spans.erase(std::remove(spans.begin(), spans.end(), spanId.description()), spans.end());
  if (spans.empty()) {
    DOZIDI_LOG_DEBUG("Stopping profiler because span with id " + spanId.description() + " was last being profiled.");
    stopLocked(0);
  }
}

void DozidiSamplingProfilerBackend::linkTransaction(const DozidiTransaction& transaction) {
  const auto& trace = transaction.trace();
  if (!trace) {
    DOZIDI_LOG_WARN("Received nil transaction!");
    return;
  }
  const auto& context = trace->transactionContext();
  const std::string spanId = context->spanId().description();
  std::lock_guard lock(lock_);
  auto found = runsBySpanId_.find(spanId);
  if (found == runsBySpanId_.end()) {
    DOZIDI_LOG_DEBUG("No profiler tracking span with id " + spanId);
    return;
  }
  DOZIDI_LOG_DEBUG("Found profiler waiting for span with ID " + spanId);
  LinkedTransaction linked;
  linked.eventId = transaction.eventId.dozidiIdString();
  linked.traceId = context->traceId().dozidiIdString();
  linked.name = transaction.transaction.value_or(context->name());
  linked.platform = transaction.platform;
  linked.start = transaction.startTimestamp;
  linked.end = transaction.timestamp;
  if (context->threadInfo() && context->threadInfo()->threadId) {
    linked.activeThreadId = context->threadInfo()->threadId->int64Value();
  }
  found->second->transactions.push_back(std::move(linked));
  captureEnvelopeIfFinished(found->second, spanId);
}

void DozidiSamplingProfilerBackend::dropTransaction(const DozidiSpanId& spanId) {
  std::lock_guard lock(lock_);
  auto found = runsBySpanId_.find(spanId.description());
  if (found == runsBySpanId_.end()) {
    DOZIDI_LOG_DEBUG("No profiler tracking span with id " + spanId.description());
    return;
  }
  captureEnvelopeIfFinished(found->second, spanId.description());
}

void DozidiSamplingProfilerBackend::captureEnvelopeIfFinished(std::shared_ptr<DozidiProfileRun> run,
                                                              const std::string& spanId) {
  runsBySpanId_.erase(spanId);
  auto& spans = run->spansInFlight;
  spans.erase(std::remove(spans.begin(), spans.end(), spanId), spans.end());
  // The run's other transactions have not all come back yet.
  for (const auto& [id, other] : runsBySpanId_) {
    if (other == run) {
      DOZIDI_LOG_DEBUG("Profiler is waiting for more spans to complete.");
      return;
    }
  }
  // A transaction linked while its run still samples (another span keeps it going) waits too.
  if (!run->stopped) return;
  std::string profileId;
  std::optional<foundation::Dictionary> payload = buildPayload(*run, &profileId);
  run->transactions.clear();
  if (!payload) return;
  foundation::Error error("DozidiProfiler", 0);
  std::optional<foundation::Data> data = DozidiSerialization::dataWithJSONObject(foundation::Value(*payload), &error);
  if (!data) {
    DOZIDI_LOG_DEBUG("Failed to encode profile to JSON: " + error.localizedDescription());
    return;
  }
  auto hub = run->hub.lock();
  if (!hub) return;
  DozidiEnvelopeItemHeader header{"profile", data->size(), std::nullopt, std::nullopt};
  DozidiEnvelopeItems items{std::make_shared<const DozidiEnvelopeItem>(header, std::move(*data))};
  DOZIDI_LOG_DEBUG("Capturing profile envelope.");
  hub->captureEnvelope(std::make_shared<const DozidiEnvelope>(
      DozidiEnvelopeHeader(DozidiId::initWithUUIDString(profileId)), std::move(items)));
}

std::optional<foundation::Dictionary> DozidiSamplingProfilerBackend::buildPayload(DozidiProfileRun& run,
                                                                                 std::string* profileId) {
  if (run.payload->sampleCount() < 2) {
    DOZIDI_LOG_DEBUG("No samples located in profile");
    return std::nullopt;
  }
  const std::uint64_t duration = getDurationNs(run.startTimestamp, run.endTimestamp);
  std::vector<foundation::Value> transactions;
  for (const LinkedTransaction& t : run.transactions) {
    std::uint64_t relativeStart = 0;
    if (t.start && t.start->timeIntervalSince(run.startDate) >= 0) {
      relativeStart = secondsToNs(t.start->timeIntervalSince(run.startDate));
    }
    std::uint64_t relativeEnd = duration;
    if (t.end && t.end->timeIntervalSince(run.endDate) <= 0) {
      const double sinceStart = t.end->timeIntervalSince(run.startDate);
      if (sinceStart < 0) {
        DOZIDI_LOG_DEBUG("Transaction " + t.traceId +
                         " ended before the profiler started, won't associate it with this profile.");
        continue;
      }
      // The duration comes from the monotonic clock and the ends from wall-clock dates, which
      // are read at slightly different moments: a transaction never ends after its profile.
      relativeEnd = std::min(secondsToNs(sinceStart), duration);
    }
    relativeStart = std::min(relativeStart, relativeEnd);
    foundation::Dictionary entry{{"id", t.eventId},
                                 {"trace_id", t.traceId},
                                 {"name", t.name},
                                 {"relative_start_ns", std::to_string(relativeStart)},
                                 {"relative_end_ns", std::to_string(relativeEnd)}};
    if (t.activeThreadId) entry.set("active_thread_id", std::to_string(*t.activeThreadId));
    transactions.emplace_back(std::move(entry));
  }
  // Checked before anything reads the first transaction.
  if (transactions.empty()) {
    DOZIDI_LOG_DEBUG("No transactions to associate with this profile, will not upload.");
    return std::nullopt;
  }

  foundation::Dictionary profile{{"profile", run.payload->serialize()}, {"version", "1"}};
  std::vector<foundation::Value> images;
  if (run.debugImages) {
    for (const auto& image : run.debugImages()) {
      foundation::Dictionary entry{{"type", "elf"}};
      if (image->uuid) entry.set("debug_id", *image->uuid);
      if (image->name) entry.set("code_file", *image->name);
      if (image->imageAddress) entry.set("image_addr", *image->imageAddress);
      if (image->imageSize) entry.set("image_size", *image->imageSize);
      if (image->imageVmAddress) entry.set("image_vmaddr", *image->imageVmAddress);
      images.emplace_back(std::move(entry));
    }
  }
  if (!images.empty()) profile.set("debug_meta", foundation::Dictionary{{"images", foundation::Array(std::move(images))}});
  profile.set("os", foundation::Dictionary{{"name", dozidi::device::getOSName()},
                                           {"version", dozidi::device::getOSVersion()},
                                           {"build_number", dozidi::device::getOSBuildNumber()}});
  profile.set("device", foundation::Dictionary{{"architecture", dozidi::device::getCPUArchitecture()},
                                               {"is_emulator", false},
                                               {"locale", localeIdentifier()},
                                               {"manufacturer", dozidi::device::getDeviceManufacturer()},
                                               {"model", dozidi::device::getDeviceModel()}});
  *profileId = DozidiId().dozidiIdString();
  profile.set("profile_id", *profileId);
  profile.set("duration_ns", std::to_string(duration));
  profile.set("truncation_reason", run.truncationReason == 1   ? "timeout"
                                   : run.truncationReason == 2 ? "backgrounded"
                                                               : "normal");
  profile.set("platform", run.transactions.front().platform);
  std::string environment = "production";
  if (auto hub = run.hub.lock()) {
    if (auto scope = hub->scope(); scope && scope->environmentString()) {
      environment = *scope->environmentString();
    } else if (auto client = hub->getClient(); client && client->options() && client->options()->environment) {
      environment = *client->options()->environment;
    }
  }
  profile.set("environment", environment);
  profile.set("timestamp", dozidi_toIso8601String(DozidiCurrentDate::date()));
  const foundation::Dictionary& info = foundation::Bundle::main()->infoDictionary();
  profile.set("release", infoText(info, "CFBundleVersion") + " (" + infoText(info, "CFBundleShortVersionString") + ")");

  std::vector<foundation::Value> renders;
  for (const foundation::Value& frame : run.frameInfo.frameTimestamps) {
    const std::uint64_t start = secondsToNs(frame["start_timestamp"].asDouble().value_or(0));
    const std::uint64_t end = secondsToNs(frame["end_timestamp"].asDouble().value_or(0));
    if (start < run.startTimestamp || end < start) continue;
    const std::uint64_t relativeEnd = end - run.startTimestamp;
    if (relativeEnd > duration) {
      DOZIDI_LOG_DEBUG("The last slow/frozen frame extended past the end of the profile, will not report it.");
      continue;
    }
    renders.emplace_back(foundation::Dictionary{{"start_timestamp_relative_ns", start - run.startTimestamp},
                                                {"end_timestamp_relative_ns", relativeEnd}});
  }
  profile.set("adverse_frame_render_timestamps", foundation::Array(std::move(renders)));
  std::vector<foundation::Value> rates;
  for (const foundation::Value& rate : run.frameInfo.frameRateTimestamps) {
    const std::uint64_t at = secondsToNs(rate["timestamp"].asDouble().value_or(0));
    rates.emplace_back(foundation::Dictionary{{"start_timestamp_relative_ns", at > run.startTimestamp ? at - run.startTimestamp : 0},
                                              {"frame_rate", rate["frame_rate"]}});
  }
  profile.set("screen_frame_rates", foundation::Array(std::move(rates)));
  profile.set("transactions", foundation::Array(std::move(transactions)));
  return profile;
}

bool DozidiSamplingProfilerBackend::isRunning() {
  std::lock_guard lock(lock_);
  return current_ && current_->sampler && current_->sampler->isSampling();
}

void DozidiSamplingProfilerBackend::timeoutAbort() { abortCurrent(1); }

void DozidiSamplingProfilerBackend::backgroundAbort() { abortCurrent(2); }

void DozidiSamplingProfilerBackend::abortCurrent(int reason) {
  std::lock_guard lock(lock_);
  if (!current_) {
    DOZIDI_LOG_DEBUG("No current profiler to stop.");
    return;
  }
  // Both causes log these words.
  DOZIDI_LOG_DEBUG("Stopping profiler due to timeout.");
  stopLocked(reason);
}
