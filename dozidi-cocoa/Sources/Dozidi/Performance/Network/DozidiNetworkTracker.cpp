#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNetworkTracker.h"

#include <map>
#include <mutex>
#include <regex>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiBaggage.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTraceHeader.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMechanism.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMessage.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiRequest.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSpan.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiTraceContext.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDsn.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/TextCase.h"

using foundation::URLSessionTask;
using State = foundation::URLSessionTask::State;

namespace {

constexpr const char* kTraceHeader = "dozidi-trace";
constexpr const char* kBaggageHeader = "baggage";

foundation::Dictionary dictionaryOf(const foundation::HTTPHeaderFields& fields) {
  foundation::Dictionary result;
  for (const auto& [name, value] : fields) result.set(name, value);
  return result;
}

std::shared_ptr<foundation::HTTPURLResponse> httpResponseOf(const URLSessionTask& task) {
  return std::dynamic_pointer_cast<foundation::HTTPURLResponse>(task.response());
}

int portOrDefault(const foundation::URL& url) {
  if (auto port = url.port()) return *port;
  return url.scheme() == "https" ? 443 : 80;
}

/// The compiled form of a target's pattern; none when it does not compile. Targets are few and
/// fixed at start, and every request is matched against them: each is compiled once.
std::shared_ptr<const std::regex> compiledPattern(const DozidiRegularExpression& expression) {
  static std::mutex lock;
  static std::map<std::pair<std::string, bool>, std::shared_ptr<const std::regex>> compiled;
  std::lock_guard guard(lock);
  auto key = std::make_pair(expression.pattern, expression.caseInsensitive);
  if (auto found = compiled.find(key); found != compiled.end()) return found->second;
  auto flags = std::regex::ECMAScript;
  if (expression.caseInsensitive) flags |= std::regex::icase;
  std::shared_ptr<const std::regex> pattern;
  try {
    pattern = std::make_shared<const std::regex>(expression.pattern, flags);
  } catch (const std::regex_error&) {
    // A pattern that does not compile names no request.
  }
  compiled.emplace(std::move(key), pattern);
  return pattern;
}

bool matchesPattern(const std::string& text, const DozidiRegularExpression& expression) {
  auto pattern = compiledPattern(expression);
  if (!pattern) return false;
  try {
    return std::regex_search(text, *pattern);
  } catch (const std::regex_error&) {
    // A search that runs out of the library's bounds matches nothing.
    return false;
  }
}

std::shared_ptr<DozidiSpan> attachedSpan(const URLSessionTask& task) {
  return std::static_pointer_cast<DozidiSpan>(task.associatedObject(DozidiNetworkTracker::kSpanKey));
}

}  // namespace

std::shared_ptr<DozidiNetworkTracker> DozidiNetworkTracker::sharedInstance() {
  static const auto instance = std::make_shared<DozidiNetworkTracker>();
  return instance;
}

void DozidiNetworkTracker::enableNetworkTracking() {
  std::lock_guard guard(lock_);
  networkTracking_.store(true, std::memory_order_release);
}

void DozidiNetworkTracker::enableNetworkBreadcrumbs() {
  std::lock_guard guard(lock_);
  networkBreadcrumbs_.store(true, std::memory_order_release);
}

void DozidiNetworkTracker::enableCaptureFailedRequests() {
  std::lock_guard guard(lock_);
  captureFailedRequests_.store(true, std::memory_order_release);
}

void DozidiNetworkTracker::disable() {
  std::lock_guard guard(lock_);
  networkTracking_.store(false, std::memory_order_release);
  networkBreadcrumbs_.store(false, std::memory_order_release);
  captureFailedRequests_.store(false, std::memory_order_release);
}

void DozidiNetworkTracker::urlSessionTaskResume(URLSessionTask& task) {
  {
    std::lock_guard guard(lock_);
    if (!isNetworkTrackingEnabled()) return;
  }
  if (!isTaskSupported(task)) return;
  auto options = DozidiSDK::options();
  if (!options) return;
  foundation::URLRequest request = task.currentRequest();
  const foundation::URL& url = request.url();
  if (url.absoluteString().empty() || isOwnRequest(url, *options)) return;

  std::lock_guard taskLock(task.objectLock());
  const State state = task.state();
  if (state == State::Completed || state == State::Canceling || attachedSpan(task)) return;

  auto scope = DozidiSDK::currentHub()->scope();
  std::shared_ptr<DozidiSpan> parent;
  std::shared_ptr<DozidiSpan> span;
  scope->useSpan([&](const std::shared_ptr<DozidiSpan>& bound) {
    if (!bound) return;
    parent = bound;
    span = bound->startChildWithOperation("http.client", request.httpMethod() + " " + url.absoluteString());
  });
  if (!span) {
    DOZIDI_LOG_DEBUG("No transaction bound to scope. Won't track network operation.");
    return;
  }

  if (isTargetMatch(url, options->tracePropagationTargets())) {
    std::string baggage;
    if (auto tracer = DozidiTracer::getTracer(parent)) {
      if (auto context = DozidiTraceContext::initWithTracer(*tracer, *scope, options)) {
        std::optional<foundation::Dictionary> original;
        if (auto existing = request.valueForHTTPHeaderField(kBaggageHeader)) {
          original = DozidiSerialization::decodeBaggage(*existing);
        }
        baggage = context->toBaggage().toHTTPHeaderWithOriginalBaggage(original);
      }
    }
    request.setValue(span->toTraceHeader().value(), kTraceHeader);
    if (!baggage.empty()) request.setValue(baggage, kBaggageHeader);
    task.setCurrentRequest(std::move(request));
  } else {
    DOZIDI_LOG_DEBUG("Not adding trace_id and baggage headers for " + url.absoluteString());
  }

  DOZIDI_LOG_DEBUG("DozidiNetworkTracker automatically started HTTP span for sessionTask: " +
                   span->context()->spanDescription().value_or(""));
  task.setAssociatedObject(kSpanKey, span);
}

