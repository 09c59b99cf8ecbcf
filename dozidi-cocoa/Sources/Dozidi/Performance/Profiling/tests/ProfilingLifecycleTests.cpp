#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiSamplingProfilerBackend.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/tests/PerformanceTracerFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiTime.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/NotificationCenter.h"
#include "testing/Gzip.h"
#include "testing/IngestionServer.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>

using namespace performance_test;
using dozidi::profiling::Backtrace;

namespace {

// Samples only when the test hands it backtraces.
class FakeSampler final : public DozidiProfileSampler {
 public:
  explicit FakeSampler(dozidi::profiling::SamplingProfiler::Callback callback) : callback_(std::move(callback)) {}
  void startSampling() override { sampling_ = true; }
  void stopSampling() override { sampling_ = false; }
  bool isSampling() override { return sampling_; }
  void feed(std::uint64_t thread, std::vector<std::uint64_t> addresses) {
    Backtrace b;
    b.threadMetadata = {thread, "main", 0};
    b.absoluteTimestamp = getAbsoluteTime();
    b.addresses = std::move(addresses);
    callback_(b);
  }

 private:
  dozidi::profiling::SamplingProfiler::Callback callback_;
  bool sampling_ = false;
};

class Notifications final : public DozidiNSNotificationCenterWrapper {
 public:
  void addObserver(const void*, std::string name, Handler handler) override {
    if (name == willResignActiveNotificationName()) resign = std::move(handler);
  }
  void removeObserver(const void*) override { resign = nullptr; }
  Handler resign;
};

// Every top-level key of a profile payload.
constexpr const char* kProfileKeys[] = {"profile", "version", "debug_meta", "os", "device", "profile_id",
                                        "duration_ns", "truncation_reason", "platform", "environment",
                                        "timestamp", "release", "adverse_frame_render_timestamps",
                                        "screen_frame_rates", "transactions"};

std::uint64_t selfThread() { return static_cast<std::uint64_t>(::syscall(SYS_gettid)); }

class ProfilingLifecycleTests : public TracerFixture {
 protected:
  void SetUp() override {
    TracerFixture::SetUp();
    notifications = std::make_shared<Notifications>();
    DozidiProfilingServices services;
    services.queue = queue;
    services.notifications = notifications;
    services.makeSampler = [this](dozidi::profiling::SamplingProfiler::Callback callback) {
      samplers.push_back(std::make_shared<FakeSampler>(std::move(callback)));
      return samplers.back();
    };
    backend = DozidiSamplingProfilerBackend::create(services);
    DozidiProfiler::setBackend(backend);
  }
  void TearDown() override {
    DozidiProfiler::setBackend(nullptr);
    TracerFixture::TearDown();
  }

  std::shared_ptr<DozidiTracer> startProfiled(const std::string& name) {
    auto context = DozidiTransactionContext::initWithName(name, "op", DozidiSampleDecision::Yes);
    return DozidiTracer::initWithTransactionContext(context, hub, DozidiProfilesSamplerDecision{DozidiSampleDecision::Yes, 1.0},
                                                    false);
  }
  void feed(int count) {
    for (int i = 0; i < count; ++i) samplers.back()->feed(selfThread(), {0x10, 0x20 + static_cast<std::uint64_t>(i % 2)});
  }
  std::vector<foundation::Dictionary> sentProfiles() {
    std::vector<foundation::Dictionary> result;
    for (const auto& envelope : transport->envelopes()) {
      for (const auto& item : envelope->items()) {
        if (item->header().type != "profile") continue;
        EXPECT_EQ(envelope->items().size(), 1u);
        EXPECT_EQ(item->header().length, item->data().size());
        auto parsed = foundation::JSONSerialization::JSONObjectWithData(item->data().view());
        if (!parsed.ok() || !parsed->dictionary()) continue;
        EXPECT_EQ(envelope->header().eventId()->dozidiIdString(), *(*parsed->dictionary())["profile_id"].string());
        result.push_back(*parsed->dictionary());
      }
    }
    return result;
  }

