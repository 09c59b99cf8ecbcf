#include "dozidi-cocoa/Sources/Dozidi/Performance/Network/DozidiNetworkTracker.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
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

/// A target's pattern in the form a search uses. A pattern that every text matches (".*", the
/// default target, or the empty pattern) needs no search: each finds an empty match at the start.
struct CompiledPattern {
  std::optional<std::regex> regex;  ///< none when the pattern does not compile
  bool matchesEveryText = false;
};

/// The compiled form of a target's pattern. Targets are few and fixed at start, and every request
/// is matched against them: each is compiled once.
std::shared_ptr<const CompiledPattern> compiledPattern(const DozidiRegularExpression& expression) {
  static std::mutex lock;
  static std::map<std::pair<std::string, bool>, std::shared_ptr<const CompiledPattern>> compiled;
  std::lock_guard guard(lock);
  auto key = std::make_pair(expression.pattern, expression.caseInsensitive);
  if (auto found = compiled.find(key); found != compiled.end()) return found->second;
  auto flags = std::regex::ECMAScript;
  if (expression.caseInsensitive) flags |= std::regex::icase;
  auto pattern = std::make_shared<CompiledPattern>();
  try {
    pattern->regex.emplace(expression.pattern, flags);
    pattern->matchesEveryText = expression.pattern.empty() || expression.pattern == ".*";
  } catch (const std::regex_error&) {
    // A pattern that does not compile names no request.
  }
  compiled.emplace(std::move(key), pattern);
  return pattern;
}

bool matchesPattern(const std::string& text, const DozidiRegularExpression& expression) {
  auto pattern = compiledPattern(expression);
  if (!pattern->regex) return false;
  if (pattern->matchesEveryText) return true;
  try {
    return std::regex_search(text, *pattern->regex);
  } catch (const std::regex_error&) {
    // A search that runs out of the library's bounds matches nothing.
    return false;
  }
}

/// The "baggage" header of a request that brings none of its own. Every request of a transaction
/// carries the same entries, and encoding them costs more than the rest of the resume hook: the
/// last header is kept with the values it was made from, and made again only when one changes.
std::string plainBaggageHeader(const DozidiTraceContext& context) {
  struct Made {
    DozidiId traceId;
    std::string publicKey;
    std::optional<std::string> releaseName, environment, transaction, userSegment, sampleRate;
    std::string header;
  };
  static std::mutex lock;
  static std::optional<Made> last;
  const std::optional<std::string> sampleRate = context.sampleRate();
  {
    std::lock_guard guard(lock);
    if (last && last->traceId == context.traceId() && last->publicKey == context.publicKey() &&
        last->releaseName == context.releaseName() && last->environment == context.environment() &&
        last->transaction == context.transaction() && last->userSegment == context.userSegment() &&
        last->sampleRate == sampleRate) {
      return last->header;
    }
  }
  Made made{context.traceId(),   context.publicKey(),   context.releaseName(), context.environment(),
            context.transaction(), context.userSegment(), sampleRate,            context.toBaggage().toHTTPHeader()};
  std::string header = made.header;
  std::lock_guard guard(lock);
  last = std::move(made);
  return header;
}

/// The reporting service's endpoint as requests are compared with it.
struct ServiceEndpoint {
  std::shared_ptr<const DozidiDsn> dsn;  ///< the DSN it was made from
  std::string host;                       ///< lowercased
  int port = 0;
  std::optional<std::string> basePath;  ///< none when the DSN gives no API endpoint
};

int portOrDefault(const foundation::URL& url) {
  if (auto port = url.port()) return *port;
  return url.scheme() == "https" ? 443 : 80;
}

/// The endpoint of `dsn`. Both hooks of every request ask; the DSN is fixed at start, so its
/// endpoint is worked out once (again only for another DSN).
std::shared_ptr<const ServiceEndpoint> serviceEndpoint(const std::shared_ptr<DozidiDsn>& dsn) {
  static std::mutex lock;
  static std::shared_ptr<const ServiceEndpoint> last;
  {
    std::lock_guard guard(lock);
    if (last && last->dsn == dsn) return last;
  }
  auto endpoint = std::make_shared<ServiceEndpoint>();
  endpoint->dsn = dsn;
  const foundation::URL& service = dsn->url();
  endpoint->host = foundation::lowercased(service.host().value_or(""));
  endpoint->port = portOrDefault(service);
  if (auto base = dsn->getBaseEndpoint()) endpoint->basePath = base->path();
  std::lock_guard guard(lock);
  last = endpoint;
  return endpoint;
}

/// The span key as the task's table takes it, made once rather than on each look-up.
const std::string& spanKey() {
  static const std::string key(DozidiNetworkTracker::kSpanKey);
  return key;
}

std::shared_ptr<DozidiSpan> attachedSpan(const URLSessionTask& task) {
  return std::static_pointer_cast<DozidiSpan>(task.associatedObject(spanKey()));
}

}  // namespace

std::shared_ptr<DozidiNetworkTracker> DozidiNetworkTracker::sharedInstance() {
  // Never destroyed: swizzled methods reach it from any thread, also from threads that still
  // finish work while the process exits and runs its static destructors.
  static const auto* instance = new std::shared_ptr<DozidiNetworkTracker>(std::make_shared<DozidiNetworkTracker>());
  return *instance;
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
        if (auto existing = request.valueForHTTPHeaderField(kBaggageHeader)) {
          baggage = context->toBaggage().toHTTPHeaderWithOriginalBaggage(DozidiSerialization::decodeBaggage(*existing));
        } else {
          baggage = plainBaggageHeader(*context);
        }
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
  task.setAssociatedObject(spanKey(), span);
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
    task.setAssociatedObject(spanKey(), nullptr);
  }

  if (task.state() == State::Running) {
    captureFailedRequests(task);
    addBreadcrumb(task, request);
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
  addBreadcrumb(task, task.currentRequest());
}

void DozidiNetworkTracker::addBreadcrumb(const URLSessionTask& task, const foundation::URLRequest& request) {
  if (!isNetworkBreadcrumbEnabled()) return;
  auto crumb =
      DozidiBreadcrumb::initWithLevel(task.error() ? DozidiEventLevel::Error : DozidiEventLevel::Info, "http");
  crumb->type = "http";
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
  const auto service = serviceEndpoint(dsn);
  if (!service->basePath || service->host.empty() || portOrDefault(url) != service->port) return false;
  const auto host = url.host();
  const auto sameLetter = [](char a, char b) { return foundation::lowercasedCharacter(a) == b; };
  if (!host || !std::equal(host->begin(), host->end(), service->host.begin(), service->host.end(), sameLetter)) {
    return false;
  }
  // Compared on whole path components, so "/api/4" does not take in "/api/42".
  const std::string& base = *service->basePath;
  const std::string path = url.path();
  return path.compare(0, base.size(), base) == 0 && (path.size() == base.size() || path[base.size()] == '/');
}
