#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <utility>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiGlobalEventProcessor.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransaction.h"
#include "dozidi-cocoa/Sources/Dozidi/Permissions/DozidiPermissionsObserver.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMechanism.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMessage.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeta.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiNSError.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiTraceContext.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiUserFeedback.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDebugImageProvider.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInstallation.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiRandom.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiThreadInspector.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiTransportAdapter.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiTransportFactory.h"
#include "platform/foundation/Bundle.h"

using foundation::Dictionary;

namespace {

constexpr const char* kDisabledMessage = "SDK disabled or no DSN set. Won't do anyting.";

void replaceAll(std::string& text, const std::string& what) {
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at)) text.erase(at, what.size());
}

// Changes the entry `key` of the event's context, only when the event has a non-empty context.
template <class Change>
void modifyContext(DozidiEvent& event, const std::string& key, Change change) {
  if (!event.context || event.context->size() == 0) return;
  Dictionary context = *event.context;
  Dictionary entry;
  if (const auto* existing = context[key].dictionary()) entry = *existing;
  change(entry);
  context.set(key, entry);
  event.context = std::move(context);
}

void setUserInfo(const Dictionary& userInfo, DozidiEvent& event) {
  if (userInfo.size() == 0) return;
  Dictionary context = event.context.value_or(Dictionary{});
  context.set("user info", dozidi_sanitize(userInfo));
  event.context = std::move(context);
}

// The locale of the process environment ("en_US" of "en_US.UTF-8"), "en_US_POSIX" without one.
std::string localeIdentifier() {
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string text(value);
    text = text.substr(0, text.find_first_of(".@"));
    if (text == "C" || text == "POSIX") break;
    return text;
  }
  return "en_US_POSIX";
}

std::string timeZoneName() {
  if (const char* tz = std::getenv("TZ"); tz && *tz) return *tz == ':' ? tz + 1 : tz;
  std::ifstream file("/etc/timezone");
  std::string name;
  if (std::getline(file, name) && !name.empty()) return name;
  return "UTC";
}

bool isOutOfMemoryCrash(const DozidiEvent& event, bool isCrashEvent) {
  if (!isCrashEvent || !event.exceptions || event.exceptions->size() != 1) return false;
  const auto& mechanism = event.exceptions->front()->mechanism;
  return mechanism && mechanism->type == "out_of_memory";
}

}  // namespace

DozidiClient::DozidiClient(std::shared_ptr<DozidiOptions> options, Parts parts)
    : options_(std::move(options)), parts_(std::move(parts)) {
  if (!parts_.random) parts_.random = DozidiDependencyContainer::sharedInstance()->random();
  if (!parts_.crashWrapper) parts_.crashWrapper = DozidiCrashWrapper::sharedInstance();
  if (!parts_.permissionsObserver) parts_.permissionsObserver = std::make_shared<DozidiPermissionsObserver>();
  if (!parts_.threadInspector) {
    auto mapper = std::make_shared<DozidiCrashStackEntryMapper>(
        DozidiInAppLogic(options_->inAppIncludes, options_->inAppExcludes));
    parts_.threadInspector =
        std::make_shared<DozidiDefaultThreadInspector>(std::make_shared<DozidiStacktraceBuilder>(std::move(mapper)));
  }
}

std::shared_ptr<DozidiClient> DozidiClient::initWithOptions(std::shared_ptr<DozidiOptions> options) {
  return initWithOptions(std::move(options), Parts{});
}

std::shared_ptr<DozidiClient> DozidiClient::initWithOptions(std::shared_ptr<DozidiOptions> options, Parts parts) {
  if (!options) return nullptr;
  if (!parts.fileManager) {
    foundation::Error error("", 0);
    parts.fileManager =
        DozidiFileManager::initWithOptions(*options, DozidiDefaultCurrentDateProvider::sharedInstance(), &error);
    if (!parts.fileManager) {
      DOZIDI_LOG_ERROR(error.localizedDescription());
      return nullptr;
    }
  }
  if (!parts.transportAdapter) {
    auto transport = DozidiTransportFactory::initTransport(options, parts.fileManager);
    parts.transportAdapter = std::make_shared<DozidiTransportAdapter>(std::move(transport), options);
  }
  return std::shared_ptr<DozidiClient>(new DozidiClient(std::move(options), std::move(parts)));
}

bool DozidiClient::isDisabled() const { return !options_->enabled || !options_->parsedDsn(); }

std::shared_ptr<DozidiEvent> DozidiClient::buildExceptionEvent(const DozidiNSException& exception) {
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
  event->exceptions = std::vector{DozidiException::initWithValue(exception.reason, exception.name)};
  setUserInfo(exception.userInfo, *event);
  return event;
}