void DozidiNetworkTracker::urlSessionTaskSetState(URLSessionTask& task, State newState) {
  if (!isNetworkTrackingEnabled() && !isNetworkBreadcrumbEnabled() && !isCaptureFailedRequestsEnabled()) return;
  if (!isTaskSupported(task) || newState == State::Running) return;
  const foundation::URLRequest request = task.currentRequest();
  const foundation::URL& url = request.url();
  const std::string& method = request.httpMethod();
  if (url.absoluteString().empty()) return;
  if (auto options = DozidiSDK::options(); options && isOwnRequest(url, *options)) return;

  std::shared_ptr<DozidiSpan> span;
  {
    std::lock_guard taskLock(task.objectLock());
    span = attachedSpan(task);
    task.setAssociatedObject(kSpanKey, nullptr);
  }

  if (task.state() == State::Running) {
    captureFailedRequests(task);
    addBreadcrumbForSessionTask(task);
    if (auto response = httpResponseOf(task); response && span) {
      span->setTagValue(std::to_string(response->statusCode()), "http.status_code");
    }
  }

  if (span) {
    span->setDataValue(method, "method");
    span->setDataValue(url.path(), "url");
    span->setDataValue("fetch", "type");
    span->finishWithStatus(statusForSessionTask(task, newState));
    DOZIDI_LOG_DEBUG("DozidiNetworkTracker finished HTTP span for sessionTask");
  }
}

bool DozidiNetworkTracker::isTargetMatch(const foundation::URL& url, const foundation::Array& targets) {
  const std::string& text = url.absoluteString();
  for (const auto& target : targets) {
    if (const auto* substring = target.string()) {
      if (text.find(*substring) != std::string::npos) return true;
    } else if (auto expression = dozidiObject<DozidiRegularExpression>(target)) {
      if (matchesPattern(text, *expression)) return true;
    }
  }
  return false;
}

void DozidiNetworkTracker::captureFailedRequests(const URLSessionTask& task) {
  if (!isCaptureFailedRequestsEnabled()) {
    DOZIDI_LOG_DEBUG("captureFailedRequestsEnabled is disabled, not capturing HTTP Client errors.");
    return;
  }
  auto anyResponse = task.response();
  if (!anyResponse) {
    DOZIDI_LOG_DEBUG("Request or Response are null, not capturing HTTP Client errors.");
    return;
  }
  auto response = std::dynamic_pointer_cast<foundation::HTTPURLResponse>(anyResponse);
  if (!response) {
    DOZIDI_LOG_DEBUG("Response isn't a known type, not capturing HTTP Client errors.");
    return;
  }
  auto options = DozidiSDK::options();
  const int statusCode = response->statusCode();
  if (!options || !containsStatusCode(*options, statusCode)) {
    DOZIDI_LOG_DEBUG("Response status code isn't within the allowed ranges, not capturing HTTP Client errors.");
    return;
  }
  const foundation::URLRequest request = task.currentRequest();
  const foundation::URL& url = request.url();
  if (!isTargetMatch(url, options->failedRequestTargets())) {
    DOZIDI_LOG_DEBUG("Request url isn't within the request targets, not capturing HTTP Client errors.");
    return;
  }

  const std::string message = "HTTP Client Error with status code: " + std::to_string(statusCode);
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
  event->message = DozidiMessage::initWithFormatted(message);
  auto exception = DozidiException::initWithValue(message, "HTTPClientError");
  exception->mechanism = DozidiMechanism::initWithType("HTTPClientError");
  if (auto client = DozidiSDK::currentHub()->getClient(); client && client->threadInspector()) {
    for (const auto& thread : client->threadInspector()->getCurrentThreads()) {
      if (thread->current.value_or(false)) {
        exception->stacktrace = thread->stacktrace;
        if (exception->stacktrace) exception->stacktrace->snapshot = true;
        break;
      }
    }
  }
  event->exceptions = std::vector<std::shared_ptr<DozidiException>>{exception};

  auto eventRequest = DozidiRequest::create();
  eventRequest->setUrl(url.scheme() + "://" + url.host().value_or("") + url.path());
  eventRequest->setMethod(request.httpMethod());
  eventRequest->setFragment(url.fragment());
  eventRequest->setQueryString(url.query());
  eventRequest->setBodySize(foundation::Number::fromInt64(task.countOfBytesSent()));
  if (const auto& headers = request.allHTTPHeaderFields(); !headers.empty()) {
    eventRequest->setHeaders(dictionaryOf(headers));
    eventRequest->setCookies(headers.value("Cookie"));
  }
  event->request = eventRequest;

  foundation::Dictionary responseContext;
  responseContext.set("status_code", statusCode);
  if (const auto& headers = response->allHeaderFields(); !headers.empty()) {
    responseContext.set("headers", dictionaryOf(headers));
    if (auto cookies = headers.value("Set-Cookie")) responseContext.set("cookies", *cookies);
  }
  if (const auto received = task.countOfBytesReceived(); received != 0) responseContext.set("body_size", received);
  event->context = foundation::Dictionary{{"response", std::move(responseContext)}};

  DozidiSDK::captureEvent(event);
}

