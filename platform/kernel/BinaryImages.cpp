#include "platform/kernel/BinaryImages.h"

#include "platform/dispatch/CallbackGuard.h"
#include "platform/kernel/SafeMemory.h"
#include "platform/kernel/Threads.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace kernel {

namespace {

// Program headers beyond this are ignored; real images have about a dozen.
constexpr int kMaxProgramHeaders = 64;
// The list is walked with a bound so that a corrupt (cyclic) list cannot hang a crash handler.
constexpr int kMaxImages = 4096;

// Captured when the library loads: the loader lists the main program with an empty name, and a
// non-PIE program's header is not at its (zero) load bias.
char gExecutablePath[4096];
std::uintptr_t gProgramHeaders = 0;
std::size_t gProgramHeaderCount = 0;

[[gnu::constructor]] void captureProgramFacts() {
  ssize_t n = ::readlink("/proc/self/exe", gExecutablePath, sizeof gExecutablePath - 1);
  gExecutablePath[n > 0 ? n : 0] = '\0';
  gProgramHeaders = ::getauxval(AT_PHDR);
  gProgramHeaderCount = ::getauxval(AT_PHNUM);
}

template <typename T>
bool readValue(std::uintptr_t address, T* value) {
  return copySafely(reinterpret_cast<const void*>(address), value, sizeof(T));
}

// What the walk, the lookup and the rebinder need of one image.
struct ImageLayout {
  BinaryImage image;
  ElfW(Phdr) headers[kMaxProgramHeaders];
  int headerCount = 0;
};

bool isElfHeader(const ElfW(Ehdr)& header) {
  return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == ELFCLASS64;
}

void readBuildId(const ImageLayout& layout, BinaryImage* image) {
  for (int i = 0; i < layout.headerCount; ++i) {
    const ElfW(Phdr)& segment = layout.headers[i];
    if (segment.p_type != PT_NOTE) continue;
    alignas(4) char notes[2048];
    std::size_t length = std::min<std::size_t>(segment.p_memsz, sizeof notes);
    if (!copySafely(reinterpret_cast<const void*>(image->slide + segment.p_vaddr), notes, length)) continue;
    std::size_t offset = 0;
    while (offset + sizeof(ElfW(Nhdr)) <= length) {
      ElfW(Nhdr) note;
      std::memcpy(&note, notes + offset, sizeof note);
      std::size_t nameAt = offset + sizeof note;
      std::size_t descAt = nameAt + ((note.n_namesz + 3) & ~3u);
      std::size_t next = descAt + ((note.n_descsz + 3) & ~3u);
      if (next > length || next <= offset) break;
      if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(notes + nameAt, "GNU", 4) == 0) {
        std::memset(image->uuid, 0, sizeof image->uuid);
        std::memcpy(image->uuid, notes + descAt, std::min<std::size_t>(note.n_descsz, sizeof image->uuid));
        image->hasUUID = true;
        image->uuidAddress = note.n_descsz >= 16 ? image->slide + segment.p_vaddr + descAt : 0;
        return;
      }
      offset = next;
    }
  }
}

// Whether to read an image's build-id note: lookups, done per frame, do not need it.
enum class BuildId : bool { Skip, Read };

bool readLayout(std::uintptr_t header, std::uintptr_t slide, const char* name, ImageLayout* layout,
                BuildId buildId = BuildId::Read) {
  ElfW(Ehdr) elf;
  if (!readValue(header, &elf) || !isElfHeader(elf)) return false;
  int count = std::min<int>(elf.e_phnum, kMaxProgramHeaders);
  if (elf.e_phentsize != sizeof(ElfW(Phdr)) ||
      !copySafely(reinterpret_cast<const void*>(header + elf.e_phoff), layout->headers, count * sizeof(ElfW(Phdr)))) {
    return false;
  }
  layout->headerCount = count;
  BinaryImage& image = layout->image;
  image = BinaryImage{};
  image.header = header;
  image.slide = slide;
  image.name = name != nullptr ? name : "";
  image.machine = elf.e_machine;
  std::uint64_t low = ~std::uint64_t{0};
  std::uint64_t high = 0;
  for (int i = 0; i < count; ++i) {
    if (layout->headers[i].p_type != PT_LOAD) continue;
    low = std::min<std::uint64_t>(low, layout->headers[i].p_vaddr);
    high = std::max<std::uint64_t>(high, layout->headers[i].p_vaddr + layout->headers[i].p_memsz);
  }
  if (high == 0) return false;
  image.vmAddress = low;
  image.size = high - low;
  if (buildId == BuildId::Read) readBuildId(*layout, &image);
  return true;
}

