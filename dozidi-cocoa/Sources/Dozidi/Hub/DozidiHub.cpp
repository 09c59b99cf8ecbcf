#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"

#include <algorithm>
#include <utility>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiProfilesSampler.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracesSampler.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransaction.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiSamplingProfilerBackend.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"

DozidiHub::DozidiHub(std::shared_ptr<DozidiClient> client, std::shared_ptr<DozidiScope> scope,
                     std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                     std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider)
    : client_(std::move(client)),
      scope_(std::move(scope)),
      crashWrapper_(std::move(crashWrapper)),
      currentDateProvider_(std::move(currentDateProvider)) {
  if (client_ && client_->options()) {
    tracesSampler_ = std::make_shared<DozidiTracesSampler>(client_->options());
    if (client_->options()->isProfilingEnabled()) {
      profilesSampler_ = std::make_shared<DozidiProfilesSampler>(client_->options());
      DozidiSamplingProfilerBackend::install();
    }
  }
}

std::shared_ptr<DozidiHub> DozidiHub::initWithClient(std::shared_ptr<DozidiClient> client,
                                                     std::shared_ptr<DozidiScope> scope) {
  return initWithClient(std::move(client), std::move(scope), DozidiCrashWrapper::sharedInstance(),
                        DozidiDefaultCurrentDateProvider::sharedInstance());
}

std::shared_ptr<DozidiHub> DozidiHub::initWithClient(std::shared_ptr<DozidiClient> client,
                                                     std::shared_ptr<DozidiScope> scope,
                                                     std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                                                     std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider) {
  return std::shared_ptr<DozidiHub>(
      new DozidiHub(std::move(client), std::move(scope), std::move(crashWrapper), std::move(currentDateProvider)));
}

std::shared_ptr<DozidiClient> DozidiHub::getClient() const {
  std::lock_guard lock(clientLock_);
  return client_;
}

void DozidiHub::bindClient(std::shared_ptr<DozidiClient> client) {
  std::lock_guard lock(clientLock_);
  client_ = std::move(client);
}

std::shared_ptr<DozidiScope> DozidiHub::scope() {
  auto client = getClient();
  std::lock_guard lock(scopeLock_);
  if (!scope_) {
    scope_ = client ? DozidiScope::create(static_cast<std::int64_t>(client->options()->maxBreadcrumbs))
                    : DozidiScope::create();
  }
  return scope_;
}

void DozidiHub::configureScope(const std::function<void(DozidiScope&)>& block) {
  if (!block || !getClient()) return;
  // The block runs outside every hub lock: it may call back into the hub.
  auto theScope = scope();
  block(*theScope);
}

void DozidiHub::setUser(std::shared_ptr<DozidiUser> user) { scope()->setUser(std::move(user)); }

DozidiId DozidiHub::captureEvent(std::shared_ptr<DozidiEvent> event) { return captureEvent(std::move(event), *scope()); }

DozidiId DozidiHub::captureEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope,
                                 const DozidiEnvelopeItems& additionalEnvelopeItems) {
  auto client = getClient();
  return client ? client->captureEvent(std::move(event), scope, additionalEnvelopeItems) : DozidiId::empty();
}

DozidiId DozidiHub::captureMessage(const std::string& message) { return captureMessage(message, *scope()); }

DozidiId DozidiHub::captureMessage(const std::string& message, const DozidiScope& scope) {
  auto client = getClient();
  return client ? client->captureMessage(message, scope) : DozidiId::empty();
}

DozidiId DozidiHub::captureError(const foundation::Error& error) { return captureError(error, *scope()); }

DozidiId DozidiHub::captureError(const foundation::Error& error, const DozidiScope& scope) {
  auto client = getClient();
  if (!client) return DozidiId::empty();
  if (!session()) return client->captureError(error, scope);
  return client->captureError(error, scope, [this] { return incrementSessionErrors(); });
}

DozidiId DozidiHub::captureException(const DozidiNSException& exception) {
  return captureException(exception, *scope());
}

DozidiId DozidiHub::captureException(const DozidiNSException& exception, const DozidiScope& scope) {
  auto client = getClient();
  if (!client) return DozidiId::empty();
  if (!session()) return client->captureException(exception, scope);
  return client->captureException(exception, scope, [this] { return incrementSessionErrors(); });
}

DozidiId DozidiHub::captureTransaction(const std::shared_ptr<DozidiTransaction>& transaction, const DozidiScope& scope,
                                       const DozidiEnvelopeItems& additionalEnvelopeItems) {
  if (!transaction) return DozidiId::empty();
  auto client = getClient();
  const bool sampled = transaction->trace() && transaction->trace()->context()->sampled() == DozidiSampleDecision::Yes;
  if (!sampled) {
    if (client) client->recordLostEvent(DozidiDataCategory::Transaction, DozidiDiscardReason::SampleRate);
    return DozidiId::empty();
  }
  return captureEvent(transaction, scope, additionalEnvelopeItems);
}

