#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSymbolRebinding.h"

#include "platform/kernel/ImportRebinding.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

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

// Every name of the sets, once; the names `choose` never rebinds are left out.
std::vector<const char*> namesOfSets() {
  std::vector<const char*> names;
  for (RebindingSet* set = gSets; set != nullptr; set = set->next) {
    for (std::size_t i = 0; i < set->count; ++i) {
      const char* name = set->entries[i].name;
      if (name == nullptr || std::strlen(name) < 2) continue;
      bool seen = false;
      for (const char* other : names) seen = seen || std::strcmp(other, name) == 0;
      if (!seen) names.push_back(name);
    }
  }
  return names;
}

// Rebinds every loaded image; called with gMutex held. Only the slots of the sets' names are
// visited, and only in the images whose symbol tables hold one of them.
void rebindAllImages() {
  std::vector<const char*> names = namesOfSets();
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        gImagesAddedSeen = info->dlpi_adds;
        const auto& names = *static_cast<std::vector<const char*>*>(data);
        if (names.empty()) return 0;
        // An image whose header is not in a loaded object is skipped. The main program's header
        // is not at its load bias when it is not position independent. The loader's object
        // lookup answers without the symbol search that dladdr adds.
        auto* probe = info->dlpi_phnum > 0 ? reinterpret_cast<void*>(info->dlpi_addr + info->dlpi_phdr[0].p_vaddr) : nullptr;
        dl_find_object object;
        if (probe == nullptr || _dl_find_object(probe, &object) != 0) return 0;
        kernel::rebindNamedImports(*info, names.data(), names.size(), choose, nullptr);
        return 0;
      },
      &names);
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