// The header of a listed image: at its load bias for libraries and PIE programs, found through
// the auxiliary vector for a non-PIE main program.
bool layoutOfListed(const link_map& entry, bool first, const char* name, ImageLayout* layout,
                    BuildId buildId = BuildId::Read) {
  if (readLayout(entry.l_addr, entry.l_addr, name, layout, buildId)) return true;
  if (!first || gProgramHeaders == 0) return false;
  for (std::size_t i = 0; i < gProgramHeaderCount; ++i) {
    ElfW(Phdr) segment;
    if (!readValue(gProgramHeaders + i * sizeof segment, &segment)) return false;
    if (segment.p_type == PT_LOAD && segment.p_offset == 0) {
      return readLayout(entry.l_addr + segment.p_vaddr, entry.l_addr, name, layout, buildId);
    }
  }
  return false;
}

// Calls `visit(index, entry, nodeAddress)` for each node of the loader's list until it returns
// false.
template <typename Visit>
void walkLinkMap(Visit visit) {
  r_debug debug;
  if (!readValue(reinterpret_cast<std::uintptr_t>(&_r_debug), &debug)) return;
  auto address = reinterpret_cast<std::uintptr_t>(debug.r_map);
  for (int index = 0; address != 0 && index < kMaxImages; ++index) {
    link_map entry;
    if (!readValue(address, &entry)) return;
    if (!visit(index, entry, address)) return;
    address = reinterpret_cast<std::uintptr_t>(entry.l_next);
  }
}

const char* nameOf(const link_map& entry, int index) {
  char first = '\0';
  if (entry.l_name == nullptr || !readValue(reinterpret_cast<std::uintptr_t>(entry.l_name), &first)) return "";
  if (first == '\0' && index == 0) return gExecutablePath;
  return entry.l_name;
}

bool findImageHolding(std::uintptr_t address, ImageLayout* layout) {
  bool found = false;
  walkLinkMap([&](int index, const link_map& entry, std::uintptr_t) {
    if (!layoutOfListed(entry, index == 0, nameOf(entry, index), layout, BuildId::Skip)) return true;
    for (int i = 0; i < layout->headerCount; ++i) {
      const ElfW(Phdr)& segment = layout->headers[i];
      std::uintptr_t start = entry.l_addr + segment.p_vaddr;
      if (segment.p_type == PT_LOAD && address >= start && address < start + segment.p_memsz) {
        found = true;
        return false;
      }
    }
    return true;
  });
  return found;
}

struct DynamicTables {
  std::uintptr_t symbols = 0;
  std::uintptr_t strings = 0;
  std::size_t stringsSize = 0;
  std::uintptr_t gnuHash = 0;
  std::uintptr_t hash = 0;
};

// The loader relocates these addresses in place, except in the vDSO, whose values stay relative.
std::uintptr_t dynamicAddress(std::uintptr_t value, std::uintptr_t slide) {
  return value < slide ? value + slide : value;
}

