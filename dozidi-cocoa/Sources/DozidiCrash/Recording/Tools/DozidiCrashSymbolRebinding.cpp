#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSymbolRebinding.h"

#include "platform/kernel/ImportRebinding.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

struct RebindingSet {
  dozidicrash_rebinding* entries;
  std::size_t count;
  RebindingSet* next;
};

std::mutex gMutex;
RebindingSet* gSets = nullptr;  // newest first
unsigned long long gImagesAddedSeen = 0;

void* choose(const char* name, void* current, void*) {
  if (name == nullptr || std::strlen(name) < 2) return nullptr;
  for (RebindingSet* set = gSets; set != nullptr; set = set->next) {
    for (std::size_t i = 0; i < set->count; ++i) {
      const dozidicrash_rebinding& entry = set->entries[i];
      if (std::strcmp(entry.name, name) != 0) continue;
      // An unresolved weak import holds null: it must not hide the function other images lead to.
      if (entry.replaced != nullptr && current != nullptr && current != entry.replacement) {
        __atomic_store_n(entry.replaced, current, __ATOMIC_RELEASE);
      }
      return entry.replacement;
    }
  }
  return nullptr;
}

// Rebinds every loaded image; called with gMutex held.
void rebindAllImages() {
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void*) {
        gImagesAddedSeen = info->dlpi_adds;
        Dl_info image;
        // The main program's header is not at its load bias when it is not position independent.
        const void* probe = info->dlpi_phnum > 0 ? reinterpret_cast<const void*>(info->dlpi_addr + info->dlpi_phdr[0].p_vaddr) : nullptr;
        if (probe == nullptr || dladdr(probe, &image) == 0) return 0;
        kernel::rebindImports(*info, choose, nullptr);
        return 0;
      },
      nullptr);
}

}  // namespace

int dozidicrash_rebind_symbols(const dozidicrash_rebinding rebindings[], std::size_t count) {
  auto* set = static_cast<RebindingSet*>(std::malloc(sizeof(RebindingSet)));
  auto* entries = static_cast<dozidicrash_rebinding*>(std::malloc(sizeof(dozidicrash_rebinding) * (count > 0 ? count : 1)));
  if (set == nullptr || entries == nullptr) {
    std::free(set);
    std::free(entries);
    return -1;
  }
  if (count > 0) std::memcpy(entries, rebindings, sizeof(dozidicrash_rebinding) * count);
  std::lock_guard<std::mutex> lock(gMutex);
  *set = RebindingSet{entries, count, gSets};
  gSets = set;
  rebindAllImages();
  return 0;
}

void dozidicrash_rebindNewImages() {
  std::lock_guard<std::mutex> lock(gMutex);
  if (gSets == nullptr) return;
  unsigned long long adds = 0;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* out) {
        *static_cast<unsigned long long*>(out) = info->dlpi_adds;
        return 1;
      },
      &adds);
  if (adds != gImagesAddedSeen) rebindAllImages();
}
