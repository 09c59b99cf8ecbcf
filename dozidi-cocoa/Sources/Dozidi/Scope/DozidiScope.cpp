#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"

#include <algorithm>
#include <utility>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSpan.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"

using foundation::Array;
using foundation::Dictionary;

// Every mutator changes its part under that part's lock and takes a copy of the new state there,
// then tells the observers after letting go of the lock: an observer that reads the scope back or
// waits for another thread cannot deadlock with the scope.

std::shared_ptr<DozidiScope> DozidiScope::create(std::int64_t maxBreadcrumbs) {
  return std::shared_ptr<DozidiScope>(new DozidiScope(maxBreadcrumbs));
}

std::shared_ptr<DozidiScope> DozidiScope::initWithScope(const DozidiScope& other) {
  auto scope = create(other.maxBreadcrumbs());
  scope->extraDictionary_ = other.extras();
  scope->tagDictionary_ = other.tags();
  scope->contextDictionary_ = other.context();
  const auto crumbs = other.breadcrumbs();
  scope->breadcrumbArray_.assign(crumbs.begin(), crumbs.end());
  scope->fingerprintArray_ = other.fingerprints();
  scope->attachmentArray_ = other.attachments();
  const auto user = other.userObject();
  scope->userObject_ = user ? user->copy() : nullptr;
  scope->distString_ = other.distString();
  scope->environmentString_ = other.environmentString();
  scope->level_ = other.levelEnum();
  return scope;
}

void DozidiScope::addBreadcrumb(const std::shared_ptr<DozidiBreadcrumb>& crumb) {
  if (!crumb || maxBreadcrumbs() < 1) return;
  DOZIDI_LOG_DEBUG("Add breadcrumb: " + crumb->description());
  // The serialised form is only for observers, and making it costs more than keeping the crumb:
  // a scope that nobody observes skips it.
  bool observed = false;
  {
    std::lock_guard lock(observersLock_);
    observed = !observers_.empty();
  }
  {
    std::lock_guard lock(breadcrumbLock_);
    breadcrumbArray_.push_back(crumb);
    if (static_cast<std::int64_t>(breadcrumbArray_.size()) > maxBreadcrumbs()) breadcrumbArray_.pop_front();
    if (observed) {
      enqueue([serialized = crumb->serialize()](DozidiScopeObserver& observer) {
        observer.addSerializedBreadcrumb(serialized);
      });
    }
  }
  tellObservers();
}

void DozidiScope::clearBreadcrumbs() {
  {
    std::lock_guard lock(breadcrumbLock_);
    breadcrumbArray_.clear();
    enqueue([](DozidiScopeObserver& observer) { observer.clearBreadcrumbs(); });
  }
  tellObservers();
}

void DozidiScope::setTagValue(const std::optional<std::string>& value, const std::string& key) {
  Dictionary all;
  {
    std::lock_guard lock(tagLock_);
    if (value) {
      tagDictionary_.set(key, *value);
    } else {
      tagDictionary_.remove(key);
    }
    all = tagDictionary_;
    enqueue([all](DozidiScopeObserver& observer) { observer.setTags(all); });
  }
  tellObservers();
}

void DozidiScope::removeTagForKey(const std::string& key) { setTagValue(std::nullopt, key); }

void DozidiScope::setTags(const std::optional<Dictionary>& tags) {
  if (!tags) return;
  Dictionary all;
  {
    std::lock_guard lock(tagLock_);
    for (const auto& [key, value] : *tags) tagDictionary_.set(key, value);
    all = tagDictionary_;
    enqueue([all](DozidiScopeObserver& observer) { observer.setTags(all); });
  }
  tellObservers();
}

void DozidiScope::setExtraValue(const foundation::Value& value, const std::string& key) {
  Dictionary all;
  {
    std::lock_guard lock(extrasLock_);
    extraDictionary_.set(key, value);
    all = extraDictionary_;
    enqueue([all](DozidiScopeObserver& observer) { observer.setExtras(all); });
  }
  tellObservers();
}

void DozidiScope::removeExtraForKey(const std::string& key) { setExtraValue(foundation::Value(), key); }

void DozidiScope::setExtras(const std::optional<Dictionary>& extras) {
  if (!extras) return;
  Dictionary all;
  {
    std::lock_guard lock(extrasLock_);
    for (const auto& [key, value] : *extras) extraDictionary_.set(key, value);
    all = extraDictionary_;
    enqueue([all](DozidiScopeObserver& observer) { observer.setExtras(all); });
  }
  tellObservers();
}