bool readDynamicTables(const ImageLayout& layout, DynamicTables* tables) {
  for (int i = 0; i < layout.headerCount; ++i) {
    if (layout.headers[i].p_type != PT_DYNAMIC) continue;
    std::uintptr_t at = layout.image.slide + layout.headers[i].p_vaddr;
    // Read a block of entries in one safe read (one system call); a block that runs past the
    // readable memory is read entry by entry.
    constexpr int kBlock = 32;
    ElfW(Dyn) block[kBlock];
    int blockStart = -kBlock;
    bool blockRead = false;
    for (int n = 0; n < 512; ++n, at += sizeof(ElfW(Dyn))) {
      if (n >= blockStart + kBlock) {
        blockStart = n;
        blockRead = copySafely(reinterpret_cast<const void*>(at), block, sizeof block);
      }
      ElfW(Dyn) entry;
      if (blockRead) {
        entry = block[n - blockStart];
      } else if (!readValue(at, &entry)) {
        break;
      }
      if (entry.d_tag == DT_NULL) break;
      std::uintptr_t slide = layout.image.slide;
      switch (entry.d_tag) {
        case DT_SYMTAB: tables->symbols = dynamicAddress(entry.d_un.d_ptr, slide); break;
        case DT_STRTAB: tables->strings = dynamicAddress(entry.d_un.d_ptr, slide); break;
        case DT_STRSZ: tables->stringsSize = entry.d_un.d_val; break;
        case DT_GNU_HASH: tables->gnuHash = dynamicAddress(entry.d_un.d_ptr, slide); break;
        case DT_HASH: tables->hash = dynamicAddress(entry.d_un.d_ptr, slide); break;
        default: break;
      }
    }
    return tables->symbols != 0 && tables->strings != 0;
  }
  return false;
}

// The dynamic symbol count is not stored anywhere: it follows from the hash table.
std::size_t dynamicSymbolCount(const DynamicTables& tables) {
  std::uint32_t words[4];
  if (tables.hash != 0) {
    return copySafely(reinterpret_cast<const void*>(tables.hash), words, 8) ? words[1] : 0;
  }
  if (tables.gnuHash == 0 || !copySafely(reinterpret_cast<const void*>(tables.gnuHash), words, 16)) return 0;
  std::uint32_t bucketCount = words[0], symbolOffset = words[1], bloomSize = words[2];
  std::uintptr_t buckets = tables.gnuHash + 16 + std::uintptr_t{bloomSize} * sizeof(ElfW(Addr));
  std::uint32_t last = 0;
  std::uint32_t chunk[256];
  for (std::uint32_t i = 0; i < bucketCount; i += 256) {
    std::uint32_t n = std::min<std::uint32_t>(256, bucketCount - i);
    if (!copySafely(reinterpret_cast<const void*>(buckets + i * 4), chunk, n * 4)) return 0;
    for (std::uint32_t j = 0; j < n; ++j) last = std::max(last, chunk[j]);
  }
  if (last < symbolOffset) return symbolOffset;
  std::uintptr_t chains = buckets + std::uintptr_t{bucketCount} * 4;
  for (std::uint32_t guard = 0; guard < (1u << 24); ++guard, ++last) {
    std::uint32_t value;
    if (!readValue(chains + std::uintptr_t{last - symbolOffset} * 4, &value)) return 0;
    if ((value & 1) != 0) return last + 1;
  }
  return 0;
}

bool isNamedCode(const ElfW(Sym)& symbol) {
  int type = ELF64_ST_TYPE(symbol.st_info);
  return symbol.st_value != 0 && symbol.st_shndx != SHN_UNDEF &&
         (type == STT_FUNC || type == STT_OBJECT || type == STT_GNU_IFUNC);
}

// Nearest at or below, preferring a symbol whose size covers the address at equal start. A
// symbol whose known size ends before the address is not it: the address then lies in a
// function this table does not name, and naming its neighbour would be wrong.
struct Best {
  std::uint64_t value = 0;
  bool covers = false;
  const char* name = nullptr;

  void offer(std::uint64_t start, std::uint64_t size, std::uint64_t target, const char* symbolName) {
    if (start > target) return;
    bool doesCover = target < start + size;
    if (size != 0 && !doesCover) return;
    if (name == nullptr || start > value || (start == value && doesCover && !covers)) {
      value = start;
      covers = doesCover;
      name = symbolName;
    }
  }
};

// Calls `visit(symbol)` for each named code symbol of the dynamic table, in table order. False
// when part of the table could not be read.
template <typename Visit>
bool forEachDynamicSymbol(const DynamicTables& tables, std::size_t count, Visit visit) {
  // Large chunks: each is one safe read (a system call), and a library has thousands of symbols.
  constexpr std::size_t kChunk = 512;
  ElfW(Sym) chunk[kChunk];
  for (std::size_t i = 0; i < count; i += kChunk) {
    std::size_t n = std::min<std::size_t>(kChunk, count - i);
    if (!copySafely(reinterpret_cast<const void*>(tables.symbols + i * sizeof(ElfW(Sym))), chunk, n * sizeof(ElfW(Sym)))) {
      return false;
    }
    for (std::size_t j = 0; j < n; ++j) {
      if (!isNamedCode(chunk[j]) || (tables.stringsSize != 0 && chunk[j].st_name >= tables.stringsSize)) continue;
      visit(chunk[j]);
    }
  }
  return true;
}