std::shared_ptr<DozidiTracer> DozidiHub::startTransactionWithName(const std::string& name, const std::string& operation,
                                                                  bool bindToScope) {
  return startTransactionWithName(name, DozidiTransactionNameSource::Custom, operation, bindToScope);
}

std::shared_ptr<DozidiTracer> DozidiHub::startTransactionWithName(const std::string& name,
                                                                  DozidiTransactionNameSource nameSource,
                                                                  const std::string& operation, bool bindToScope) {
  return startTransactionWithContext(DozidiTransactionContext::initWithName(name, nameSource, operation), bindToScope,
                                     foundation::Dictionary());
}

std::shared_ptr<DozidiTracer> DozidiHub::startTransactionWithContext(
    std::shared_ptr<DozidiTransactionContext> context, bool bindToScope,
    std::optional<foundation::Dictionary> customSamplingContext, bool waitForChildren) {
  return startTransaction(std::move(context), bindToScope, std::move(customSamplingContext), waitForChildren, 0.0,
                          nullptr);
}

std::shared_ptr<DozidiTracer> DozidiHub::startTransactionWithContext(
    std::shared_ptr<DozidiTransactionContext> context, bool bindToScope,
    std::optional<foundation::Dictionary> customSamplingContext, double idleTimeout,
    std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper) {
  return startTransaction(std::move(context), bindToScope, std::move(customSamplingContext), true, idleTimeout,
                          std::move(dispatchQueueWrapper));
}

std::shared_ptr<DozidiTracer> DozidiHub::startTransaction(
    std::shared_ptr<DozidiTransactionContext> context, bool bindToScope,
    std::optional<foundation::Dictionary> customSamplingContext, bool waitForChildren, double idleTimeout,
    std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper) {
  if (!context) return nullptr;
  const DozidiSamplingContext samplingContext(context, customSamplingContext.value_or(foundation::Dictionary()));
  const DozidiTracesSamplerDecision tracesDecision =
      tracesSampler_ ? tracesSampler_->sample(samplingContext)
                     : DozidiTracesSamplerDecision{DozidiSampleDecision::No, std::nullopt};
  context->setSampled(tracesDecision.decision);
  context->setSampleRate(tracesDecision.sampleRate);
  std::optional<DozidiProfilesSamplerDecision> profilesDecision;
  if (profilesSampler_) profilesDecision = profilesSampler_->sample(samplingContext, tracesDecision);

  auto tracer = dispatchQueueWrapper
                    ? DozidiTracer::initWithTransactionContext(context, shared_from_this(), profilesDecision,
                                                               waitForChildren, idleTimeout, dispatchQueueWrapper)
                    : DozidiTracer::initWithTransactionContext(context, shared_from_this(), profilesDecision,
                                                               waitForChildren);
  if (bindToScope) scope()->setSpan(tracer);
  return tracer;
}

void DozidiHub::captureCrashEvent(std::shared_ptr<DozidiEvent> event) { captureCrashEvent(std::move(event), *scope()); }

void DozidiHub::captureCrashEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope) {
  if (!event) return;
  event->isCrashEvent = true;
  auto client = getClient();
  if (!client) return;
  if (client->options()->enableAutoSessionTracking) {
    if (auto crashed = client->fileManager()->readCrashedSession()) {
      client->captureCrashEvent(std::move(event), *crashed, scope);
      client->fileManager()->deleteCrashedSession();
      return;
    }
  }
  client->captureCrashEvent(std::move(event), scope);
}

void DozidiHub::captureUserFeedback(const DozidiUserFeedback& userFeedback) {
  if (auto client = getClient()) client->captureUserFeedback(userFeedback);
}

void DozidiHub::captureEnvelope(std::shared_ptr<const DozidiEnvelope> envelope) {
  auto client = getClient();
  if (!client || !envelope) return;
  client->captureEnvelope(updateSessionState(std::move(envelope)));
}

std::shared_ptr<const DozidiEnvelope> DozidiHub::updateSessionState(std::shared_ptr<const DozidiEnvelope> envelope) {
  bool hasError = false;
  for (const auto& item : envelope->items()) {
    if (item->header().type != "event") continue;
    const auto& data = item->data();
    const auto level = DozidiSerialization::levelFromData(data.bytes());
    if (level > DozidiEventLevel::Warning) hasError = true;
  }
  if (!hasError) return envelope;
  auto copy = incrementSessionErrors();
  if (!copy) return envelope;
  auto items = envelope->items();
  items.push_back(DozidiEnvelopeItem::initWithSession(*copy));
  return std::make_shared<const DozidiEnvelope>(envelope->header(), std::move(items));
}

void DozidiHub::flush(double timeout) {
  if (auto client = getClient()) client->flush(timeout);
}

std::shared_ptr<DozidiSession> DozidiHub::session() const {
  std::lock_guard lock(sessionLock_);
  return session_;
}

