#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"

class DozidiBreadcrumb;
class DozidiClient;
class DozidiCrashWrapper;
class DozidiCurrentDateProvider;
class DozidiEvent;
class DozidiIntegration;
class DozidiScope;
class DozidiSession;
class DozidiUser;
class DozidiUserFeedback;
class DozidiDispatchQueueWrapper;
class DozidiProfilesSampler;
class DozidiTracer;
class DozidiTracesSampler;
class DozidiTransaction;
class DozidiTransactionContext;
enum class DozidiTransactionNameSource : std::int64_t;
struct DozidiNSException;

/// Binds one client and one scope, forwards captures, owns the running session and the list of
/// installed integrations. Any thread may call it: the session and the integration lists have a
/// lock each, the scope's creation another; captures take no hub lock.
class DozidiHub : public std::enable_shared_from_this<DozidiHub> {
 public:
  static std::shared_ptr<DozidiHub> initWithClient(std::shared_ptr<DozidiClient> client,
                                                   std::shared_ptr<DozidiScope> scope);
  static std::shared_ptr<DozidiHub> initWithClient(std::shared_ptr<DozidiClient> client,
                                                   std::shared_ptr<DozidiScope> scope,
                                                   std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                                                   std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider);

  std::shared_ptr<DozidiClient> getClient() const;
  /// Binds `client`; none unbinds it.
  void bindClient(std::shared_ptr<DozidiClient> client);
  /// The hub's scope, made on first use with the client's breadcrumb limit.
  std::shared_ptr<DozidiScope> scope();
  /// Calls `block` with the hub's scope, only when a client is bound.
  void configureScope(const std::function<void(DozidiScope&)>& block);
  void setUser(std::shared_ptr<DozidiUser> user);

  DozidiId captureEvent(std::shared_ptr<DozidiEvent> event);
  DozidiId captureEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope,
                        const DozidiEnvelopeItems& additionalEnvelopeItems = {});
  DozidiId captureMessage(const std::string& message);
  DozidiId captureMessage(const std::string& message, const DozidiScope& scope);
  DozidiId captureError(const foundation::Error& error);
  DozidiId captureError(const foundation::Error& error, const DozidiScope& scope);
  DozidiId captureException(const DozidiNSException& exception);
  DozidiId captureException(const DozidiNSException& exception, const DozidiScope& scope);
  /// A transaction whose context is not sampled is counted as lost (sample_rate) and not sent.
  DozidiId captureTransaction(const std::shared_ptr<DozidiTransaction>& transaction, const DozidiScope& scope,
                              const DozidiEnvelopeItems& additionalEnvelopeItems = {});
  void captureCrashEvent(std::shared_ptr<DozidiEvent> event);
  void captureCrashEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope);
  void captureUserFeedback(const DozidiUserFeedback& userFeedback);
  void captureEnvelope(std::shared_ptr<const DozidiEnvelope> envelope);
  void flush(double timeout);

  // Transactions: sampled for tracing and profiling, then a new tracer on this hub, bound to the
  // scope when asked. Without a client the transaction is not sampled.
  std::shared_ptr<DozidiTracer> startTransactionWithName(const std::string& name, const std::string& operation,
                                                         bool bindToScope = false);
  std::shared_ptr<DozidiTracer> startTransactionWithName(const std::string& name, DozidiTransactionNameSource nameSource,
                                                         const std::string& operation, bool bindToScope = false);
  std::shared_ptr<DozidiTracer> startTransactionWithContext(
      std::shared_ptr<DozidiTransactionContext> context, bool bindToScope = false,
      std::optional<foundation::Dictionary> customSamplingContext = std::nullopt, bool waitForChildren = false);
  /// An idle transaction that finishes by itself on `dispatchQueueWrapper`'s queue.
  std::shared_ptr<DozidiTracer> startTransactionWithContext(std::shared_ptr<DozidiTransactionContext> context,
                                                            bool bindToScope,
                                                            std::optional<foundation::Dictionary> customSamplingContext,
                                                            double idleTimeout,
                                                            std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper);
  std::shared_ptr<DozidiTracesSampler> tracesSampler() const { return tracesSampler_; }
  std::shared_ptr<DozidiProfilesSampler> profilesSampler() const { return profilesSampler_; }

  // Release-health sessions.
  void startSession();
  void endSession();
  void endSessionWithTimestamp(foundation::Date timestamp);
  /// Ends the session stored by the previous run: as exited at `timestamp`, else as abnormal at
  /// its own start. Left alone when the last launch crashed.
  void closeCachedSessionWithTimestamp(std::optional<foundation::Date> timestamp);
  void captureSession(const std::shared_ptr<DozidiSession>& session);
  /// Counts an error on the running session and returns a copy of it; none without a session.
  std::shared_ptr<DozidiSession> incrementSessionErrors();
  std::shared_ptr<DozidiSession> session() const;

  void addBreadcrumb(std::shared_ptr<DozidiBreadcrumb> crumb);

  // Integrations.
  void addInstalledIntegration(std::shared_ptr<DozidiIntegration> integration, std::string name);
  bool hasIntegration(const std::string& name) const;
  /// True when an installed integration satisfies `isKind` (a kind-of test).
  bool isIntegrationInstalled(const std::function<bool(const DozidiIntegration&)>& isKind) const;
  void removeAllIntegrations();
  std::vector<std::shared_ptr<DozidiIntegration>> installedIntegrations() const;
  std::set<std::string> installedIntegrationNames() const;

 private:
  DozidiHub(std::shared_ptr<DozidiClient> client, std::shared_ptr<DozidiScope> scope,
            std::shared_ptr<DozidiCrashWrapper> crashWrapper,
            std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider);
  std::shared_ptr<const DozidiEnvelope> updateSessionState(std::shared_ptr<const DozidiEnvelope> envelope);
  std::shared_ptr<DozidiTracer> startTransaction(std::shared_ptr<DozidiTransactionContext> context, bool bindToScope,
                                                 std::optional<foundation::Dictionary> customSamplingContext,
                                                 bool waitForChildren, double idleTimeout,
                                                 std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper);

  mutable std::mutex clientLock_;
  std::shared_ptr<DozidiClient> client_;
  std::mutex scopeLock_;
  std::shared_ptr<DozidiScope> scope_;
  std::shared_ptr<DozidiCrashWrapper> crashWrapper_;
  std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider_;
  std::shared_ptr<DozidiTracesSampler> tracesSampler_;
  std::shared_ptr<DozidiProfilesSampler> profilesSampler_;

  mutable std::mutex sessionLock_;
  std::shared_ptr<DozidiSession> session_;

  mutable std::mutex integrationsLock_;
  std::vector<std::shared_ptr<DozidiIntegration>> installedIntegrations_;
  std::set<std::string> installedIntegrationNames_;
};
