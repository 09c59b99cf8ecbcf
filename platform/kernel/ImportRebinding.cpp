#include "platform/kernel/ImportRebinding.h"

#include <dlfcn.h>
#include <elf.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace kernel {

namespace {

#if defined(__x86_64__)
constexpr std::uint32_t kJumpSlot = R_X86_64_JUMP_SLOT;
constexpr std::uint32_t kGlobalData = R_X86_64_GLOB_DAT;
#elif defined(__aarch64__)
constexpr std::uint32_t kJumpSlot = R_AARCH64_JUMP_SLOT;
constexpr std::uint32_t kGlobalData = R_AARCH64_GLOB_DAT;
#endif

struct Relocations {
  const ElfW(Sym)* symbols = nullptr;
  const char* strings = nullptr;
  std::size_t stringsSize = 0;
  const ElfW(Rela)* plt = nullptr;
  std::size_t pltSize = 0;
  const ElfW(Rela)* data = nullptr;
  std::size_t dataSize = 0;
  // The relative relocations come first in the data table; they name no symbol.
  std::size_t dataRelativeCount = 0;
  const std::uint32_t* sysvHash = nullptr;
  const std::uint32_t* gnuHash = nullptr;
  bool pltIsRela = true;
};

std::uintptr_t relocated(std::uintptr_t value, std::uintptr_t slide) { return value < slide ? value + slide : value; }

bool readRelocations(const dl_phdr_info& image, Relocations* out) {
  for (int i = 0; i < image.dlpi_phnum; ++i) {
    if (image.dlpi_phdr[i].p_type != PT_DYNAMIC) continue;
    auto* entry = reinterpret_cast<const ElfW(Dyn)*>(image.dlpi_addr + image.dlpi_phdr[i].p_vaddr);
    std::uintptr_t slide = image.dlpi_addr;
    for (; entry->d_tag != DT_NULL; ++entry) {
      switch (entry->d_tag) {
        case DT_SYMTAB: out->symbols = reinterpret_cast<const ElfW(Sym)*>(relocated(entry->d_un.d_ptr, slide)); break;
        case DT_STRTAB: out->strings = reinterpret_cast<const char*>(relocated(entry->d_un.d_ptr, slide)); break;
        case DT_STRSZ: out->stringsSize = entry->d_un.d_val; break;
        case DT_JMPREL: out->plt = reinterpret_cast<const ElfW(Rela)*>(relocated(entry->d_un.d_ptr, slide)); break;
        case DT_PLTRELSZ: out->pltSize = entry->d_un.d_val; break;
        case DT_PLTREL: out->pltIsRela = entry->d_un.d_val == DT_RELA; break;
        case DT_RELA: out->data = reinterpret_cast<const ElfW(Rela)*>(relocated(entry->d_un.d_ptr, slide)); break;
        case DT_RELASZ: out->dataSize = entry->d_un.d_val; break;
        case DT_RELACOUNT: out->dataRelativeCount = entry->d_un.d_val; break;
        case DT_HASH: out->sysvHash = reinterpret_cast<const std::uint32_t*>(relocated(entry->d_un.d_ptr, slide)); break;
        case DT_GNU_HASH: out->gnuHash = reinterpret_cast<const std::uint32_t*>(relocated(entry->d_un.d_ptr, slide)); break;
        default: break;
      }
    }
    return out->symbols != nullptr && out->strings != nullptr && out->pltIsRela;
  }
  return false;
}

bool holds(const dl_phdr_info& image, std::uint32_t type, std::uintptr_t address) {
  for (int i = 0; i < image.dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = image.dlpi_phdr[i];
    std::uintptr_t start = image.dlpi_addr + segment.p_vaddr;
    if (segment.p_type == type && address >= start && address < start + segment.p_memsz) return true;
  }
  return false;
}

// Writes one slot. Inside the RELRO area the page is read-only after start-up: open it for the
// write and close it again, so the protection the loader chose stays in force.
bool writeSlot(const dl_phdr_info& image, void** slot, void* value) {
  if (!holds(image, PT_GNU_RELRO, reinterpret_cast<std::uintptr_t>(slot))) {
    *slot = value;
    return true;
  }
  auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  auto* page = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(slot) & ~(pageSize - 1));
  if (::mprotect(page, pageSize, PROT_READ | PROT_WRITE) != 0) return false;
  *slot = value;
  ::mprotect(page, pageSize, PROT_READ);
  return true;
}

