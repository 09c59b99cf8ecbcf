#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDataCategory.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

class DozidiCrashWrapper;
class DozidiDebugImageProvider;
class DozidiEvent;
class DozidiFileManager;
class DozidiOptions;
class DozidiPermissionsObserver;
class DozidiRandom;
class DozidiScope;
class DozidiSession;
class DozidiThread;
class DozidiTransportAdapter;
class DozidiUserFeedback;

/// An exception of the object runtime, as the app reports it: its name, reason and user info.
struct DozidiNSException {
  std::string name;
  std::optional<std::string> reason;
  foundation::Dictionary userInfo;
};

/// Gives the threads of the process with their stack traces, the calling thread marked current.
class DozidiThreadInspector {
 public:
  virtual ~DozidiThreadInspector() = default;
  virtual std::vector<std::shared_ptr<DozidiThread>> getCurrentThreads() = 0;
  /// Every thread of the process with its stack, the main thread first; by default the current
  /// threads.
  virtual std::vector<std::shared_ptr<DozidiThread>> getCurrentThreadsWithStackTrace() { return getCurrentThreads(); }
};

/// Changes the attachments of an event before it is sent.
class DozidiAttachmentProcessor {
 public:
  virtual ~DozidiAttachmentProcessor() = default;
  virtual std::vector<std::shared_ptr<DozidiAttachment>> processAttachments(
      std::vector<std::shared_ptr<DozidiAttachment>> attachments, const DozidiEvent& event) = 0;
};

/// Turns what the app reports into prepared events and hands them to the transport adapter. Holds
/// no lock: any thread may call it; its collaborators are fixed at construction.
class DozidiClient {
 public:
  struct Parts {
    std::shared_ptr<DozidiTransportAdapter> transportAdapter;
    std::shared_ptr<DozidiFileManager> fileManager;
    std::shared_ptr<DozidiThreadInspector> threadInspector;
    std::shared_ptr<DozidiPermissionsObserver> permissionsObserver;
    std::shared_ptr<DozidiRandom> random;
    std::shared_ptr<DozidiCrashWrapper> crashWrapper;
    std::shared_ptr<DozidiDebugImageProvider> debugImageProvider;
  };

  /// Builds the file manager, the transport and the adapter; none (with an error line) when the
  /// file manager cannot be made.
  static std::shared_ptr<DozidiClient> initWithOptions(std::shared_ptr<DozidiOptions> options);
  static std::shared_ptr<DozidiClient> initWithOptions(std::shared_ptr<DozidiOptions> options, Parts parts);

  const std::shared_ptr<DozidiOptions>& options() const { return options_; }
  const std::shared_ptr<DozidiFileManager>& fileManager() const { return parts_.fileManager; }
  const std::shared_ptr<DozidiTransportAdapter>& transportAdapter() const { return parts_.transportAdapter; }
  const std::shared_ptr<DozidiThreadInspector>& threadInspector() const { return parts_.threadInspector; }
  const std::shared_ptr<DozidiPermissionsObserver>& permissionsObserver() const { return parts_.permissionsObserver; }

  DozidiId captureMessage(const std::string& message);
  DozidiId captureMessage(const std::string& message, const DozidiScope& scope);
  DozidiId captureError(const foundation::Error& error);
  DozidiId captureError(const foundation::Error& error, const DozidiScope& scope);
  DozidiId captureException(const DozidiNSException& exception);
  DozidiId captureException(const DozidiNSException& exception, const DozidiScope& scope);
  /// `incrementSessionErrors` runs only once the event survived preparation; the session copy it
  /// returns travels with the event.
  using SessionErrors = std::function<std::shared_ptr<DozidiSession>()>;
  DozidiId captureError(const foundation::Error& error, const DozidiScope& scope, const SessionErrors& incrementSessionErrors);
  DozidiId captureException(const DozidiNSException& exception, const DozidiScope& scope,
                            const SessionErrors& incrementSessionErrors);
  DozidiId captureEvent(std::shared_ptr<DozidiEvent> event);
  DozidiId captureEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope,
                        const DozidiEnvelopeItems& additionalEnvelopeItems = {});
  DozidiId captureCrashEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope);
  DozidiId captureCrashEvent(std::shared_ptr<DozidiEvent> event, const DozidiSession& session, const DozidiScope& scope);

  void captureSession(const DozidiSession& session);
  void captureEnvelope(std::shared_ptr<const DozidiEnvelope> envelope);
  void captureUserFeedback(const DozidiUserFeedback& userFeedback);
  void storeEnvelope(const DozidiEnvelope& envelope);
  void recordLostEvent(DozidiDataCategory category, DozidiDiscardReason reason);
  bool flush(double timeout);

  void addAttachmentProcessor(std::shared_ptr<DozidiAttachmentProcessor> processor);
  void removeAttachmentProcessor(const std::shared_ptr<DozidiAttachmentProcessor>& processor);

  /// The event with every enrichment, or none when the client is off or the event was dropped.
  std::shared_ptr<DozidiEvent> prepareEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope,
                                            bool alwaysAttachStacktrace, bool isCrashEvent = false);

  static std::shared_ptr<DozidiEvent> buildExceptionEvent(const DozidiNSException& exception);
  static std::shared_ptr<DozidiEvent> buildErrorEvent(const foundation::Error& error);

 private:
  /// The dynamic sampling context for the envelope header: the transaction's tracer, or the
  /// tracer behind the scope's span; none without one.
  std::shared_ptr<const DozidiTraceContext> getTraceStateWithEvent(const std::shared_ptr<DozidiEvent>& event,
                                                                   const DozidiScope& scope) const;
  DozidiClient(std::shared_ptr<DozidiOptions> options, Parts parts);

  bool isDisabled() const;
  DozidiId sendEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope, bool alwaysAttachStacktrace,
                     bool isCrashEvent, const DozidiEnvelopeItems& additionalEnvelopeItems);
  DozidiId sendEvent(std::shared_ptr<DozidiEvent> event, const DozidiSession* session, const DozidiScope& scope);
  std::vector<std::shared_ptr<DozidiAttachment>> attachmentsFor(const DozidiEvent& event, const DozidiScope& scope);
  void setSdk(DozidiEvent& event) const;
  void applyExtraDeviceContext(DozidiEvent& event) const;

  std::shared_ptr<DozidiOptions> options_;
  Parts parts_;
  // Integrations add and remove processors while events are sent on other threads.
  std::mutex attachmentProcessorsLock_;
  std::vector<std::shared_ptr<DozidiAttachmentProcessor>> attachmentProcessors_;
};