std::shared_ptr<DozidiEvent> DozidiClient::buildErrorEvent(const foundation::Error& error) {
  auto event = DozidiEvent::initWithError(error);
  const auto code = std::to_string(error.code());
  std::string value = "Code: " + code;
  if (auto debug = error.userInfo()[foundation::kDebugDescriptionKey].asString()) {
    value = *debug + " (Code: " + code + ")";
  }
  auto exception = DozidiException::initWithValue(value, error.domain());
  auto mechanism = DozidiMechanism::initWithType("NSError");
  mechanism->meta = DozidiMechanismMeta::create();
  mechanism->meta->error = DozidiNSError(error.domain(), error.code());
  mechanism->desc = "Error Domain=" + error.domain() + " Code=" + code + " \"" + error.localizedDescription() + "\"";
  const Dictionary userInfo = dozidi_sanitize(error.userInfo());
  mechanism->data = userInfo;
  exception->mechanism = mechanism;
  event->exceptions = std::vector{exception};
  setUserInfo(userInfo, *event);
  return event;
}

std::shared_ptr<DozidiEvent> DozidiClient::prepareEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope,
                                                        bool alwaysAttachStacktrace, bool isCrashEvent) {
  if (!event) return nullptr;
  if (isDisabled()) {
    DOZIDI_LOG_DEBUG(kDisabledMessage);
    return nullptr;
  }
  const bool isTransaction = event->type == "transaction";
  const auto lostCategory = isTransaction ? DozidiDataCategory::Transaction : DozidiDataCategory::Error;

  if (!isTransaction && options_->sampleRate() && parts_.random->nextNumber() > *options_->sampleRate()) {
    DOZIDI_LOG_DEBUG("Event got sampled, will not send the event");
    recordLostEvent(DozidiDataCategory::Error, DozidiDiscardReason::SampleRate);
    return nullptr;
  }

  if (auto bundle = foundation::Bundle::main(); bundle && bundle->infoDictionary().size() > 0 && !event->dist) {
    if (auto build = bundle->infoDictionary()["CFBundleVersion"].asString()) event->dist = *build;
  }
  if (!event->releaseName && options_->releaseName) event->releaseName = options_->releaseName;
  if (options_->dist) event->dist = options_->dist;
  if (options_->environment && !event->environment) event->environment = options_->environment;
  setSdk(*event);

  if (!isTransaction) {
    const bool hasExceptions = event->exceptions && !event->exceptions->empty();
    if ((alwaysAttachStacktrace || options_->attachStacktrace || hasExceptions) && !isCrashEvent) {
      if ((!event->threads || event->threads->empty()) && parts_.threadInspector) {
        event->threads = parts_.threadInspector->getCurrentThreads();
      }
      if ((!event->debugMeta || event->debugMeta->empty()) && event->threads && parts_.debugImageProvider) {
        event->debugMeta = parts_.debugImageProvider->getDebugImagesForThreads(*event->threads);
      }
    }
  }

  event = scope.applyToEvent(event, options_->maxBreadcrumbs);
  if (!event) return nullptr;

  if (isOutOfMemoryCrash(*event, isCrashEvent)) {
    modifyContext(*event, "device", [](Dictionary& device) {
      for (const char* key : {"free_memory", "free_storage", "orientation", "charging", "battery_level"}) {
        device.remove(key);
      }
    });
    modifyContext(*event, "app", [](Dictionary& app) { app.remove("app_memory"); });
  } else {
    applyExtraDeviceContext(*event);
  }
  const DozidiPermissionsObserver& permissions = *parts_.permissionsObserver;
  modifyContext(*event, "app", [&permissions](Dictionary& app) {
    app.set("permissions",
            Dictionary{{"push_notifications", nameForDozidiPermissionStatus(permissions.pushPermissionStatus())},
                       {"location_access", nameForDozidiPermissionStatus(permissions.locationPermissionStatus())},
                       {"photo_library", nameForDozidiPermissionStatus(permissions.photoLibraryPermissionStatus())}});
  });
  modifyContext(*event, "culture", [](Dictionary& culture) {
    const std::string locale = localeIdentifier();
    culture.set("calendar", "Gregorian Calendar");
    culture.set("display_name", locale);
    culture.set("locale", locale);
    culture.set("is_24_hour_format", dozidi_timeIs24HourFormat());
    culture.set("timezone", timeZoneName());
  });

  if (!event->environment) event->environment = "production";
  if (!event->user) event->user = DozidiUser::initWithUserId(DozidiInstallation::id());
  if (options_->sendDefaultPii && !event->user->ipAddress()) event->user->setIpAddress("{{auto}}");

  for (const auto& processor : DozidiGlobalEventProcessor::shared().processors()) {
    event = processor(event);
    if (!event) {
      DOZIDI_LOG_DEBUG("DozidiScope callEventProcessors: An event processor decided to remove this event.");
      recordLostEvent(lostCategory, DozidiDiscardReason::EventProcessor);
      break;
    }
  }
  if (event && options_->beforeSend) {
    event = options_->beforeSend(event);
    if (!event) recordLostEvent(lostCategory, DozidiDiscardReason::BeforeSend);
  }

  // Only the first preparer of a crash event claims the flag, however many threads race here.
  if (isCrashEvent && options_->onCrashedLastRun && DozidiSDK::claimCrashedLastRunCall()) {
    options_->onCrashedLastRun(event);
  }
  return event;
}