void DozidiScope::setContextValue(const std::optional<Dictionary>& value, const std::string& key) {
  Dictionary all;
  {
    std::lock_guard lock(contextLock_);
    if (value) {
      contextDictionary_.set(key, *value);
    } else {
      contextDictionary_.remove(key);
    }
    all = contextDictionary_;
    enqueue([all](DozidiScopeObserver& observer) { observer.setContext(all); });
  }
  tellObservers();
}

void DozidiScope::removeContextForKey(const std::string& key) { setContextValue(std::nullopt, key); }

void DozidiScope::setUser(std::shared_ptr<DozidiUser> user) {
  {
    std::lock_guard lock(valuesLock_);
    userObject_ = user;
    enqueue([user](DozidiScopeObserver& observer) { observer.setUser(user); });
  }
  tellObservers();
}

void DozidiScope::setDist(std::optional<std::string> dist) {
  {
    std::lock_guard lock(valuesLock_);
    distString_ = dist;
    enqueue([dist](DozidiScopeObserver& observer) { observer.setDist(dist); });
  }
  tellObservers();
}

void DozidiScope::setEnvironment(std::optional<std::string> environment) {
  {
    std::lock_guard lock(valuesLock_);
    environmentString_ = environment;
    enqueue([environment](DozidiScopeObserver& observer) { observer.setEnvironment(environment); });
  }
  tellObservers();
}

void DozidiScope::setFingerprint(const std::optional<std::vector<std::string>>& fingerprint) {
  std::vector<std::string> all;
  {
    std::lock_guard lock(fingerprintLock_);
    fingerprintArray_ = fingerprint.value_or(std::vector<std::string>{});
    all = fingerprintArray_;
    enqueue([all](DozidiScopeObserver& observer) { observer.setFingerprint(all); });
  }
  tellObservers();
}

void DozidiScope::setLevel(DozidiEventLevel level) {
  level_ = level;
  notify([level](DozidiScopeObserver& observer) { observer.setLevel(level); });
}

void DozidiScope::addAttachment(std::shared_ptr<DozidiAttachment> attachment) {
  if (!attachment) return;
  std::lock_guard lock(attachmentLock_);
  attachmentArray_.push_back(std::move(attachment));
}

void DozidiScope::clearAttachments() {
  std::lock_guard lock(attachmentLock_);
  attachmentArray_.clear();
}

void DozidiScope::setSpan(std::shared_ptr<DozidiSpan> span) {
  std::lock_guard lock(spanLock_);
  span_ = std::move(span);
}

void DozidiScope::clear() {
  {
    std::lock_guard lock(breadcrumbLock_);
    breadcrumbArray_.clear();
  }
  {
    std::lock_guard lock(tagLock_);
    tagDictionary_.clear();
  }
  {
    std::lock_guard lock(extrasLock_);
    extraDictionary_.clear();
  }
  {
    std::lock_guard lock(contextLock_);
    contextDictionary_.clear();
  }
  {
    std::lock_guard lock(fingerprintLock_);
    fingerprintArray_.clear();
  }
  clearAttachments();
  setSpan(nullptr);
  {
    std::lock_guard lock(valuesLock_);
    userObject_.reset();
    distString_.reset();
    environmentString_.reset();
  }
  level_ = DozidiEventLevel::None;
  notify([](DozidiScopeObserver& observer) { observer.clear(); });
}

void DozidiScope::addObserver(std::shared_ptr<DozidiScopeObserver> observer) {
  if (!observer) return;
  std::lock_guard lock(observersLock_);
  observers_.push_back(std::move(observer));
}

std::vector<std::shared_ptr<DozidiBreadcrumb>> DozidiScope::breadcrumbs() const {
  std::lock_guard lock(breadcrumbLock_);
  return {breadcrumbArray_.begin(), breadcrumbArray_.end()};
}

Dictionary DozidiScope::tags() const {
  std::lock_guard lock(tagLock_);
  return tagDictionary_;
}

Dictionary DozidiScope::extras() const {
  std::lock_guard lock(extrasLock_);
  return extraDictionary_;
}

Dictionary DozidiScope::context() const {
  std::lock_guard lock(contextLock_);
  return contextDictionary_;
}

std::vector<std::string> DozidiScope::fingerprints() const {
  std::lock_guard lock(fingerprintLock_);
  return fingerprintArray_;
}

std::vector<std::shared_ptr<DozidiAttachment>> DozidiScope::attachments() const {
  std::lock_guard lock(attachmentLock_);
  return attachmentArray_;
}

std::shared_ptr<DozidiUser> DozidiScope::userObject() const {
  std::lock_guard lock(valuesLock_);
  return userObject_;
}

std::optional<std::string> DozidiScope::distString() const {
  std::lock_guard lock(valuesLock_);
  return distString_;
}