  std::shared_ptr<Notifications> notifications;
  std::vector<std::shared_ptr<FakeSampler>> samplers;
  std::shared_ptr<DozidiSamplingProfilerBackend> backend;
};

TEST_F(ProfilingLifecycleTests, FinishedTransactionSendsAProfileWithEveryKey) {
  auto tracer = startProfiled("checkout");
  EXPECT_TRUE(DozidiProfiler::isRunning());
  feed(3);
  clock->advance(0.05);
  tracer->finish();
  EXPECT_FALSE(DozidiProfiler::isRunning());

  ASSERT_EQ(sentTransactions().size(), 1u);
  auto profiles = sentProfiles();
  ASSERT_EQ(profiles.size(), 1u);
  const foundation::Dictionary& p = profiles[0];
  for (const char* key : kProfileKeys) EXPECT_TRUE(p.contains(key)) << key;
  EXPECT_EQ(*p["version"].string(), "1");
  EXPECT_EQ(*p["truncation_reason"].string(), "normal");
  EXPECT_EQ(*p["platform"].string(), "cocoa");
  EXPECT_EQ(p["profile"]["samples"].array()->size(), 3u);
  EXPECT_EQ(*p["debug_meta"]["images"][0]["type"].string(), "elf");
  const foundation::Dictionary& t = *p["transactions"][0].dictionary();
  EXPECT_EQ(*t["name"].string(), "checkout");
  EXPECT_EQ(*t["trace_id"].string(), tracer->transactionContext()->traceId().dozidiIdString());
  EXPECT_EQ(*t["active_thread_id"].string(), std::to_string(selfThread()));
  EXPECT_EQ(*sentTransactions()[0]["event_id"].string(), *t["id"].string());
  EXPECT_LE(std::stoull(*t["relative_end_ns"].string()), std::stoull(*p["duration_ns"].string()));
}

TEST_F(ProfilingLifecycleTests, OverlappingTransactionsShareOneProfileSentAfterTheLast) {
  auto first = startProfiled("first");
  auto second = startProfiled("second");
  ASSERT_EQ(samplers.size(), 1u);  // the second joined the run
  feed(4);
  first->finish();
  EXPECT_TRUE(DozidiProfiler::isRunning());
  EXPECT_TRUE(sentProfiles().empty());
  second->finish();
  auto profiles = sentProfiles();
  ASSERT_EQ(profiles.size(), 1u);
  std::set<std::string> names;
  for (const auto& t : *profiles[0]["transactions"].array()) names.insert(*t["name"].string());
  EXPECT_EQ(names, (std::set<std::string>{"first", "second"}));
  // A new transaction after the stop starts a new run.
  startProfiled("third");
  EXPECT_EQ(samplers.size(), 2u);
}

TEST_F(ProfilingLifecycleTests, RunsThatSendNothing) {
  // One sample only.
  auto tracer = startProfiled("short");
  feed(1);
  tracer->finish();
  EXPECT_TRUE(sentProfiles().empty());
  EXPECT_EQ(sentTransactions().size(), 1u);

  // Its only transaction dropped: the profile has nothing to belong to. The idle transaction with
  // no children is dropped by the tracer.
  auto idle = DozidiTracer::initWithTransactionContext(
      DozidiTransactionContext::initWithName("idle", "ui.action", DozidiSampleDecision::Yes), hub,
      DozidiProfilesSamplerDecision{DozidiSampleDecision::Yes, 1.0}, 3.0, queue);
  feed(5);
  queue->advance(3.0);
  EXPECT_FALSE(DozidiProfiler::isRunning());
  EXPECT_TRUE(sentProfiles().empty());
}

TEST_F(ProfilingLifecycleTests, TimeoutAndResigningActiveStopTheRun) {
  struct Case {
    const char* reason;
    bool background;
  };
  for (const Case& c : {Case{"timeout", false}, Case{"backgrounded", true}}) {
    SCOPED_TRACE(c.reason);
    auto tracer = startProfiled("long");
    feed(2);
    if (c.background) {
      notifications->resign(foundation::Notification{});
    } else {
      queue->advance(29.9);
      EXPECT_TRUE(DozidiProfiler::isRunning());
      queue->advance(0.2);
    }
    EXPECT_FALSE(DozidiProfiler::isRunning());
    EXPECT_FALSE(samplers.back()->isSampling());
    const std::size_t before = sentProfiles().size();
    tracer->finish();
    auto profiles = sentProfiles();
    ASSERT_EQ(profiles.size(), before + 1);
    EXPECT_EQ(*profiles.back()["truncation_reason"].string(), c.reason);
    // The transaction ended after the profile: its relative end is the profile's duration.
    const auto& t = *profiles.back()["transactions"][0].dictionary();
    EXPECT_EQ(*t["relative_end_ns"].string(), *profiles.back()["duration_ns"].string());
  }
}

}  // namespace