void DozidiClient::setSdk(DozidiEvent& event) const {
  if (event.sdk) return;
  foundation::Array integrations;
  if (const auto* given = event.extra ? event.extra->find("__dozidi_sdk_integrations") : nullptr) {
    if (const auto* list = given->array()) integrations = *list;
  } else {
    for (auto name : DozidiSDK::currentHub()->installedIntegrationNames()) {
      replaceAll(name, "Dozidi");
      replaceAll(name, "Integration");
      integrations.push_back(name);
    }
    if (options_->stitchAsyncCode) integrations.push_back("StitchAsyncCode");
    if (options_->enablePreWarmedAppStartTracking) integrations.push_back("PreWarmedAppStartTracking");
  }
  event.sdk = Dictionary{
      {"name", DozidiMeta::sdkName()}, {"version", DozidiMeta::versionString()}, {"integrations", integrations}};
}

void DozidiClient::applyExtraDeviceContext(DozidiEvent& event) const {
  auto crash = parts_.crashWrapper;
  modifyContext(event, "device", [&crash](Dictionary& device) {
    device.set("free_memory", crash->freeMemorySize());
    device.set("free_storage", crash->freeStorageSize());
  });
  modifyContext(event, "app", [&crash](Dictionary& app) { app.set("app_memory", crash->appMemorySize()); });
}

std::vector<std::shared_ptr<DozidiAttachment>> DozidiClient::attachmentsFor(const DozidiEvent& event,
                                                                            const DozidiScope& scope) {
  auto attachments = scope.attachments();
  // Called from a copy: a processor may wait for the main thread, which may be adding another.
  std::vector<std::shared_ptr<DozidiAttachmentProcessor>> processors;
  {
    std::lock_guard guard(attachmentProcessorsLock_);
    processors = attachmentProcessors_;
  }
  for (const auto& processor : processors) attachments = processor->processAttachments(attachments, event);
  return attachments;
}

DozidiId DozidiClient::sendEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope,
                                 bool alwaysAttachStacktrace, bool isCrashEvent,
                                 const DozidiEnvelopeItems& additionalEnvelopeItems) {
  auto traceContext = getTraceStateWithEvent(event, scope);
  auto prepared = prepareEvent(std::move(event), scope, alwaysAttachStacktrace, isCrashEvent);
  if (!prepared) return DozidiId::empty();
  parts_.transportAdapter->sendEvent(*prepared, attachmentsFor(*prepared, scope), std::move(traceContext),
                                     additionalEnvelopeItems);
  return prepared->eventId;
}

DozidiId DozidiClient::sendEvent(std::shared_ptr<DozidiEvent> event, const DozidiSession* session,
                                 const DozidiScope& scope) {
  if (!event) return DozidiId::empty();
  const auto attachments = attachmentsFor(*event, scope);
  if (!session) {
    parts_.transportAdapter->sendEvent(*event, attachments);
  } else if (auto release = session->releaseName(); release && !release->empty()) {
    parts_.transportAdapter->sendEvent(*event, *session, attachments);
  } else {
    DOZIDI_LOG_DEBUG("Session has no release name. Won't send it.");
    parts_.transportAdapter->sendEvent(*event, attachments, getTraceStateWithEvent(event, scope));
  }
  return event->eventId;
}

DozidiId DozidiClient::captureMessage(const std::string& message) { return captureMessage(message, *DozidiScope::create()); }

DozidiId DozidiClient::captureMessage(const std::string& message, const DozidiScope& scope) {
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Info);
  event->message = DozidiMessage::initWithFormatted(message);
  return sendEvent(event, scope, false, false, {});
}

DozidiId DozidiClient::captureError(const foundation::Error& error) { return captureError(error, *DozidiScope::create()); }

DozidiId DozidiClient::captureError(const foundation::Error& error, const DozidiScope& scope) {
  return sendEvent(buildErrorEvent(error), scope, true, false, {});
}

DozidiId DozidiClient::captureException(const DozidiNSException& exception) {
  return captureException(exception, *DozidiScope::create());
}

DozidiId DozidiClient::captureException(const DozidiNSException& exception, const DozidiScope& scope) {
  return sendEvent(buildExceptionEvent(exception), scope, true, false, {});
}