// The dynamic symbols a named pass looks at: their indices when the image's hash tables gave
// them, else their names, compared at each slot.
class Wanted {
 public:
  static constexpr std::size_t kCapacity = 32;

  Wanted(const Relocations& tables, const char* const* names, std::size_t nameCount)
      : tables_(tables), names_(names), nameCount_(nameCount) {
    for (std::size_t i = 0; i < nameCount && byIndex_; ++i) {
      if (tables.sysvHash != nullptr) {
        findInSysvHash(names[i]);
      } else if (tables.gnuHash != nullptr) {
        findInGnuHash(names[i]);
      } else {
        byIndex_ = false;
      }
    }
  }

  // False when the image holds none of the names: its relocations need no walk.
  bool any() const { return !byIndex_ || count_ > 0; }

  bool matches(std::uint32_t symbolIndex) const {
    if (byIndex_) {
      for (std::size_t i = 0; i < count_; ++i) {
        if (indices_[i] == symbolIndex) return true;
      }
      return false;
    }
    const char* name = tables_.strings + tables_.symbols[symbolIndex].st_name;
    for (std::size_t i = 0; i < nameCount_; ++i) {
      if (std::strcmp(name, names_[i]) == 0) return true;
    }
    return false;
  }

 private:
  bool named(std::uint32_t index, const char* name) const {
    const std::size_t offset = tables_.symbols[index].st_name;
    if (tables_.stringsSize != 0 && offset >= tables_.stringsSize) return false;
    const char* candidate = tables_.strings + offset;
    return candidate[0] == name[0] && std::strcmp(candidate, name) == 0;
  }

  void add(std::uint32_t index) {
    // More symbols than expected: compare names at each slot instead.
    if (count_ == kCapacity) {
      byIndex_ = false;
      return;
    }
    indices_[count_++] = index;
  }

  // The classic table lists every dynamic symbol, imports included.
  void findInSysvHash(const char* name) {
    const std::uint32_t bucketCount = tables_.sysvHash[0];
    const std::uint32_t symbolCount = tables_.sysvHash[1];
    if (bucketCount == 0) return;
    const std::uint32_t* buckets = tables_.sysvHash + 2;
    const std::uint32_t* chains = buckets + bucketCount;
    std::uint32_t hash = 0;
    for (auto* c = reinterpret_cast<const unsigned char*>(name); *c != 0; ++c) {
      hash = (hash << 4) + *c;
      hash ^= (hash >> 24) & 0xf0;
    }
    hash &= 0x0fffffff;
    // Bounded by the symbol count, so that a damaged chain cannot loop.
    std::uint32_t steps = 0;
    for (std::uint32_t index = buckets[hash % bucketCount]; index != STN_UNDEF && index < symbolCount && steps <= symbolCount;
         index = chains[index], ++steps) {
      if (named(index, name)) add(index);
    }
  }

