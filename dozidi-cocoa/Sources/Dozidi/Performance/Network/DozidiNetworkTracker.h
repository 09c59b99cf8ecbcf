#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanContext.h"
#include "platform/foundation/URLSession.h"
#include "platform/foundation/Value.h"

class DozidiOptions;
class DozidiSpan;

/// Observes the URL session tasks of the process through their two replaced methods: while a span
/// is bound to the scope, a task's run becomes an "http.client" child span, and requests to the
/// trace propagation targets carry the "dozidi-trace" and "baggage" headers; a task that ends adds
/// an "http" breadcrumb; an HTTP answer whose status is in the failed-request ranges and whose URL
/// is a failed-request target becomes an error event. Each of the three is switched on its own.
///
/// One shared instance. The hooks run on whatever thread resumes a task or changes its state; the
/// state hook runs with the task's object lock held. Requests to the reporter's own endpoints are
/// never observed.
class DozidiNetworkTracker {
 public:
  /// The associated-object key under which a task keeps its running span.
  static constexpr const char* kSpanKey = "DOZIDI_NETWORK_REQUEST_TRACKER_SPAN";

  static std::shared_ptr<DozidiNetworkTracker> sharedInstance();

  void enableNetworkTracking();
  void enableNetworkBreadcrumbs();
  void enableCaptureFailedRequests();
  /// Turns all three off; the replaced methods then only pass through.
  void disable();
  bool isNetworkTrackingEnabled() const { return networkTracking_.load(std::memory_order_acquire); }
  bool isNetworkBreadcrumbEnabled() const { return networkBreadcrumbs_.load(std::memory_order_acquire); }
  bool isCaptureFailedRequestsEnabled() const { return captureFailedRequests_.load(std::memory_order_acquire); }

  /// Runs before the task's own "resume": starts the task's span and adds the trace headers.
  void urlSessionTaskResume(foundation::URLSessionTask& task);
  /// Runs before the task's own "setState:", while the task still shows its old state: when a
  /// running task stops running, captures a failed request, adds the breadcrumb, and finishes the
  /// task's span with the status the new state gives.
  void urlSessionTaskSetState(foundation::URLSessionTask& task, foundation::URLSessionTask::State newState);

  /// True when `url` matches one of `targets`: a regular expression found anywhere in the URL's
  /// text, or a text the URL's text contains. Other kinds of target never match; nor does an empty
  /// list, nor a pattern that does not compile.
  static bool isTargetMatch(const foundation::URL& url, const foundation::Array& targets);
  /// Captures the error event of a failed HTTP request, when every condition holds.
  void captureFailedRequests(const foundation::URLSessionTask& task);
  /// True when `statusCode` lies in one of the options' failed-request ranges.
  static bool containsStatusCode(const DozidiOptions& options, int statusCode);
  void addBreadcrumbForSessionTask(const foundation::URLSessionTask& task);
  /// The HTTP status of the task's response; -1 without an HTTP response.
  static int urlResponseStatusCode(const foundation::URLSessionTask& task);
  static DozidiSpanStatus statusForSessionTask(const foundation::URLSessionTask& task,
                                               foundation::URLSessionTask::State state);
  /// Data and download tasks.
  static bool isTaskSupported(const foundation::URLSessionTask& task);
  static DozidiSpanStatus spanStatusForHttpResponseStatusCode(int statusCode);
  /// True for a request to the reporting service of `options`: the DSN's host and port, and a
  /// path at or below its API endpoint ("<prefix>/api/<project id>/").
  static bool isOwnRequest(const foundation::URL& url, const DozidiOptions& options);

 private:
  /// The breadcrumb of a task whose current request the caller has already read.
  void addBreadcrumb(const foundation::URLSessionTask& task, const foundation::URLRequest& request);

  std::mutex lock_;
  std::atomic<bool> networkTracking_{false};
  std::atomic<bool> networkBreadcrumbs_{false};
  std::atomic<bool> captureFailedRequests_{false};
};