void searchDynamicSymbols(const DynamicTables& tables, std::size_t count, std::uint64_t target, Best* best) {
  forEachDynamicSymbol(tables, count, [&](const ElfW(Sym)& symbol) {
    best->offer(symbol.st_value, symbol.st_size, target, reinterpret_cast<const char*>(tables.strings + symbol.st_name));
  });
}

// Full symbol tables read from the files. Immutable once published; never freed.
struct FileSymbol {
  std::uint64_t value;
  std::uint64_t size;
  std::uint32_t name;
};
struct FileSymbolTable {
  std::uintptr_t header;
  const char* path;
  const FileSymbol* symbols;
  std::size_t count;
  const char* strings;
};
struct SymbolTableSet {
  const FileSymbolTable* tables;
  std::size_t count;
};
std::atomic<const SymbolTableSet*> gFileTables{nullptr};

// Offers `best` what a scan of the whole table would: the symbol with the highest start at or
// below the target among those that hold it or have no size; at one start, the first that holds
// it, else the first. `symbols` is sorted by start, table order kept among equal starts.
void searchSortedSymbols(const FileSymbol* symbols, std::size_t count, std::uintptr_t strings, std::uint64_t target,
                         Best* best) {
  const FileSymbol* at = std::upper_bound(symbols, symbols + count, target,
                                          [](std::uint64_t t, const FileSymbol& s) { return t < s.value; });
  while (at != symbols) {
    const FileSymbol* group = at - 1;
    while (group != symbols && (group - 1)->value == group->value) --group;
    const FileSymbol* chosen = nullptr;
    for (const FileSymbol* s = group; s != at; ++s) {
      bool covers = target < s->value + s->size;
      if (covers) {
        chosen = s;
        break;
      }
      if (s->size == 0 && chosen == nullptr) chosen = s;
    }
    if (chosen != nullptr) {
      best->offer(chosen->value, chosen->size, target, reinterpret_cast<const char*>(strings + chosen->name));
      return;
    }
    at = group;
  }
}

void searchFileSymbols(std::uintptr_t header, std::uint64_t target, Best* best) {
  const SymbolTableSet* set = gFileTables.load(std::memory_order_acquire);
  if (set == nullptr) return;
  for (std::size_t i = 0; i < set->count; ++i) {
    const FileSymbolTable& table = set->tables[i];
    if (table.header != header) continue;
    const FileSymbol* end = table.symbols + table.count;
    const FileSymbol* above = std::upper_bound(table.symbols, end, target,
                                               [](std::uint64_t t, const FileSymbol& s) { return t < s.value; });
    // Several symbols may start at one address; look at all of them.
    for (const FileSymbol* s = above; s != table.symbols && (s - 1)->value == (above - 1)->value; --s) {
      best->offer((s - 1)->value, (s - 1)->size, target, table.strings + (s - 1)->name);
    }
    return;
  }
}

// ---------------------------------------------------------------------------------------------
// The images' layouts, kept ready so that a crash reads them from memory instead of walking the
// loader's list and each image's headers through safe reads (one system call each).
//
// A list is read at normal time and published through an atomic pointer; it is never changed
// nor freed afterwards, because a crash handler may be reading it at any moment. A new list is
// made only when the loader's list changed. Before each use the published list is checked
// against the loader's list in one scattered read of all its nodes; when they differ (an image
// came or went since), the callers walk the loader's list as before.

// Images with more loadable segments than this are not kept (none are known to exist).
constexpr int kMaxLoadSegments = 32;

