// Downloads a 1 MB filter list from a loopback server with a URL session download task, as the
// app downloads its lists, with network tracking installed (an "http.client" span of a bound
// transaction, trace and baggage headers, an "http" breadcrumb) and without it (the task classes'
// own methods in the method table), alternating in the same run. Each sample is one download
// from resume to the delegate's completion.
//
// Run: build/release/bench/NetworkTracingBench   (the goal is under 5% added)

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "bench/SideBySide.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNetworkTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "platform/foundation/URLSession.h"
#include "testing/LoopbackServer.h"

namespace {

using foundation::URLSessionTask;

constexpr std::size_t kListBytes = 1024 * 1024;

/// A filter list's text of about kListBytes.
std::string listText() {
  std::string text = "[";
  while (text.size() < kListBytes) {
    text += R"({"trigger": {"url-filter": "ads\\.example\\.)" + std::to_string(text.size()) +
            R"("}, "action": {"type": "block"}},)";
  }
  text.back() = ']';
  return text;
}

/// Lets the benchmark wait for the end of each download.
class Waiter final : public foundation::URLSessionDelegate {
 public:
  void didCompleteWithError(const std::shared_ptr<foundation::URLSession>&,
                            const std::shared_ptr<URLSessionTask>&,
                            const std::optional<foundation::Error>& error) override {
    std::lock_guard lock(mutex_);
    failed_ = error.has_value();
    done_ = true;
    changed_.notify_all();
  }
  /// Empty when the download succeeded, else what went wrong. Bounded, so that a fault ends the
  /// run instead of hanging it.
  std::string wait() {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(30), [this] { return done_; })) return "no answer in 30 s";
    done_ = false;
    return failed_ ? "the download failed" : "";
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  bool failed_ = false;
};

struct Methods {
  runtime::IMP resume;
  runtime::IMP setState;
};

Methods currentMethods(runtime::Class cls) {
  return {runtime::class_getMethodImplementation(cls, URLSessionTask::resumeSelector()),
          runtime::class_getMethodImplementation(cls, URLSessionTask::setStateSelector())};
}

void useMethods(runtime::Class cls, const Methods& methods) {
  (void)runtime::class_replaceMethod(cls, URLSessionTask::resumeSelector(), methods.resume);
  (void)runtime::class_replaceMethod(cls, URLSessionTask::setStateSelector(), methods.setState);
}

void BM_DownloadListWithAndWithoutTracking(benchmark::State& state) {
  const std::string list = listText();
  testing_support::LoopbackServer server([&list](httplib::Server& s) {
    s.set_keep_alive_max_count(100000);
    s.Get("/lists/big.json", [&list](const httplib::Request&, httplib::Response& response) {
      // A type the server does not compress: the figures are the client's, not the server's
      // compressor's (which would take most of the time of a loopback download).
      response.set_content(list, "application/octet-stream");
    });
  });
  runtime::Class taskClass = runtime::objc_getClass("NSURLSessionTask");
  const Methods untraced = currentMethods(taskClass);

  // The reporter as the app starts it with traces on; its service is a closed loopback port.
  DozidiNetworkTrackingIntegration::registerWithSDK();
  DozidiSDK::startWithConfigureOptions([](DozidiOptions& options) {
    options.setDsn("http://0123456789abcdef0123456789abcdef@127.0.0.1:9/42");
    options.setTracesSampleRate(1.0);
    options.setIntegrations({"DozidiNetworkTrackingIntegration"});
  });
  const Methods traced = currentMethods(taskClass);
  if (traced.resume == untraced.resume) {
    state.SkipWithError("network tracking did not install");
    return;
  }
  auto transaction = DozidiSDK::currentHub()->startTransactionWithName("launch", "app.launch", true);

  auto waiter = std::make_shared<Waiter>();
  auto session = foundation::URLSession::create(foundation::URLSessionConfiguration::defaultSessionConfiguration(),
                                                waiter);
  const auto url = *foundation::URL::parse(server.url("/lists/big.json"));
  auto download = [&](const Methods& methods) {
    return [&, methods]() -> std::string {
      useMethods(taskClass, methods);
      session->downloadTask(url)->resume();
      return waiter->wait();
    };
  };
  bench::runSideBySide(state, {{"traced", download(traced)}, {"untraced", download(untraced)}});
  useMethods(taskClass, traced);
  transaction->finish();
  session->finishTasksAndInvalidate();
}

BENCHMARK(BM_DownloadListWithAndWithoutTracking)->Iterations(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
