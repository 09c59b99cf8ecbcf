#pragma once
#include <atomic>
#include <cstdint>

/// A plain copy of the scope as JSON texts, kept current by the crash scope observer and read by
/// the report writer during a crash without locks. Every field is swapped atomically and the old
/// text freed afterwards, so setters on several threads never free a text twice and a reader sees
/// either no text or a complete one.
struct CrashScopeMirror {
  std::atomic<char*> user;
  std::atomic<char*> dist;
  std::atomic<char*> context;
  std::atomic<char*> environment;
  std::atomic<char*> tags;
  std::atomic<char*> extras;
  std::atomic<char*> fingerprint;
  std::atomic<char*> level;
  /// The breadcrumb ring: `maxCrumbs` slots, the next one written at `currentCrumb`. Published
  /// with its capacity in one allocation, so a reader never pairs an array with a wrong size.
  std::atomic<struct BreadcrumbRing*> breadcrumbs;
  std::atomic<std::int64_t> maxCrumbs;
  std::atomic<std::int64_t> currentCrumb;
};

// Setters copy `text` (none clears the field). Normal-time code; any thread.
void crashscopemirror_setUser(const char* text);
void crashscopemirror_setDist(const char* text);
void crashscopemirror_setContext(const char* text);
void crashscopemirror_setEnvironment(const char* text);
void crashscopemirror_setTags(const char* text);
void crashscopemirror_setExtras(const char* text);
void crashscopemirror_setFingerprint(const char* text);
void crashscopemirror_setLevel(const char* text);

/// Replaces the ring with `maxCrumbs` empty slots; the old ring and its texts are freed.
void crashscopemirror_configureBreadcrumbs(std::int64_t maxCrumbs);
/// Copies `text` into the next slot, replacing the oldest breadcrumb once the ring is full.
/// Nothing happens before the ring was configured.
void crashscopemirror_addBreadcrumb(const char* text);
void crashscopemirror_clearBreadcrumbs();
/// Clears the eight texts and the breadcrumbs.
void crashscopemirror_clear();

/// Runs during a crash: no allocation, no locks.
const CrashScopeMirror* crashscopemirror_get();

/// Runs during a crash: no allocation, no locks.
/// Fills `texts` with up to `capacity` breadcrumb texts, oldest first, and returns how many.
/// Safe while no other thread changes the ring (in a crash the other threads are suspended).
int crashscopemirror_getBreadcrumbs(const char** texts, int capacity);
