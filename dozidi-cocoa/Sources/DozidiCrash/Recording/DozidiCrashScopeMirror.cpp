#include "DozidiCrashScopeMirror.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

struct BreadcrumbRing {
  std::int64_t capacity;
  std::atomic<char*>* slots;
};

namespace {

CrashScopeMirror g_mirror{};
/// Serialises the writers of the ring (add, clear, configure), whose slot and index change
/// together. The crash-time reader never takes it.
std::mutex g_ringMutex;

char* copyText(const char* text) { return text == nullptr ? nullptr : ::strdup(text); }

void replace(std::atomic<char*>& field, const char* text) {
  std::free(field.exchange(copyText(text)));
}

void emptyRingLocked(BreadcrumbRing* ring) {
  for (std::int64_t i = 0; i < ring->capacity; ++i) std::free(ring->slots[i].exchange(nullptr));
  g_mirror.currentCrumb.store(0);
}

}  // namespace

void crashscopemirror_setUser(const char* text) { replace(g_mirror.user, text); }
void crashscopemirror_setDist(const char* text) { replace(g_mirror.dist, text); }
void crashscopemirror_setContext(const char* text) { replace(g_mirror.context, text); }
void crashscopemirror_setEnvironment(const char* text) { replace(g_mirror.environment, text); }
void crashscopemirror_setTags(const char* text) { replace(g_mirror.tags, text); }
void crashscopemirror_setExtras(const char* text) { replace(g_mirror.extras, text); }
void crashscopemirror_setFingerprint(const char* text) { replace(g_mirror.fingerprint, text); }
void crashscopemirror_setLevel(const char* text) { replace(g_mirror.level, text); }

void crashscopemirror_configureBreadcrumbs(std::int64_t maxCrumbs) {
  BreadcrumbRing* fresh = nullptr;
  if (maxCrumbs > 0) {
    fresh = new BreadcrumbRing{maxCrumbs, new std::atomic<char*>[static_cast<std::size_t>(maxCrumbs)]};
    for (std::int64_t i = 0; i < maxCrumbs; ++i) fresh->slots[i].store(nullptr);
  }
  BreadcrumbRing* old;
  {
    std::lock_guard lock(g_ringMutex);
    old = g_mirror.breadcrumbs.exchange(fresh);
    g_mirror.maxCrumbs.store(maxCrumbs);
    g_mirror.currentCrumb.store(0);
  }
  if (old != nullptr) {
    for (std::int64_t i = 0; i < old->capacity; ++i) std::free(old->slots[i].load());
    delete[] old->slots;
    delete old;
  }
}

void crashscopemirror_addBreadcrumb(const char* text) {
  std::lock_guard lock(g_ringMutex);
  BreadcrumbRing* ring = g_mirror.breadcrumbs.load();
  if (ring == nullptr || ring->capacity < 1) return;
  const std::int64_t current = g_mirror.currentCrumb.load();
  std::free(ring->slots[current].exchange(copyText(text)));
  g_mirror.currentCrumb.store((current + 1) % ring->capacity);
}

void crashscopemirror_clearBreadcrumbs() {
  std::lock_guard lock(g_ringMutex);
  if (BreadcrumbRing* ring = g_mirror.breadcrumbs.load()) emptyRingLocked(ring);
}

void crashscopemirror_clear() {
  for (auto* field : {&g_mirror.user, &g_mirror.dist, &g_mirror.context, &g_mirror.environment, &g_mirror.tags,
                      &g_mirror.extras, &g_mirror.fingerprint, &g_mirror.level}) {
    replace(*field, nullptr);
  }
  crashscopemirror_clearBreadcrumbs();
}

const CrashScopeMirror* crashscopemirror_get() { return &g_mirror; }

int crashscopemirror_getBreadcrumbs(const char** texts, int capacity) {
  const BreadcrumbRing* ring = g_mirror.breadcrumbs.load();
  if (ring == nullptr) return 0;
  const std::int64_t start = g_mirror.currentCrumb.load();
  int count = 0;
  for (std::int64_t i = 0; i < ring->capacity && count < capacity; ++i) {
    const char* text = ring->slots[(start + i) % ring->capacity].load();
    if (text != nullptr) texts[count++] = text;
  }
  return count;
}