  // The GNU table holds only the symbols the image defines, from `firstHashed` on; the imports
  // sit below it and are compared by name.
  void findInGnuHash(const char* name) {
    const std::uint32_t bucketCount = tables_.gnuHash[0];
    const std::uint32_t firstHashed = tables_.gnuHash[1];
    const std::uint32_t bloomSize = tables_.gnuHash[2];
    const std::uint32_t bloomShift = tables_.gnuHash[3];
    for (std::uint32_t index = 1; index < firstHashed; ++index) {
      if (named(index, name)) add(index);
    }
    if (bucketCount == 0 || bloomSize == 0) return;
    auto* bloom = reinterpret_cast<const ElfW(Addr)*>(tables_.gnuHash + 4);
    const std::uint32_t* buckets = reinterpret_cast<const std::uint32_t*>(bloom + bloomSize);
    const std::uint32_t* chains = buckets + bucketCount;
    std::uint32_t hash = 5381;
    for (auto* c = reinterpret_cast<const unsigned char*>(name); *c != 0; ++c) hash = hash * 33 + *c;
    constexpr std::uint32_t kWordBits = sizeof(ElfW(Addr)) * 8;
    const ElfW(Addr) word = bloom[(hash / kWordBits) % bloomSize];
    const ElfW(Addr) mask = (ElfW(Addr){1} << (hash % kWordBits)) | (ElfW(Addr){1} << ((hash >> bloomShift) % kWordBits));
    if ((word & mask) != mask) return;
    std::uint32_t index = buckets[hash % bucketCount];
    if (index < firstHashed) return;
    for (;; ++index) {
      const std::uint32_t chainHash = chains[index - firstHashed];
      if ((chainHash | 1) == (hash | 1) && named(index, name)) add(index);
      if ((chainHash & 1) != 0) break;
    }
  }

  const Relocations& tables_;
  const char* const* names_;
  std::size_t nameCount_;
  std::uint32_t indices_[kCapacity] = {};
  std::size_t count_ = 0;
  bool byIndex_ = true;
};

int rebindTable(const dl_phdr_info& image, const Relocations& tables, const ElfW(Rela)* relocations,
                std::size_t count, const Wanted* wanted, ImportChooser choose, void* context) {
  int rewritten = 0;
  for (std::size_t i = 0; relocations != nullptr && i < count; ++i) {
    const ElfW(Rela)& relocation = relocations[i];
    auto type = static_cast<std::uint32_t>(ELF64_R_TYPE(relocation.r_info));
    auto symbolIndex = static_cast<std::uint32_t>(ELF64_R_SYM(relocation.r_info));
    if ((type != kJumpSlot && type != kGlobalData) || symbolIndex == 0) continue;
    if (wanted != nullptr && !wanted->matches(symbolIndex)) continue;
    const char* name = tables.strings + tables.symbols[symbolIndex].st_name;
    auto** slot = reinterpret_cast<void**>(image.dlpi_addr + relocation.r_offset);
    void* current = *slot;
    // With lazy binding a call slot still leads to the image's own stub, which would resolve the
    // symbol again and overwrite the replacement: hand on the real function instead.
    if (type == kJumpSlot && holds(image, PT_LOAD, reinterpret_cast<std::uintptr_t>(current))) {
      current = ::dlsym(RTLD_DEFAULT, name);
    }
    void* replacement = choose(name, current, context);
    if (replacement != nullptr && replacement != *slot && writeSlot(image, slot, replacement)) ++rewritten;
  }
  return rewritten;
}

int rebind(const dl_phdr_info& image, const Relocations& tables, const Wanted* wanted, ImportChooser choose, void* context) {
  const std::size_t dataCount = tables.dataSize / sizeof(ElfW(Rela));
  const std::size_t relative = tables.dataRelativeCount < dataCount ? tables.dataRelativeCount : dataCount;
  return rebindTable(image, tables, tables.plt, tables.pltSize / sizeof(ElfW(Rela)), wanted, choose, context) +
         rebindTable(image, tables, tables.data == nullptr ? nullptr : tables.data + relative, dataCount - relative, wanted,
                     choose, context);
}

}  // namespace

int rebindImports(const dl_phdr_info& image, ImportChooser choose, void* context) {
  Relocations tables;
  if (!readRelocations(image, &tables)) return 0;
  return rebind(image, tables, nullptr, choose, context);
}

int rebindNamedImports(const dl_phdr_info& image, const char* const* names, std::size_t nameCount, ImportChooser choose,
                       void* context) {
  Relocations tables;
  if (nameCount == 0 || !readRelocations(image, &tables)) return 0;
  const Wanted wanted(tables, names, nameCount);
  if (!wanted.any()) return 0;
  return rebind(image, tables, &wanted, choose, context);
}

}  // namespace kernel
