#pragma once
// A traced hub made current with network tracking installed, a loopback server that records the
// headers it receives, and helpers that run a task to its end.
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../../tests/PerformanceTracerFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNetworkTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSpan.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "platform/foundation/URLSession.h"
#include "testing/LoopbackServer.h"

namespace performance_test {

class NetworkTrackingFixture : public TracerFixture {
 protected:
  void SetUp() override {
    TracerFixture::SetUp();
    ASSERT_NE(server.port(), 0);
    DozidiSDK::setCurrentHub(hub);
  }
  void TearDown() override {
    releaseHeld();
    session->finishTasksAndInvalidate();
    integration.uninstall();
    hub->scope()->setSpan(nullptr);
    DozidiSDK::setCurrentHub(nullptr);
    TracerFixture::TearDown();
  }

  void install() { ASSERT_TRUE(integration.installWithOptions(*options)); }
  std::shared_ptr<DozidiTracer> bindTransaction() {
    auto transaction = start();
    hub->scope()->setSpan(transaction);
    return transaction;
  }

  struct Outcome {
    std::shared_ptr<foundation::URLResponse> response;
    std::optional<foundation::Error> error;
  };
  /// Resumes a data task for `request` and waits for its completion.
  Outcome run(const foundation::URLRequest& request) {
    return run(session->dataTask(request, nullptr), true);
  }
  Outcome run(const std::string& path) { return run(foundation::URLRequest(*foundation::URL::parse(server.url(path)))); }
  /// Waits for the end of `task` (made with a null completion), resuming it when `resume`.
  Outcome run(const std::shared_ptr<foundation::URLSessionDataTask>& task, bool resume) {
    auto done = delegate->expect(task->taskIdentifier());
    if (resume) task->resume();
    done.wait();
    return {task->response(), task->error()};
  }

  /// The headers the server received for `path`, the last request's.
  std::multimap<std::string, std::string, httplib::detail::ci> received(const std::string& path) {
    std::lock_guard lock(mutex);
    return headers[path];
  }

  std::vector<std::shared_ptr<DozidiSpanRecord>> httpSpans(const DozidiTracer& tracer) {
    std::vector<std::shared_ptr<DozidiSpanRecord>> spans;
    for (auto& child : tracer.children()) {
      if (child->context()->operation() == "http.client") spans.push_back(child);
    }
    return spans;
  }

  /// The payloads of the "event" items sent so far.
  std::vector<foundation::Dictionary> sentEvents() {
    std::vector<foundation::Dictionary> result;
    for (const auto& envelope : transport->envelopes()) {
      for (const auto& item : envelope->items()) {
        if (item->header().type != "event") continue;
        auto parsed = foundation::JSONSerialization::JSONObjectWithData(item->data().view());
        if (parsed.ok() && parsed->dictionary()) result.push_back(*parsed->dictionary());
      }
    }
    return result;
  }

  /// Tells the test thread when a task has completed.
  class CompletionDelegate final : public foundation::URLSessionDelegate {
   public:
    std::future<void> expect(std::uint64_t task) {
      std::lock_guard lock(mutex_);
      return pending_[task].get_future();
    }
    void didCompleteWithError(const std::shared_ptr<foundation::URLSession>&,
                              const std::shared_ptr<foundation::URLSessionTask>& task,
                              const std::optional<foundation::Error>&) override {
      std::lock_guard lock(mutex_);
      pending_[task->taskIdentifier()].set_value();
    }

   private:
    std::mutex mutex_;
    std::map<std::uint64_t, std::promise<void>> pending_;
  };

  /// Lets the requests for "/hold" be answered.
  void releaseHeld() {
    std::lock_guard lock(mutex);
    held = true;
    heldChanged.notify_all();
  }

  std::mutex mutex;
  std::condition_variable heldChanged;
  bool held = false;
  std::map<std::string, std::multimap<std::string, std::string, httplib::detail::ci>> headers;
  testing_support::LoopbackServer server{[this](httplib::Server& s) {
    s.Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      {
        std::lock_guard lock(mutex);
        headers[request.path] = {request.headers.begin(), request.headers.end()};
      }
      if (request.path == "/hold") {
        std::unique_lock lock(mutex);
        heldChanged.wait(lock, [this] { return held; });
      }
      if (request.path.rfind("/status/", 0) == 0) {
        response.status = std::stoi(request.path.substr(8));
      } else {
        response.set_header("Set-Cookie", "session=1");
      }
      response.set_content("hello", "text/plain");
    });
  }};
  std::shared_ptr<CompletionDelegate> delegate = std::make_shared<CompletionDelegate>();
  std::shared_ptr<foundation::URLSession> session = foundation::URLSession::create(
      foundation::URLSessionConfiguration::ephemeralSessionConfiguration(), delegate);
  DozidiNetworkTrackingIntegration integration;
};

}  // namespace performance_test
