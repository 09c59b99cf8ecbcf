#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEventLevel.h"
#include "platform/foundation/Value.h"

class DozidiAttachment;
class DozidiBreadcrumb;
class DozidiEvent;
class DozidiSession;
class DozidiSpan;
class DozidiUser;

/// Told of every change of a scope, so that a copy of the scope (the crash recorder's mirror, the
/// out-of-memory observer) follows it. Calls arrive on the thread that changed the scope, after
/// the change and after the scope let go of its locks, so an observer may read the scope back.
/// Each call carries the whole state of what changed. Every call does nothing unless overridden.
class DozidiScopeObserver {
 public:
  virtual ~DozidiScopeObserver() = default;
  virtual void setUser(const std::shared_ptr<DozidiUser>& /*user*/) {}
  virtual void setTags(const foundation::Dictionary& /*tags*/) {}
  virtual void setExtras(const foundation::Dictionary& /*extras*/) {}
  virtual void setContext(const foundation::Dictionary& /*context*/) {}
  virtual void setDist(const std::optional<std::string>& /*dist*/) {}
  virtual void setEnvironment(const std::optional<std::string>& /*environment*/) {}
  virtual void setFingerprint(const std::vector<std::string>& /*fingerprint*/) {}
  virtual void setLevel(DozidiEventLevel /*level*/) {}
  virtual void addSerializedBreadcrumb(const foundation::Dictionary& /*crumb*/) {}
  virtual void clearBreadcrumbs() {}
  virtual void clear() {}
};

/// The context the hub applies to every event: breadcrumbs, tags, extras, contexts, user, dist,
/// environment, fingerprint, level, attachments and the bound span. Any thread may use it: each
/// collection has a lock of its own, the plain values another; there is no scope-wide lock, so a
/// concurrent change may land between two parts of `applyToEvent` or `serialize`.
class DozidiScope {
 public:
  static constexpr std::int64_t kDefaultMaxBreadcrumbs = 100;

  static std::shared_ptr<DozidiScope> create(std::int64_t maxBreadcrumbs = kDefaultMaxBreadcrumbs);
  /// A copy of `other`'s contents, user included (copied); not its span and not its observers.
  static std::shared_ptr<DozidiScope> initWithScope(const DozidiScope& other);

  /// Appends to the trail, dropping the oldest entry beyond the capacity. With a capacity below 1
  /// nothing is stored and nobody is told.
  void addBreadcrumb(const std::shared_ptr<DozidiBreadcrumb>& crumb);
  void clearBreadcrumbs();
  /// Sets one tag; none removes it.
  void setTagValue(const std::optional<std::string>& value, const std::string& key);
  void removeTagForKey(const std::string& key);
  /// Adds the entries to the tags; no dictionary changes nothing and tells nobody.
  void setTags(const std::optional<foundation::Dictionary>& tags);
  /// Sets one extra; an absent value removes it.
  void setExtraValue(const foundation::Value& value, const std::string& key);
  void removeExtraForKey(const std::string& key);
  /// Adds the entries to the extras; no dictionary changes nothing and tells nobody.
  void setExtras(const std::optional<foundation::Dictionary>& extras);
  /// Sets one context; none removes it.
  void setContextValue(const std::optional<foundation::Dictionary>& value, const std::string& key);
  void removeContextForKey(const std::string& key);
  void setUser(std::shared_ptr<DozidiUser> user);
  void setDist(std::optional<std::string> dist);
  void setEnvironment(std::optional<std::string> environment);
  /// Replaces the fingerprint; none empties it.
  void setFingerprint(const std::optional<std::vector<std::string>>& fingerprint);
  void setLevel(DozidiEventLevel level);
  void addAttachment(std::shared_ptr<DozidiAttachment> attachment);
  void clearAttachments();
  void setSpan(std::shared_ptr<DozidiSpan> span);
  /// Empties everything but the capacity and the observers.
  void clear();
  /// Appends an observer; the scope holds it strongly.
  void addObserver(std::shared_ptr<DozidiScopeObserver> observer);