std::optional<std::string> DozidiScope::environmentString() const {
  std::lock_guard lock(valuesLock_);
  return environmentString_;
}

std::shared_ptr<DozidiSpan> DozidiScope::span() const {
  std::lock_guard lock(spanLock_);
  return span_;
}

void DozidiScope::useSpan(const std::function<void(const std::shared_ptr<DozidiSpan>&)>& block) const {
  std::lock_guard lock(spanLock_);
  block(span_);
}

std::shared_ptr<DozidiEvent> DozidiScope::applyToEvent(std::shared_ptr<DozidiEvent> event,
                                                       std::uint64_t maxBreadcrumb) const {
  if (!event) return event;
  Dictionary mergedTags = tags();
  if (event->tags) {
    for (const auto& [key, value] : *event->tags) mergedTags.set(key, value);
  }
  event->tags = std::move(mergedTags);

  Dictionary mergedExtras = extras();
  if (event->extra) {
    for (const auto& [key, value] : *event->extra) mergedExtras.set(key, value);
  }
  event->extra = std::move(mergedExtras);

  auto prints = fingerprints();
  if (!prints.empty() && !event->fingerprint) event->fingerprint = std::move(prints);

  if (!event->breadcrumbs) {
    // The newest entries are the ones worth keeping when the trail is longer than the limit;
    // they still go out oldest first.
    auto crumbs = breadcrumbs();
    const auto keep = std::min<std::uint64_t>(crumbs.size(), maxBreadcrumb);
    event->breadcrumbs.emplace(crumbs.end() - static_cast<std::ptrdiff_t>(keep), crumbs.end());
  }

  if (auto user = userObject()) event->user = user->copy();
  if (auto dist = distString(); dist && !event->dist) event->dist = std::move(dist);
  if (auto environment = environmentString(); environment && !event->environment) {
    event->environment = std::move(environment);
  }
  if (const auto level = levelEnum(); level != DozidiEventLevel::None) event->level = level;

  Dictionary contexts = context();
  if (event->context) mergeEntriesFromDictionary(contexts, *event->context);
  if (auto bound = span()) {
    if (event->type != "transaction") {
      if (auto name = bound->tracerTransactionName()) event->transaction = std::move(name);
    }
    contexts.set("trace", bound->serializeSpanContext());
  }
  event->context = std::move(contexts);
  return event;
}

void DozidiScope::applyToSession(DozidiSession& session) const {
  if (auto user = userObject()) session.setUser(user);
  if (auto environment = environmentString()) session.setEnvironment(std::move(environment));
}

Dictionary DozidiScope::serialize() const {
  Dictionary result;
  if (auto t = tags(); !t.empty()) result.set("tags", std::move(t));
  if (auto e = extras(); !e.empty()) result.set("extra", std::move(e));
  if (auto c = context(); !c.empty()) result.set("context", std::move(c));
  if (auto user = userObject()) result.set("user", user->serialize());
  if (auto dist = distString()) result.set("dist", *dist);
  if (auto environment = environmentString()) result.set("environment", *environment);
  if (auto prints = fingerprints(); !prints.empty()) {
    Array array;
    for (auto& print : prints) array.push_back(std::move(print));
    result.set("fingerprint", std::move(array));
  }
  if (const auto level = levelEnum(); level != DozidiEventLevel::None) result.set("level", nameForDozidiLevel(level));
  if (auto crumbs = serializeBreadcrumbs(); !crumbs.empty()) result.set("breadcrumbs", std::move(crumbs));
  return result;
}

Array DozidiScope::serializeBreadcrumbs() const {
  Array result;
  for (const auto& crumb : breadcrumbs()) result.push_back(crumb->serialize());
  return result;
}

std::vector<std::shared_ptr<DozidiScopeObserver>> DozidiScope::observersCopy() const {
  std::lock_guard lock(observersLock_);
  return observers_;
}

void DozidiScope::enqueue(ObserverCall call) {
  std::lock_guard lock(untoldLock_);
  untold_.push_back(std::move(call));
}

void DozidiScope::tellObservers() {
  {
    std::lock_guard lock(untoldLock_);
    if (telling_) return;
    telling_ = true;
  }
  // The observers run without any lock: the crash recorder's mirror may wait on a thread that is
  // changing this scope, which must never wait for the mirror in turn.
  for (;;) {
    ObserverCall call;
    {
      std::lock_guard lock(untoldLock_);
      if (untold_.empty()) {
        telling_ = false;
        return;
      }
      call = std::move(untold_.front());
      untold_.pop_front();
    }
    for (const auto& observer : observersCopy()) call(*observer);
  }
}

void DozidiScope::notify(ObserverCall call) {
  enqueue(std::move(call));
  tellObservers();
}