struct CachedImage {
  std::uintptr_t node = 0;  ///< the image's entry in the loader's list
  link_map entry{};         ///< that entry as read: it must still read so, next pointer included
  bool laidOut = false;     ///< false when the headers could not be read (the walk skips it too)
  BinaryImage image;
  std::uintptr_t loadStart[kMaxLoadSegments] = {};
  std::uintptr_t loadEnd[kMaxLoadSegments] = {};
  int loadCount = 0;
  DynamicTables tables;
  std::size_t symbolCount = 0;
  bool hasTables = false;
  /// The dynamic table's named code symbols sorted by start, or null when it could not be read
  /// (then lookups read the table itself).
  const FileSymbol* sortedSymbols = nullptr;
  std::size_t sortedCount = 0;
};

struct CachedImageList {
  const CachedImage* images;
  int count;
};

std::atomic<const CachedImageList*> gImageList{nullptr};
static_assert(std::atomic<const CachedImageList*>::is_always_lock_free);

bool sameEntry(const link_map& a, const link_map& b) {
  return a.l_addr == b.l_addr && a.l_name == b.l_name && a.l_ld == b.l_ld && a.l_next == b.l_next;
}

// True when `list` holds exactly the loader's list as it is now.
bool matchesLoader(const CachedImageList& list) {
  constexpr int kNodesPerRead = 48;
  link_map nodes[kNodesPerRead];
  SafeReadPart parts[kNodesPerRead + 1];
  link_map* head = nullptr;
  for (int first = 0; first < list.count || first == 0; first += kNodesPerRead) {
    int n = 0;
    if (first == 0) parts[n++] = SafeReadPart{&_r_debug.r_map, &head, sizeof head};
    int batch = std::min(kNodesPerRead, list.count - first);
    for (int i = 0; i < batch; ++i) {
      parts[n++] = SafeReadPart{reinterpret_cast<const void*>(list.images[first + i].node), &nodes[i], sizeof nodes[i]};
    }
    if (!copySafelyEach(parts, n)) return false;
    if (first == 0 && reinterpret_cast<std::uintptr_t>(head) != (list.count > 0 ? list.images[0].node : 0)) return false;
    for (int i = 0; i < batch; ++i) {
      if (!sameEntry(nodes[i], list.images[first + i].entry)) return false;
    }
  }
  return true;
}

// The list checked by `holdImageList` while every other thread is stopped, else null.
std::atomic<const CachedImageList*> gHeldList{nullptr};

// The published list when it is current, else null.
const CachedImageList* currentImageList() {
  if (const CachedImageList* held = gHeldList.load(std::memory_order_acquire)) return held;
  const CachedImageList* list = gImageList.load(std::memory_order_acquire);
  return list != nullptr && matchesLoader(*list) ? list : nullptr;
}

bool cacheImage(const link_map& entry, std::uintptr_t node, int index, CachedImage* cached) {
  cached->node = node;
  cached->entry = entry;
  ImageLayout layout;
  cached->laidOut = layoutOfListed(entry, index == 0, nameOf(entry, index), &layout);
  if (!cached->laidOut) return true;
  cached->image = layout.image;
  for (int i = 0; i < layout.headerCount; ++i) {
    const ElfW(Phdr)& segment = layout.headers[i];
    if (segment.p_type != PT_LOAD) continue;
    if (cached->loadCount == kMaxLoadSegments) return false;
    cached->loadStart[cached->loadCount] = entry.l_addr + segment.p_vaddr;
    cached->loadEnd[cached->loadCount] = entry.l_addr + segment.p_vaddr + segment.p_memsz;
    ++cached->loadCount;
  }
  cached->hasTables = readDynamicTables(layout, &cached->tables);
  if (cached->hasTables) cached->symbolCount = dynamicSymbolCount(cached->tables);
  return true;
}

// The same image in the last published list, whose sorted symbols can be shared.
const CachedImage* previousCopy(const CachedImageList* previous, const CachedImage& image) {
  for (int i = 0; previous != nullptr && i < previous->count; ++i) {
    const CachedImage& old = previous->images[i];
    if (old.node == image.node && sameEntry(old.entry, image.entry) && old.tables.symbols == image.tables.symbols) return &old;
  }
  return nullptr;
}