  // Copies taken under the lock of each part.
  std::vector<std::shared_ptr<DozidiBreadcrumb>> breadcrumbs() const;
  foundation::Dictionary tags() const;
  foundation::Dictionary extras() const;
  foundation::Dictionary context() const;
  std::vector<std::string> fingerprints() const;
  std::vector<std::shared_ptr<DozidiAttachment>> attachments() const;
  std::shared_ptr<DozidiUser> userObject() const;
  std::optional<std::string> distString() const;
  std::optional<std::string> environmentString() const;
  DozidiEventLevel levelEnum() const { return level_.load(); }
  std::int64_t maxBreadcrumbs() const { return maxBreadcrumbs_.load(); }
  std::shared_ptr<DozidiSpan> span() const;
  /// Calls `block` with the bound span (maybe none) while holding the span's lock.
  void useSpan(const std::function<void(const std::shared_ptr<DozidiSpan>&)>& block) const;

  /// Applies the scope to `event` (tags, extras, fingerprint, breadcrumbs, user, dist,
  /// environment, level, contexts and the span's trace context) and returns it. An event without
  /// breadcrumbs gets the newest `maxBreadcrumb` entries of the trail, oldest first.
  std::shared_ptr<DozidiEvent> applyToEvent(std::shared_ptr<DozidiEvent> event, std::uint64_t maxBreadcrumb) const;
  /// Gives the session a copy of the user and the environment, where the scope has them.
  void applyToSession(DozidiSession& session) const;
  /// "tags", "extra", "context", "user", "dist", "environment", "fingerprint", "level" and
  /// "breadcrumbs", each only when set and not empty.
  foundation::Dictionary serialize() const;
  /// Each breadcrumb's dictionary, oldest first.
  foundation::Array serializeBreadcrumbs() const;

 private:
  explicit DozidiScope(std::int64_t maxBreadcrumbs) : maxBreadcrumbs_(maxBreadcrumbs) {}
  std::vector<std::shared_ptr<DozidiScopeObserver>> observersCopy() const;
  using ObserverCall = std::function<void(DozidiScopeObserver&)>;
  /// Queues `call` for every observer. Called while the changed part's lock is held, so that
  /// changes of one part are queued in the order they were made.
  void enqueue(ObserverCall call);
  /// Tells the observers what is queued, without holding any lock. One thread at a time tells,
  /// so observers see changes in the order they were queued; a thread that finds another thread
  /// telling leaves its change to that thread and returns.
  void tellObservers();
  /// `enqueue` then `tellObservers`, for changes that need no part's lock for their order.
  void notify(ObserverCall call);

  mutable std::recursive_mutex breadcrumbLock_;
  std::deque<std::shared_ptr<DozidiBreadcrumb>> breadcrumbArray_;
  mutable std::recursive_mutex tagLock_;
  foundation::Dictionary tagDictionary_;
  mutable std::recursive_mutex extrasLock_;
  foundation::Dictionary extraDictionary_;
  mutable std::recursive_mutex contextLock_;
  foundation::Dictionary contextDictionary_;
  mutable std::recursive_mutex fingerprintLock_;
  std::vector<std::string> fingerprintArray_;
  mutable std::recursive_mutex attachmentLock_;
  std::vector<std::shared_ptr<DozidiAttachment>> attachmentArray_;
  mutable std::recursive_mutex spanLock_;
  std::shared_ptr<DozidiSpan> span_;
  mutable std::mutex valuesLock_;
  std::shared_ptr<DozidiUser> userObject_;
  std::optional<std::string> distString_;
  std::optional<std::string> environmentString_;
  std::atomic<DozidiEventLevel> level_{DozidiEventLevel::None};
  std::atomic<std::int64_t> maxBreadcrumbs_;
  mutable std::mutex observersLock_;
  std::vector<std::shared_ptr<DozidiScopeObserver>> observers_;
  std::mutex untoldLock_;
  std::deque<ObserverCall> untold_;
  bool telling_ = false;
};