namespace {

// The real sampler, made as the backend makes it, with a look at what it hands to the profile.
class WatchedRealSampler final : public DozidiProfileSampler {
 public:
  WatchedRealSampler(dozidi::profiling::SamplingProfiler::Callback callback, std::uint64_t watchedThread)
      : sampler_(dozidi::profiling::SamplingProfiler::create(
            [this, callback = std::move(callback), watchedThread](const Backtrace& b) {
              callback(b);
              if (b.threadMetadata.threadID == watchedThread && !b.addresses.empty()) watchedSampled_ = true;
              ++samples_;
            },
            101)) {}
  void startSampling() override { sampler_->startSampling(); }
  void stopSampling() override { sampler_->stopSampling(); }
  bool isSampling() override { return sampler_->isSampling(); }
  /// Whether the profile holds two samples, one of them a stack of the watched thread.
  bool sampledWatchedThread() const { return watchedSampled_ && samples_ >= 2; }

 private:
  std::atomic<bool> watchedSampled_{false};
  std::atomic<int> samples_{0};
  std::shared_ptr<dozidi::profiling::SamplingProfiler> sampler_;  // last: stopped before the counters go
};

// Makes the backend's samplers watch the calling thread; `made` is the last one made.
std::function<std::shared_ptr<DozidiProfileSampler>(dozidi::profiling::SamplingProfiler::Callback)> watchingSamplers(
    std::shared_ptr<WatchedRealSampler>& made) {
  const std::uint64_t self = static_cast<std::uint64_t>(::syscall(SYS_gettid));
  return [&made, self](dozidi::profiling::SamplingProfiler::Callback callback) {
    made = std::make_shared<WatchedRealSampler>(std::move(callback), self);
    return made;
  };
}

// The real-profile cases keep their thread busy until the profile holds a stack of that thread.
// How long that takes is the machine's: a pass leaves out a thread that does not answer in time,
// a loaded machine starves the sampling thread, and the thread sanitizer delivers signals late
// (and then with registers that no longer match the stack, so the walk fails). On a quiet machine
// it takes a few passes; the limit only ends a run whose sampler never reaches the thread.
constexpr std::chrono::seconds kRealProfileWorkLimit{20};

extern "C" __attribute__((noinline)) void profilingLifecycleBusyWork(const WatchedRealSampler& sampler) {
  const auto end = std::chrono::steady_clock::now() + kRealProfileWorkLimit;
  volatile std::uint64_t n = 0;
  while (!sampler.sampledWatchedThread() && std::chrono::steady_clock::now() < end) n = n + 1;
}

// What a real profile of a sampled transaction must hold: the keys of the payload, valid stack and
// frame indices, addresses as 16 hex digits, and the transaction with its active thread sampled.
void expectRealProfile(const foundation::Dictionary& p, const foundation::Dictionary& transaction) {
  for (const char* key : kProfileKeys) EXPECT_TRUE(p.contains(key)) << key;
  ASSERT_TRUE(p["profile"]["samples"].array() && p["profile"]["stacks"].array() && p["profile"]["frames"].array());
  const foundation::Array& samples = *p["profile"]["samples"].array();
  const foundation::Array& stacks = *p["profile"]["stacks"].array();
  const foundation::Array& frames = *p["profile"]["frames"].array();
  EXPECT_GE(samples.size(), 2u);
  const std::string self = std::to_string(::syscall(SYS_gettid));
  ASSERT_TRUE(p["transactions"][0].dictionary());
  const foundation::Dictionary& t = *p["transactions"][0].dictionary();
  EXPECT_EQ(*t["active_thread_id"].string(), self);
  EXPECT_EQ(*t["id"].string(), *transaction["event_id"].string());
  EXPECT_LE(std::stoull(*t["relative_end_ns"].string()), std::stoull(*p["duration_ns"].string()));
  bool selfSampled = false;
  for (const auto& sample : samples) {
    ASSERT_LT(*sample["stack_id"].asUInt64(), stacks.size());
    selfSampled = selfSampled || *sample["thread_id"].string() == self;
  }
  EXPECT_TRUE(selfSampled);
  for (const auto& stack : stacks) {
    for (const auto& index : *stack.array()) ASSERT_LT(*index.asUInt64(), frames.size());
  }
  for (const auto& frame : frames) {
    const std::string& text = *frame["instruction_addr"].string();
    EXPECT_EQ(text.size(), 18u);
    EXPECT_EQ(text.rfind("0x", 0), 0u);
    EXPECT_EQ(text.find_first_not_of("0123456789abcdef", 2), std::string::npos);
  }
}

// The one profile among `envelopes`, checked to travel alone with its id in the envelope header.
std::optional<foundation::Dictionary> onlyProfile(const std::vector<std::shared_ptr<const DozidiEnvelope>>& envelopes) {
  std::optional<foundation::Dictionary> profile;
  for (const auto& envelope : envelopes) {
    for (const auto& item : envelope->items()) {
      if (item->header().type != "profile") continue;
      EXPECT_EQ(envelope->items().size(), 1u);
      EXPECT_FALSE(profile.has_value()) << "a second profile";
      auto parsed = foundation::JSONSerialization::JSONObjectWithData(item->data().view());
      if (!parsed.ok() || !parsed->dictionary()) {
        ADD_FAILURE() << "a profile that is not a JSON object";
        continue;
      }
      profile = *parsed->dictionary();
      EXPECT_EQ(envelope->header().eventId()->dozidiIdString(), *(*profile)["profile_id"].string());
    }
  }
  return profile;
}

// The real sampler under a sampled transaction: the profile holds the transaction's own thread.
TEST_F(TracerFixture, SampledTransactionSendsARealProfile) {
  options->setProfilesSampleRate(1.0);
  hub = DozidiHub::initWithClient(hub->getClient(), nullptr);  // a hub made with profiling on
  DozidiProfilingServices services;
  services.queue = queue;
  std::shared_ptr<WatchedRealSampler> sampler;
  services.makeSampler = watchingSamplers(sampler);
  DozidiProfiler::setBackend(DozidiSamplingProfilerBackend::create(services));
  auto tracer = hub->startTransactionWithName("real", "op");
  ASSERT_TRUE(sampler);
  profilingLifecycleBusyWork(*sampler);
  clock->advance(0.3);
  tracer->finish();
  DozidiProfiler::setBackend(nullptr);

  const auto profile = onlyProfile(transport->envelopes());
  ASSERT_TRUE(profile.has_value());
  ASSERT_EQ(sentTransactions().size(), 1u);
  expectRealProfile(*profile, sentTransactions()[0]);
}

class ProfilingUploadTests : public foundation::test_support::TemporaryDeviceRoot {};

// The same run through the real transport: the transaction and its profile, each in an envelope of
// its own, reach the loopback ingestion server.
TEST_F(ProfilingUploadTests, TransactionAndProfileReachTheIngestionServer) {
  testing_support::IngestionServer server;
  auto options = DozidiOptions::create();
  options->setDsn(server.dsn(kPublicKey, "/42"));
  options->setTracesSampleRate(1.0);
  options->setProfilesSampleRate(1.0);
  auto hub = DozidiHub::initWithClient(DozidiClient::initWithOptions(options), nullptr);
  DozidiProfilingServices services;
  std::shared_ptr<WatchedRealSampler> sampler;
  services.makeSampler = watchingSamplers(sampler);
  DozidiProfiler::setBackend(DozidiSamplingProfilerBackend::create(services));
  auto tracer = hub->startTransactionWithName("upload", "task");
  ASSERT_TRUE(sampler);
  profilingLifecycleBusyWork(*sampler);
  tracer->finish();
  DozidiProfiler::setBackend(nullptr);
  EXPECT_TRUE(hub->getClient()->flush(30));
  ASSERT_TRUE(server.waitForRequests(2, std::chrono::seconds(30)));

  std::vector<std::shared_ptr<const DozidiEnvelope>> envelopes;
  std::optional<foundation::Dictionary> transaction;
  for (const auto& request : server.requests()) {
    auto envelope = DozidiSerialization::envelopeWithData(testing_support::gunzip(request.body).value_or(""));
    ASSERT_TRUE(envelope);
    for (const auto& item : envelope->items()) {
      if (item->header().type != "transaction") continue;
      EXPECT_FALSE(transaction.has_value()) << "a second transaction";
      auto parsed = foundation::JSONSerialization::JSONObjectWithData(item->data().view());
      ASSERT_TRUE(parsed.ok() && parsed->dictionary());
      transaction = *parsed->dictionary();
    }
    envelopes.push_back(std::move(envelope));
  }
  ASSERT_TRUE(transaction.has_value());
  EXPECT_EQ(*(*transaction)["transaction"].string(), "upload");
  const auto profile = onlyProfile(envelopes);
  ASSERT_TRUE(profile.has_value());
  expectRealProfile(*profile, *transaction);
}

}  // namespace