// Normal time: sorts the named code symbols of the image's dynamic table once, so that a lookup
// searches memory instead of reading the table through safe reads.
void sortDynamicSymbols(CachedImage* image, const CachedImageList* previous) {
  if (!image->hasTables || image->symbolCount == 0) return;
  if (const CachedImage* old = previousCopy(previous, *image)) {
    image->sortedSymbols = old->sortedSymbols;
    image->sortedCount = old->sortedCount;
    return;
  }
  std::vector<FileSymbol> symbols;
  bool read = forEachDynamicSymbol(image->tables, image->symbolCount, [&](const ElfW(Sym)& symbol) {
    symbols.push_back({symbol.st_value, symbol.st_size, symbol.st_name});
  });
  if (!read) return;
  std::stable_sort(symbols.begin(), symbols.end(), [](const FileSymbol& a, const FileSymbol& b) { return a.value < b.value; });
  auto* stored = new FileSymbol[symbols.empty() ? 1 : symbols.size()];
  std::copy(symbols.begin(), symbols.end(), stored);
  image->sortedSymbols = stored;
  image->sortedCount = symbols.size();
}

// Normal time only: allocates. The walk runs inside dl_iterate_phdr, which holds the loader's
// list lock, so no image comes or goes halfway through it.
void refreshImageList() {
  const CachedImageList* published = gImageList.load(std::memory_order_acquire);
  if (published != nullptr && matchesLoader(*published)) return;
  struct Walk {
    std::vector<CachedImage> images;
    bool complete = true;
  } walk;
  // Called by the loader: a walk that cannot allocate stops and leaves the list as it was.
  dl_iterate_phdr(
      [](dl_phdr_info*, std::size_t, void* data) noexcept {
        auto* into = static_cast<Walk*>(data);
        return dispatch::guardCallback(
            "loaded image walk",
            [&] {
              walkLinkMap([&](int index, const link_map& entry, std::uintptr_t node) {
                into->images.emplace_back();
                into->complete = cacheImage(entry, node, index, &into->images.back());
                return into->complete;
              });
              return 1;
            },
            [&](const char*) {
              into->complete = false;
              return 1;
            });
      },
      &walk);
  if (!walk.complete || walk.images.empty()) return;
  for (CachedImage& image : walk.images) sortDynamicSymbols(&image, published);
  auto* images = new CachedImage[walk.images.size()];
  std::copy(walk.images.begin(), walk.images.end(), images);
  gImageList.store(new CachedImageList{images, static_cast<int>(walk.images.size())}, std::memory_order_release);
}

// Lookups made while the list is held, by the thread that holds it: a crash report looks up the
// same return addresses again and again. Direct-mapped; static, as the crash path may not allocate.
constexpr std::size_t kLookupMemoSize = 512;
struct MemoEntry {
  std::uint64_t generation;  // the hold that filled it; entries of earlier holds are empty
  bool found;
  std::uintptr_t address;
  SymbolInfo info;
};
MemoEntry gLookupMemo[kLookupMemoSize];
std::uint64_t gMemoGeneration = 0;
std::atomic<ThreadId> gMemoHolder{0};

// A new generation empties the memo without touching its pages.
void clearLookupMemo() { ++gMemoGeneration; }

bool lookupUnmemoized(std::uintptr_t address, SymbolInfo* info);

}  // namespace

void holdImageList() {
  gHeldList.store(nullptr, std::memory_order_release);
  gHeldList.store(currentImageList(), std::memory_order_release);
  gMemoHolder.store(0, std::memory_order_release);
  clearLookupMemo();
  gMemoHolder.store(currentThreadId(), std::memory_order_release);
}

void releaseImageList() {
  gMemoHolder.store(0, std::memory_order_release);
  gHeldList.store(nullptr, std::memory_order_release);
}

int imageCount() {
  if (const CachedImageList* list = currentImageList()) return list->count;
  int count = 0;
  walkLinkMap([&](int, const link_map&, std::uintptr_t) {
    ++count;
    return true;
  });
  return count;
}

bool imageAtIndex(int index, BinaryImage* image) {
  if (index < 0) return false;
  if (const CachedImageList* list = currentImageList()) {
    if (index >= list->count || !list->images[index].laidOut) return false;
    *image = list->images[index].image;
    return true;
  }
  bool found = false;
  walkLinkMap([&](int at, const link_map& entry, std::uintptr_t) {
    if (at < index) return true;
    ImageLayout layout;
    found = layoutOfListed(entry, at == 0, nameOf(entry, at), &layout);
    if (found) *image = layout.image;
    return false;
  });
  return found;
}