namespace {
DozidiId sendWithSessionErrors(DozidiClient& client, std::shared_ptr<DozidiEvent> event, const DozidiScope& scope,
                               const DozidiClient::SessionErrors& increment,
                               const std::function<DozidiId(std::shared_ptr<DozidiEvent>, const DozidiSession*)>& send) {
  auto prepared = client.prepareEvent(std::move(event), scope, true);
  if (!prepared) return DozidiId::empty();
  // No session copy (the session ended meanwhile): the event goes on alone.
  auto session = increment ? increment() : nullptr;
  return send(prepared, session.get());
}
}  // namespace

DozidiId DozidiClient::captureError(const foundation::Error& error, const DozidiScope& scope,
                                    const SessionErrors& incrementSessionErrors) {
  return sendWithSessionErrors(*this, buildErrorEvent(error), scope, incrementSessionErrors,
                               [&](std::shared_ptr<DozidiEvent> e, const DozidiSession* s) { return sendEvent(e, s, scope); });
}

DozidiId DozidiClient::captureException(const DozidiNSException& exception, const DozidiScope& scope,
                                        const SessionErrors& incrementSessionErrors) {
  return sendWithSessionErrors(*this, buildExceptionEvent(exception), scope, incrementSessionErrors,
                               [&](std::shared_ptr<DozidiEvent> e, const DozidiSession* s) { return sendEvent(e, s, scope); });
}

DozidiId DozidiClient::captureEvent(std::shared_ptr<DozidiEvent> event) {
  return captureEvent(std::move(event), *DozidiScope::create());
}

DozidiId DozidiClient::captureEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope,
                                    const DozidiEnvelopeItems& additionalEnvelopeItems) {
  return sendEvent(std::move(event), scope, false, false, additionalEnvelopeItems);
}

DozidiId DozidiClient::captureCrashEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope) {
  return sendEvent(std::move(event), scope, false, true, {});
}

DozidiId DozidiClient::captureCrashEvent(std::shared_ptr<DozidiEvent> event, const DozidiSession& session,
                                         const DozidiScope& scope) {
  auto prepared = prepareEvent(std::move(event), scope, false, true);
  return sendEvent(prepared, &session, scope);
}

void DozidiClient::captureSession(const DozidiSession& session) {
  auto release = session.releaseName();
  if (!release || release->empty()) {
    DOZIDI_LOG_DEBUG("Session has no release name. Won't send it.");
    return;
  }
  captureEnvelope(std::make_shared<const DozidiEnvelope>(DozidiEnvelopeHeader(std::nullopt, nullptr),
                                                         DozidiEnvelopeItems{DozidiEnvelopeItem::initWithSession(session)}));
}

void DozidiClient::captureEnvelope(std::shared_ptr<const DozidiEnvelope> envelope) {
  if (isDisabled()) {
    DOZIDI_LOG_DEBUG(kDisabledMessage);
    return;
  }
  parts_.transportAdapter->sendEnvelope(std::move(envelope));
}

void DozidiClient::captureUserFeedback(const DozidiUserFeedback& userFeedback) {
  if (isDisabled()) {
    DOZIDI_LOG_DEBUG(kDisabledMessage);
    return;
  }
  if (userFeedback.eventId() == DozidiId::empty()) {
    DOZIDI_LOG_DEBUG("Capturing UserFeedback with an empty event id. Won't send it.");
    return;
  }
  parts_.transportAdapter->sendUserFeedback(userFeedback);
}

void DozidiClient::storeEnvelope(const DozidiEnvelope& envelope) { (void)parts_.fileManager->storeEnvelope(envelope); }

void DozidiClient::recordLostEvent(DozidiDataCategory category, DozidiDiscardReason reason) {
  parts_.transportAdapter->recordLostEvent(category, reason);
}

bool DozidiClient::flush(double timeout) { return parts_.transportAdapter->flush(timeout); }

void DozidiClient::addAttachmentProcessor(std::shared_ptr<DozidiAttachmentProcessor> processor) {
  std::lock_guard guard(attachmentProcessorsLock_);
  attachmentProcessors_.push_back(std::move(processor));
}

void DozidiClient::removeAttachmentProcessor(const std::shared_ptr<DozidiAttachmentProcessor>& processor) {
  std::lock_guard guard(attachmentProcessorsLock_);
  std::erase(attachmentProcessors_, processor);
}

std::shared_ptr<const DozidiTraceContext> DozidiClient::getTraceStateWithEvent(const std::shared_ptr<DozidiEvent>& event,
                                                                               const DozidiScope& scope) const {
  std::shared_ptr<DozidiTracer> tracer;
  if (auto transaction = std::dynamic_pointer_cast<DozidiTransaction>(event)) {
    tracer = transaction->trace();
  } else {
    tracer = DozidiTracer::getTracer(scope.span());
  }
  if (!tracer) return nullptr;
  return DozidiTraceContext::initWithTracer(*tracer, scope, options_);
}