bool DozidiNetworkTracker::containsStatusCode(const DozidiOptions& options, int statusCode) {
  for (const auto& range : options.failedRequestStatusCodes) {
    if (range.isInRange(statusCode)) return true;
  }
  return false;
}

void DozidiNetworkTracker::addBreadcrumbForSessionTask(const URLSessionTask& task) {
  if (!isNetworkBreadcrumbEnabled()) return;
  auto crumb =
      DozidiBreadcrumb::initWithLevel(task.error() ? DozidiEventLevel::Error : DozidiEventLevel::Info, "http");
  crumb->type = "http";
  const foundation::URLRequest request = task.currentRequest();
  foundation::Dictionary data;
  data.set("url", request.url().absoluteString());
  data.set("method", request.httpMethod());
  data.set("request_body_size", task.countOfBytesSent());
  data.set("response_body_size", task.countOfBytesReceived());
  if (auto response = httpResponseOf(task)) {
    data.set("status_code", response->statusCode());
    data.set("reason", foundation::HTTPURLResponse::localizedStringForStatusCode(response->statusCode()));
  }
  crumb->data = std::move(data);
  DozidiSDK::addBreadcrumb(crumb);
}

int DozidiNetworkTracker::urlResponseStatusCode(const URLSessionTask& task) {
  auto response = httpResponseOf(task);
  return response ? response->statusCode() : -1;
}

DozidiSpanStatus DozidiNetworkTracker::statusForSessionTask(const URLSessionTask& task, State state) {
  switch (state) {
    case State::Suspended: return DozidiSpanStatus::Aborted;
    case State::Canceling: return DozidiSpanStatus::Cancelled;
    case State::Completed:
      return task.error() ? DozidiSpanStatus::UnknownError
                          : spanStatusForHttpResponseStatusCode(urlResponseStatusCode(task));
    default: return DozidiSpanStatus::Undefined;
  }
}

bool DozidiNetworkTracker::isTaskSupported(const URLSessionTask& task) {
  return task.isDataTask() || task.isDownloadTask();
}

DozidiSpanStatus DozidiNetworkTracker::spanStatusForHttpResponseStatusCode(int statusCode) {
  if (statusCode >= 200 && statusCode < 300) return DozidiSpanStatus::Ok;
  switch (statusCode) {
    case 400: return DozidiSpanStatus::InvalidArgument;
    case 401: return DozidiSpanStatus::Unauthenticated;
    case 403: return DozidiSpanStatus::PermissionDenied;
    case 404: return DozidiSpanStatus::NotFound;
    case 409: return DozidiSpanStatus::Aborted;
    case 429: return DozidiSpanStatus::ResourceExhausted;
    case 500: return DozidiSpanStatus::InternalError;
    case 501: return DozidiSpanStatus::Unimplemented;
    case 503: return DozidiSpanStatus::Unavailable;
    case 504: return DozidiSpanStatus::DeadlineExceeded;
    default: return DozidiSpanStatus::Undefined;
  }
}

bool DozidiNetworkTracker::isOwnRequest(const foundation::URL& url, const DozidiOptions& options) {
  const auto& dsn = options.parsedDsn();
  if (!dsn) return false;
  const foundation::URL& service = dsn->url();
  if (!url.host() || !service.host() || foundation::lowercased(*url.host()) != foundation::lowercased(*service.host()) ||
      portOrDefault(url) != portOrDefault(service)) {
    return false;
  }
  auto endpoint = dsn->getBaseEndpoint();
  if (!endpoint) return false;
  // Compared on whole path components, so "/api/4" does not take in "/api/42".
  const std::string base = endpoint->path();
  const std::string path = url.path();
  return path.compare(0, base.size(), base) == 0 && (path.size() == base.size() || path[base.size()] == '/');
}