void forEachImage(bool (*visit)(const BinaryImage& image, void* context), void* context) {
  if (const CachedImageList* list = currentImageList()) {
    for (int i = 0; i < list->count; ++i) {
      if (list->images[i].laidOut && !visit(list->images[i].image, context)) return;
    }
    return;
  }
  walkLinkMap([&](int at, const link_map& entry, std::uintptr_t) {
    ImageLayout layout;
    return !layoutOfListed(entry, at == 0, nameOf(entry, at), &layout) || visit(layout.image, context);
  });
}

bool imageForHeader(std::uintptr_t header, const char* name, BinaryImage* image) {
  ImageLayout layout;
  if (!readLayout(header, header, name, &layout)) return false;
  for (int i = 0; i < layout.headerCount; ++i) {
    if (layout.headers[i].p_type == PT_LOAD && layout.headers[i].p_offset == 0) {
      return readLayout(header, header - layout.headers[i].p_vaddr, name, &layout) && (*image = layout.image, true);
    }
  }
  return false;
}

namespace {

const CachedImage* cachedImageHolding(const CachedImageList& list, std::uintptr_t address) {
  for (int i = 0; i < list.count; ++i) {
    const CachedImage& cached = list.images[i];
    for (int k = 0; k < cached.loadCount; ++k) {
      if (address >= cached.loadStart[k] && address < cached.loadEnd[k]) return &cached;
    }
  }
  return nullptr;
}

void fillSymbolInfo(const BinaryImage& image, const CachedImage* cached, const DynamicTables* tables,
                    std::size_t symbolCount, std::uintptr_t address, SymbolInfo* info) {
  info->imageName = image.name;
  info->imageBase = image.header;
  std::uint64_t target = address - image.slide;
  Best best;
  searchFileSymbols(image.header, target, &best);
  if (cached != nullptr && cached->sortedSymbols != nullptr) {
    searchSortedSymbols(cached->sortedSymbols, cached->sortedCount, cached->tables.strings, target, &best);
  } else if (tables != nullptr) {
    searchDynamicSymbols(*tables, symbolCount, target, &best);
  }
  if (best.name != nullptr) {
    info->symbolName = best.name;
    info->symbolAddress = image.slide + best.value;
  }
}

}  // namespace

bool lookupAddress(std::uintptr_t address, SymbolInfo* info) {
  *info = SymbolInfo{};
  // While the list is held no image can come or go, so an address gives what it gave before:
  // threads stopped in the same places (a pool's idle workers) share their frames' lookups.
  MemoEntry* memo = nullptr;
  if (gMemoHolder.load(std::memory_order_acquire) == currentThreadId()) {
    memo = &gLookupMemo[(address >> 4) % kLookupMemoSize];
    if (memo->generation == gMemoGeneration && memo->address == address) {
      *info = memo->info;
      return memo->found;
    }
  }
  const bool found = lookupUnmemoized(address, info);
  if (memo != nullptr) *memo = MemoEntry{gMemoGeneration, found, address, *info};
  return found;
}