void DozidiHub::startSession() {
  auto client = getClient();
  auto options = client ? client->options() : nullptr;
  if (!options || !options->releaseName) {
    DOZIDI_LOG_ERROR("No option or release to start a session.");
    return;
  }
  auto theScope = scope();
  std::shared_ptr<DozidiSession> previous;
  {
    std::lock_guard lock(sessionLock_);
    previous = session_;
    session_ = DozidiSession::initWithReleaseName(*options->releaseName);
    if (options->environment) session_->setEnvironment(options->environment);
    theScope->applyToSession(*session_);
    client->fileManager()->storeCurrentSession(*session_);
    captureSession(session_);
  }
  if (previous) {
    previous->endSessionExitedWithTimestamp(currentDateProvider_->date());
    captureSession(previous);
  }
}

void DozidiHub::endSession() { endSessionWithTimestamp(currentDateProvider_->date()); }

void DozidiHub::endSessionWithTimestamp(foundation::Date timestamp) {
  std::shared_ptr<DozidiSession> current;
  {
    std::lock_guard lock(sessionLock_);
    current = std::move(session_);
    session_ = nullptr;
    if (auto client = getClient()) client->fileManager()->deleteCurrentSession();
  }
  if (!current) {
    DOZIDI_LOG_DEBUG("No session to end with timestamp.");
    return;
  }
  current->endSessionExitedWithTimestamp(timestamp);
  captureSession(current);
}

void DozidiHub::closeCachedSessionWithTimestamp(std::optional<foundation::Date> timestamp) {
  auto client = getClient();
  auto cached = client ? client->fileManager()->readCurrentSession() : nullptr;
  if (!cached) {
    DOZIDI_LOG_DEBUG("No cached session to close.");
    return;
  }
  DOZIDI_LOG_DEBUG("A cached session was found.");
  if (crashWrapper_->crashedLastLaunch()) return;
  if (timestamp) {
    DOZIDI_LOG_DEBUG("Closing cached session as exited.");
    cached->endSessionExitedWithTimestamp(*timestamp);
  } else {
    DOZIDI_LOG_DEBUG("No timestamp to close session was provided. Closing as abnormal. Using session's start time " +
                     dozidi_toIso8601String(cached->started()));
    cached->endSessionAbnormalWithTimestamp(cached->started());
  }
  client->fileManager()->deleteCurrentSession();
  client->captureSession(*cached);
}

void DozidiHub::captureSession(const std::shared_ptr<DozidiSession>& session) {
  if (!session) return;
  auto client = getClient();
  if (!client) return;
  if (client->options()->diagnosticLevel == DozidiEventLevel::Debug && DozidiLog::willLog(DozidiEventLevel::Debug)) {
    if (auto data = DozidiSerialization::dataWithJSONObject(session->serialize(), nullptr)) {
      DOZIDI_LOG_DEBUG("Capturing session with status: " +
                       data->bytes());
    }
  }
  client->captureSession(*session);
}

std::shared_ptr<DozidiSession> DozidiHub::incrementSessionErrors() {
  std::lock_guard lock(sessionLock_);
  if (!session_) return nullptr;
  session_->incrementErrors();
  if (auto client = getClient()) client->fileManager()->storeCurrentSession(*session_);
  return session_->copy();
}

void DozidiHub::addBreadcrumb(std::shared_ptr<DozidiBreadcrumb> crumb) {
  auto client = getClient();
  if (!client || client->options()->maxBreadcrumbs == 0) return;
  if (client->options()->beforeBreadcrumb) crumb = client->options()->beforeBreadcrumb(crumb);
  if (!crumb) {
    DOZIDI_LOG_DEBUG("Discarded Breadcrumb in `beforeBreadcrumb`");
    return;
  }
  scope()->addBreadcrumb(crumb);
}

void DozidiHub::addInstalledIntegration(std::shared_ptr<DozidiIntegration> integration, std::string name) {
  std::lock_guard lock(integrationsLock_);
  installedIntegrations_.push_back(std::move(integration));
  installedIntegrationNames_.insert(std::move(name));
}

bool DozidiHub::hasIntegration(const std::string& name) const {
  std::lock_guard lock(integrationsLock_);
  return installedIntegrationNames_.contains(name);
}

bool DozidiHub::isIntegrationInstalled(const std::function<bool(const DozidiIntegration&)>& isKind) const {
  std::lock_guard lock(integrationsLock_);
  return std::any_of(installedIntegrations_.begin(), installedIntegrations_.end(),
                     [&](const auto& integration) { return isKind(*integration); });
}

void DozidiHub::removeAllIntegrations() {
  std::lock_guard lock(integrationsLock_);
  installedIntegrations_.clear();
  installedIntegrationNames_.clear();
}

std::vector<std::shared_ptr<DozidiIntegration>> DozidiHub::installedIntegrations() const {
  std::lock_guard lock(integrationsLock_);
  return installedIntegrations_;
}

std::set<std::string> DozidiHub::installedIntegrationNames() const {
  std::lock_guard lock(integrationsLock_);
  return installedIntegrationNames_;
}