namespace {

bool lookupUnmemoized(std::uintptr_t address, SymbolInfo* info) {
  if (const CachedImageList* list = currentImageList()) {
    const CachedImage* cached = cachedImageHolding(*list, address);
    if (cached == nullptr) return false;
    fillSymbolInfo(cached->image, cached, cached->hasTables ? &cached->tables : nullptr, cached->symbolCount, address, info);
    return true;
  }
  ImageLayout layout;
  if (!findImageHolding(address, &layout)) return false;
  DynamicTables tables;
  bool hasTables = readDynamicTables(layout, &tables);
  fillSymbolInfo(layout.image, nullptr, hasTables ? &tables : nullptr, hasTables ? dynamicSymbolCount(tables) : 0,
                 address, info);
  return true;
}

struct LoadedFile {
  std::string path;
  std::uintptr_t header;
};

// Reads the .symtab of one file into a table that lives for the rest of the process.
bool readFileSymbols(const LoadedFile& file, FileSymbolTable* table) {
  int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  void* mapped = MAP_FAILED;
  if (::fstat(fd, &info) == 0 && info.st_size > static_cast<off_t>(sizeof(ElfW(Ehdr)))) {
    mapped = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  }
  ::close(fd);
  if (mapped == MAP_FAILED) return false;
  auto* bytes = static_cast<const char*>(mapped);
  auto size = static_cast<std::size_t>(info.st_size);
  bool ok = false;
  ElfW(Ehdr) elf;
  std::memcpy(&elf, bytes, sizeof elf);
  if (isElfHeader(elf) && elf.e_shentsize == sizeof(ElfW(Shdr)) && elf.e_shoff < size &&
      elf.e_shnum <= (size - elf.e_shoff) / sizeof(ElfW(Shdr))) {
    auto* sections = reinterpret_cast<const ElfW(Shdr)*>(bytes + elf.e_shoff);
    for (int i = 0; i < elf.e_shnum && !ok; ++i) {
      const ElfW(Shdr)& symtab = sections[i];
      if (symtab.sh_type != SHT_SYMTAB || symtab.sh_link >= elf.e_shnum) continue;
      const ElfW(Shdr)& strtab = sections[symtab.sh_link];
      if (symtab.sh_offset > size || symtab.sh_size > size - symtab.sh_offset || strtab.sh_offset > size ||
          strtab.sh_size > size - strtab.sh_offset || strtab.sh_size == 0) {
        break;
      }
      auto* symbols = reinterpret_cast<const ElfW(Sym)*>(bytes + symtab.sh_offset);
      std::size_t count = symtab.sh_size / sizeof(ElfW(Sym));
      std::vector<FileSymbol> kept;
      for (std::size_t s = 0; s < count; ++s) {
        if (isNamedCode(symbols[s]) && symbols[s].st_name < strtab.sh_size) {
          kept.push_back({symbols[s].st_value, symbols[s].st_size, symbols[s].st_name});
        }
      }
      std::sort(kept.begin(), kept.end(), [](const FileSymbol& a, const FileSymbol& b) { return a.value < b.value; });
      auto* strings = new char[strtab.sh_size + 1];
      std::memcpy(strings, bytes + strtab.sh_offset, strtab.sh_size);
      strings[strtab.sh_size] = '\0';
      auto* stored = new FileSymbol[kept.size() > 0 ? kept.size() : 1];
      std::copy(kept.begin(), kept.end(), stored);
      auto* path = new char[file.path.size() + 1];
      std::memcpy(path, file.path.c_str(), file.path.size() + 1);
      *table = FileSymbolTable{file.header, path, stored, kept.size(), strings};
      ok = true;
    }
  }
  ::munmap(mapped, size);
  return ok;
}

}  // namespace

void prepareSymbolTables() {
  static std::mutex preparing;
  std::lock_guard<std::mutex> lock(preparing);
  // Called again on every refresh of the crash recorder's caches: when no image came or went
  // since the last call, everything it would read is kept already.
  const CachedImageList* kept = gImageList.load(std::memory_order_acquire);
  if (kept != nullptr && gFileTables.load(std::memory_order_acquire) != nullptr && matchesLoader(*kept)) return;
  std::vector<LoadedFile> files;
  walkLinkMap([&](int at, const link_map& entry, std::uintptr_t) {
    ImageLayout layout;
    const char* name = nameOf(entry, at);
    if (name[0] == '/' && layoutOfListed(entry, at == 0, name, &layout)) files.push_back({name, layout.image.header});
    return true;
  });
  refreshImageList();
  const SymbolTableSet* previous = gFileTables.load(std::memory_order_acquire);
  std::vector<FileSymbolTable> tables;
  for (const LoadedFile& file : files) {
    bool reused = false;
    for (std::size_t i = 0; previous != nullptr && i < previous->count; ++i) {
      if (previous->tables[i].header == file.header && file.path == previous->tables[i].path) {
        tables.push_back(previous->tables[i]);
        reused = true;
        break;
      }
    }
    FileSymbolTable table;
    if (!reused && readFileSymbols(file, &table)) tables.push_back(table);
  }
  auto* stored = new FileSymbolTable[tables.size() > 0 ? tables.size() : 1];
  std::copy(tables.begin(), tables.end(), stored);
  gFileTables.store(new SymbolTableSet{stored, tables.size()}, std::memory_order_release);
}

}  // namespace kernel
