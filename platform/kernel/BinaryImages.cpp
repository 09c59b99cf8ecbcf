#include "platform/kernel/BinaryImages.h"

#include "platform/dispatch/CallbackGuard.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/kernel/SafeMemory.h"
#include "platform/kernel/Threads.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <pthread.h>
#include <climits>
#include <cstddef>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
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

// Whether [address, address + length) lies inside one readable loadable segment of the image.
bool inReadableSegment(const dl_phdr_info& image, std::uintptr_t address, std::size_t length) {
  for (int i = 0; i < image.dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = image.dlpi_phdr[i];
    if (segment.p_type != PT_LOAD || (segment.p_flags & PF_R) == 0) continue;
    std::uintptr_t start = image.dlpi_addr + segment.p_vaddr;
    if (address >= start && length <= segment.p_memsz && address - start <= segment.p_memsz - length) return true;
  }
  return false;
}

// How the readers of an image's headers, notes and tables reach its memory. Without a loaded
// image every read is a safe read (a system call): what a crash handler, or a reader that does not
// hold the loader's lock, must use. With the loader's description of an image, taken while its
// lock is held so that the image stays mapped, a range inside one of its readable segments is
// copied directly; anything else still goes through a safe read.
struct Memory {
  const dl_phdr_info* loaded = nullptr;

  /// Runs during a crash when `loaded` is null: no allocation, no locks.
  bool read(std::uintptr_t address, void* to, std::size_t length) const {
    if (loaded != nullptr && inReadableSegment(*loaded, address, length)) {
      std::memcpy(to, reinterpret_cast<const void*>(address), length);
      return true;
    }
    return copySafely(reinterpret_cast<const void*>(address), to, length);
  }
};
constexpr Memory kSafeReads{};

// What the walk, the lookup and the rebinder need of one image.
struct ImageLayout {
  BinaryImage image;
  ElfW(Phdr) headers[kMaxProgramHeaders];
  int headerCount = 0;
};

bool isElfHeader(const ElfW(Ehdr)& header) {
  return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == ELFCLASS64;
}

void readBuildId(const ImageLayout& layout, BinaryImage* image, const Memory& memory) {
  for (int i = 0; i < layout.headerCount; ++i) {
    const ElfW(Phdr)& segment = layout.headers[i];
    if (segment.p_type != PT_NOTE) continue;
    alignas(4) char notes[2048];
    std::size_t length = std::min<std::size_t>(segment.p_memsz, sizeof notes);
    if (!memory.read(image->slide + segment.p_vaddr, notes, length)) continue;
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
                BuildId buildId = BuildId::Read, const Memory& memory = kSafeReads) {
  ElfW(Ehdr) elf;
  if (!memory.read(header, &elf, sizeof elf) || !isElfHeader(elf)) return false;
  int count = std::min<int>(elf.e_phnum, kMaxProgramHeaders);
  if (elf.e_phentsize != sizeof(ElfW(Phdr)) || !memory.read(header + elf.e_phoff, layout->headers, count * sizeof(ElfW(Phdr)))) {
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
  if (buildId == BuildId::Read) readBuildId(*layout, &image, memory);
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

// The layout of an image the loader describes while its lock is held: the header lies at the
// start of the loadable segment that maps the file's first byte, for the main program too.
bool layoutOfLoaded(const dl_phdr_info& loaded, const char* name, ImageLayout* layout) {
  for (int i = 0; i < loaded.dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = loaded.dlpi_phdr[i];
    if (segment.p_type == PT_LOAD && segment.p_offset == 0) {
      return readLayout(loaded.dlpi_addr + segment.p_vaddr, loaded.dlpi_addr, name, layout, BuildId::Read, Memory{&loaded});
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

// The name the loader gives an image, the main program's (empty there) replaced by its path.
const char* loadedName(const dl_phdr_info& loaded, int index) {
  if (loaded.dlpi_name == nullptr) return "";
  return loaded.dlpi_name[0] == '\0' && index == 0 ? gExecutablePath : loaded.dlpi_name;
}

// Calls `visit(loaded, entry, nodeAddress, index)` for each image of the loader's list, the list
// `walkLinkMap` reads, in its order, until `visit` returns false. Everything runs while
// dl_iterate_phdr holds the loader's list lock: no image comes or goes, and the images' memory
// and the list's nodes stay in place. Images of other link namespaces, which dl_iterate_phdr
// visits after that list, are left out. What `visit` throws stops the walk and calls `failed()`.
// Normal time only.
template <typename Visit, typename Failed>
void forEachLoaderImage(const char* walkName, Visit visit, Failed failed) {
  struct Walk {
    Visit* visit;
    Failed* failed;
    const char* name;
    const link_map* next;
    int index;
  } walk{&visit, &failed, walkName, nullptr, 0};
  dl_iterate_phdr(
      [](dl_phdr_info* loaded, std::size_t, void* data) noexcept {
        auto* walk = static_cast<Walk*>(data);
        if (walk->index == 0) walk->next = _r_debug.r_map;
        const link_map* node = walk->next;
        if (node == nullptr || node->l_addr != loaded->dlpi_addr || node->l_name != loaded->dlpi_name) return 1;
        walk->next = node->l_next;
        const int index = walk->index++;
        return dispatch::guardCallback(
            walk->name,
            [&] { return (*walk->visit)(*loaded, *node, reinterpret_cast<std::uintptr_t>(node), index) ? 0 : 1; },
            [&](const char*) {
              (*walk->failed)();
              return 1;
            });
      },
      &walk);
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

bool readDynamicTables(const ImageLayout& layout, DynamicTables* tables, const Memory& memory = kSafeReads) {
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
        blockRead = memory.read(at, block, sizeof block);
      }
      ElfW(Dyn) entry;
      if (blockRead) {
        entry = block[n - blockStart];
      } else if (!memory.read(at, &entry, sizeof entry)) {
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
std::size_t dynamicSymbolCount(const DynamicTables& tables, const Memory& memory = kSafeReads) {
  std::uint32_t words[4];
  if (tables.hash != 0) return memory.read(tables.hash, words, 8) ? words[1] : 0;
  if (tables.gnuHash == 0 || !memory.read(tables.gnuHash, words, 16)) return 0;
  std::uint32_t bucketCount = words[0], symbolOffset = words[1], bloomSize = words[2];
  std::uintptr_t buckets = tables.gnuHash + 16 + std::uintptr_t{bloomSize} * sizeof(ElfW(Addr));
  std::uint32_t last = 0;
  std::uint32_t chunk[256];
  for (std::uint32_t i = 0; i < bucketCount; i += 256) {
    std::uint32_t n = std::min<std::uint32_t>(256, bucketCount - i);
    if (!memory.read(buckets + i * 4, chunk, n * 4)) return 0;
    for (std::uint32_t j = 0; j < n; ++j) last = std::max(last, chunk[j]);
  }
  if (last < symbolOffset) return symbolOffset;
  std::uintptr_t chains = buckets + std::uintptr_t{bucketCount} * 4;
  for (std::uint32_t guard = 0; guard < (1u << 24); ++guard, ++last) {
    std::uint32_t value;
    if (!memory.read(chains + std::uintptr_t{last - symbolOffset} * 4, &value, sizeof value)) return 0;
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
bool forEachDynamicSymbol(const DynamicTables& tables, std::size_t count, Visit visit, const Memory& memory = kSafeReads) {
  // Large chunks: each is one safe read (a system call), and a library has thousands of symbols.
  constexpr std::size_t kChunk = 512;
  ElfW(Sym) chunk[kChunk];
  for (std::size_t i = 0; i < count; i += kChunk) {
    std::size_t n = std::min<std::size_t>(kChunk, count - i);
    if (!memory.read(tables.symbols + i * sizeof(ElfW(Sym)), chunk, n * sizeof(ElfW(Sym)))) return false;
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

// Sorts symbols collected in table order by start, table order kept among equal starts: a
// least-significant-digit radix sort, which is stable, through `scratch` (room for `count`), in
// as many passes as the highest start needs (two or three for a library). A comparison sort of a
// library's thousands of symbols took most of the time the tables take to prepare.
void sortByStart(FileSymbol* symbols, std::size_t count, FileSymbol* scratch) {
  constexpr int kDigitBits = 11;
  constexpr std::size_t kDigits = std::size_t{1} << kDigitBits;
  std::uint64_t highest = 0;
  for (std::size_t i = 0; i < count; ++i) highest = std::max(highest, symbols[i].value);
  int passes = 0;
  for (int shift = 0; shift < 64 && (highest >> shift) != 0; shift += kDigitBits) ++passes;
  // Each pass moves the symbols to the other buffer: an odd count starts from the scratch copy,
  // so that the last pass ends in place.
  FileSymbol* from = symbols;
  FileSymbol* to = scratch;
  if (passes % 2 != 0) {
    std::copy(symbols, symbols + count, scratch);
    std::swap(from, to);
  }
  for (int pass = 0; pass < passes; ++pass) {
    const int shift = pass * kDigitBits;
    std::size_t starts[kDigits] = {};
    for (std::size_t i = 0; i < count; ++i) ++starts[(from[i].value >> shift) & (kDigits - 1)];
    std::size_t next = 0;
    for (std::size_t& start : starts) next += std::exchange(start, next);
    for (std::size_t i = 0; i < count; ++i) to[starts[(from[i].value >> shift) & (kDigits - 1)]++] = from[i];
    std::swap(from, to);
  }
}

// Memory for tables kept for the life of the process, cut from large anonymous mappings. Kept
// tables are never freed, so nothing is gained from the heap; and a heap grows step by step
// (an mprotect per step, which takes the address space's lock for writing and stalls the
// process's other threads where they start, map or fault meanwhile), where a mapping is one
// call for many tables and its pages come in as they are first written.
// Normal time only; callers serialise (prepareSymbolTables holds its lock).
class KeptMemory {
 public:
  /// Room for `count` elements of T (its bytes are not cleared), or null when no memory could be
  /// mapped.
  template <typename T>
  T* take(std::size_t count) {
    static_assert(alignof(T) <= kAlignment);
    const std::size_t bytes = roundUp(std::max<std::size_t>(count, 1) * sizeof(T));
    if (bytes > left_) {
      const std::size_t length = std::max(bytes, kMappingSize);
      void* mapped = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
      if (mapped == MAP_FAILED) return nullptr;
      next_ = static_cast<char*>(mapped);
      left_ = length;
    }
    T* taken = reinterpret_cast<T*>(next_);
    next_ += bytes;
    left_ -= bytes;
    last_ = reinterpret_cast<char*>(taken);
    return taken;
  }

  /// Gives back the end of the last block taken beyond its first `used` elements of T (all of
  /// it for none), for the next blocks to reuse.
  template <typename T>
  void keepOnly(const T* block, std::size_t used) {
    if (reinterpret_cast<const char*>(block) != last_) return;
    char* end = last_ + roundUp(used * sizeof(T));
    if (end > next_) return;
    left_ += static_cast<std::size_t>(next_ - end);
    next_ = end;
  }

 private:
  static constexpr std::size_t kAlignment = 16;
  // Large enough for the dynamic symbols of a program with a hundred libraries in one or two
  // mappings; reserved, not committed: untouched pages cost nothing.
  static constexpr std::size_t kMappingSize = std::size_t{8} << 20;
  static std::size_t roundUp(std::size_t bytes) { return (bytes + kAlignment - 1) & ~(kAlignment - 1); }

  char* next_ = nullptr;
  std::size_t left_ = 0;
  char* last_ = nullptr;
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

// True when `list` holds exactly the loader's list as it is now: its head is the first kept node
// and each kept node still reads as kept, next pointer included (an image loaded since hangs
// after the last; one unloaded since changes its neighbour's next pointer, and a freed node no
// longer reads as it did or cannot be read at all). One scattered read per 48 nodes.
bool matchesLoaderNodeByNode(const CachedImageList& list) {
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

// The check's own pipe, made at normal time. A scattered read by process_vm_readv pins every page
// it reads from, which costs far more than the copy when the nodes lie on dozens of pages; a
// scattered write of the nodes into a pipe lets the kernel copy them as it would any write (an
// unreadable node ends the write early, or fails it with EFAULT), and one read takes them back.
// One user at a time; a forked child shares the pipe with its parent and leaves it to it.
std::atomic<int> gCheckPipeRead{-1};
std::atomic<int> gCheckPipeWrite{-1};
std::atomic<bool> gCheckPipeBusy{false};
// Nodes per write: their bytes fit even the two pages a pipe gets once its user holds more than
// the system's soft limit of pipe pages, so the non-blocking write into the empty pipe is never
// cut short by a full pipe (cut short, it would only make the check fail and the callers walk).
constexpr int kNodesPerPipeWrite = 192;
static_assert(kNodesPerPipeWrite * sizeof(link_map) + sizeof(link_map*) <= 2 * 4096);
static_assert(kNodesPerPipeWrite + 1 <= IOV_MAX);

// What one write sends and the read takes back, in this order: static, as the signal stack is
// small, touched when the pipe is made so that a crash does not fault its pages in, and used only
// by the holder of `gCheckPipeBusy`.
struct CheckScratch {
  iovec parts[kNodesPerPipeWrite + 1];
  link_map* head;
  link_map nodes[kNodesPerPipeWrite];
};
static_assert(offsetof(CheckScratch, nodes) == offsetof(CheckScratch, head) + sizeof(link_map*));
CheckScratch gCheckScratch;

void forgetCheckPipeInChild() {
  gCheckPipeRead.store(-1, std::memory_order_relaxed);
  gCheckPipeWrite.store(-1, std::memory_order_relaxed);
}

// Normal time only.
void makeCheckPipe() {
  if (gCheckPipeWrite.load(std::memory_order_acquire) >= 0) return;
  static const bool forkHandled = ::pthread_atfork(nullptr, nullptr, forgetCheckPipeInChild) == 0;
  int fds[2];
  if (!forkHandled || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  std::memset(static_cast<void*>(&gCheckScratch), 0, sizeof gCheckScratch);
  gCheckPipeRead.store(fds[0], std::memory_order_release);
  gCheckPipeWrite.store(fds[1], std::memory_order_release);
}

// Reads the nodes [first, first + count) of `list` through the pipe into the scratch's nodes,
// preceded by the head of the loader's list into its head when `withHead`. False when a part
// could not be read whole.
bool readNodesThroughPipe(const CachedImageList& list, int first, int count, bool withHead, int readEnd, int writeEnd) {
  CheckScratch& scratch = gCheckScratch;
  int n = 0;
  if (withHead) scratch.parts[n++] = iovec{const_cast<link_map**>(&_r_debug.r_map), sizeof scratch.head};
  for (int i = 0; i < count; ++i) {
    scratch.parts[n++] = iovec{reinterpret_cast<void*>(list.images[first + i].node), sizeof(link_map)};
  }
  const std::size_t total = count * sizeof(link_map) + (withHead ? sizeof scratch.head : 0);
  // The system call itself, not the C library's wrapper: a memory checker that intercepts the
  // wrapper would take reading a freed node, which is how an unloaded image shows, for a fault.
  const long written = foundation::retryOnInterrupt([&] { return ::syscall(SYS_writev, writeEnd, scratch.parts, n); });
  if (written <= 0) return false;
  // Back into place: the head and the nodes lie one after the other, as they were written.
  char* into = withHead ? reinterpret_cast<char*>(&scratch.head) : reinterpret_cast<char*>(scratch.nodes);
  std::size_t got = 0;
  while (got < static_cast<std::size_t>(written)) {
    const ssize_t r = foundation::retryOnInterrupt(
        [&] { return ::read(readEnd, into + got, static_cast<std::size_t>(written) - got); });
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  // Left empty for the next check, whatever happened (nothing is left after a full read).
  char drain[256];
  while (got < static_cast<std::size_t>(written) && ::read(readEnd, drain, sizeof drain) > 0) {
  }
  return static_cast<std::size_t>(written) == total && got == total;
}

// What `matchesLoaderNodeByNode` finds, the nodes read through the check's pipe; node by node
// when the pipe is missing or in use.
bool matchesLoader(const CachedImageList& list) {
  const int readEnd = gCheckPipeRead.load(std::memory_order_acquire);
  const int writeEnd = gCheckPipeWrite.load(std::memory_order_acquire);
  if (readEnd < 0 || writeEnd < 0 || gCheckPipeBusy.exchange(true, std::memory_order_acquire)) {
    return matchesLoaderNodeByNode(list);
  }
  bool matches = true;
  for (int first = 0; matches && (first < list.count || first == 0); first += kNodesPerPipeWrite) {
    const int batch = std::min(kNodesPerPipeWrite, list.count - first);
    matches = readNodesThroughPipe(list, first, batch, first == 0, readEnd, writeEnd) &&
              (first != 0 ||
               reinterpret_cast<std::uintptr_t>(gCheckScratch.head) == (list.count > 0 ? list.images[0].node : 0));
    for (int i = 0; matches && i < batch; ++i) matches = sameEntry(gCheckScratch.nodes[i], list.images[first + i].entry);
  }
  gCheckPipeBusy.store(false, std::memory_order_release);
  return matches;
}

// The list checked by `holdImageList` while every other thread is stopped, else null.
std::atomic<const CachedImageList*> gHeldList{nullptr};

// The published list when it is current, else null.
const CachedImageList* currentImageList() {
  if (const CachedImageList* held = gHeldList.load(std::memory_order_acquire)) return held;
  const CachedImageList* list = gImageList.load(std::memory_order_acquire);
  return list != nullptr && matchesLoader(*list) ? list : nullptr;
}

// Normal time, under the loader's lock: `loaded` is the loader's description of the image at `node`.
bool cacheImage(const dl_phdr_info& loaded, const link_map& entry, std::uintptr_t node, int index, CachedImage* cached) {
  cached->node = node;
  cached->entry = entry;
  ImageLayout layout;
  cached->laidOut = layoutOfLoaded(loaded, loadedName(loaded, index), &layout);
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
  const Memory memory{&loaded};
  cached->hasTables = readDynamicTables(layout, &cached->tables, memory);
  if (cached->hasTables) cached->symbolCount = dynamicSymbolCount(cached->tables, memory);
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

// Normal time, under the loader's lock: copies the named code symbols of the image's dynamic
// table, in table order, into kept memory, unless the last published list has them sorted
// already (then it shares them). Without the table, or when it could not be read, the image
// keeps none (then lookups read the table itself).
void collectDynamicSymbols(CachedImage* image, const CachedImageList* previous, const Memory& memory, KeptMemory& kept) {
  if (!image->hasTables || image->symbolCount == 0) return;
  if (const CachedImage* old = previousCopy(previous, *image)) {
    image->sortedSymbols = old->sortedSymbols;
    image->sortedCount = old->sortedCount;
    return;
  }
  // The count comes from the hash table and bounds what is kept; the rest is given back.
  const std::size_t bound = std::min<std::size_t>(image->symbolCount, std::size_t{1} << 24);
  auto* symbols = kept.take<FileSymbol>(bound);
  if (symbols == nullptr) return;
  std::size_t count = 0;
  const bool read = forEachDynamicSymbol(
      image->tables, bound,
      [&](const ElfW(Sym)& symbol) { symbols[count++] = {symbol.st_value, symbol.st_size, symbol.st_name}; },
      memory);
  kept.keepOnly(symbols, read ? count : 0);
  if (!read) return;
  image->sortedSymbols = symbols;
  image->sortedCount = count;
}

// Normal time: sorts the images' newly collected symbols by start once, table order kept among
// equal starts, so that a lookup searches memory instead of reading the table through safe reads.
// Through one scratch area, given back after; without it no image keeps its symbols (then
// lookups read the tables themselves).
void sortDynamicSymbols(std::vector<CachedImage>& images, const CachedImageList* previous, KeptMemory& kept) {
  std::size_t largest = 0;
  for (const CachedImage& image : images) {
    if (image.sortedSymbols != nullptr && previousCopy(previous, image) == nullptr) largest = std::max(largest, image.sortedCount);
  }
  FileSymbol* scratch = largest > 0 ? kept.take<FileSymbol>(largest) : nullptr;
  for (CachedImage& image : images) {
    if (image.sortedSymbols == nullptr || previousCopy(previous, image) != nullptr) continue;
    if (scratch != nullptr) {
      sortByStart(const_cast<FileSymbol*>(image.sortedSymbols), image.sortedCount, scratch);
    } else {
      image.sortedSymbols = nullptr;
      image.sortedCount = 0;
    }
  }
  if (scratch != nullptr) kept.keepOnly(scratch, 0);
}

// Normal time only: allocates. The images and their dynamic symbols are read while
// dl_iterate_phdr holds the loader's list lock, so no image comes or goes halfway through the
// walk and their memory is read directly; the symbols are sorted after it, so that the lock is
// not held for long.
void refreshImageList(KeptMemory& memory) {
  makeCheckPipe();
  const CachedImageList* published = gImageList.load(std::memory_order_acquire);
  if (published != nullptr && matchesLoader(*published)) return;
  std::vector<CachedImage> images;
  images.reserve(128);
  bool complete = true;
  forEachLoaderImage("loaded image walk", [&](const dl_phdr_info& loaded, const link_map& entry, std::uintptr_t node, int index) {
    images.emplace_back();
    complete = cacheImage(loaded, entry, node, index, &images.back());
    if (complete) collectDynamicSymbols(&images.back(), published, Memory{&loaded}, memory);
    return complete;
  }, [&] { complete = false; });
  if (!complete || images.empty()) return;
  sortDynamicSymbols(images, published, memory);
  auto* kept = new CachedImage[images.size()];
  std::copy(images.begin(), images.end(), kept);
  gImageList.store(new CachedImageList{kept, static_cast<int>(images.size())}, std::memory_order_release);
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

std::uintptr_t forEachImage(bool (*visit)(const BinaryImage& image, void* context), void* context) {
  if (const CachedImageList* list = currentImageList()) {
    for (int i = 0; i < list->count; ++i) {
      if (list->images[i].laidOut && !visit(list->images[i].image, context)) break;
    }
    return reinterpret_cast<std::uintptr_t>(list);
  }
  walkLinkMap([&](int at, const link_map& entry, std::uintptr_t) {
    ImageLayout layout;
    return !layoutOfListed(entry, at == 0, nameOf(entry, at), &layout) || visit(layout.image, context);
  });
  return 0;
}

// A published list is never freed, so its address names it for the life of the process.
std::uintptr_t imageListToken() { return reinterpret_cast<std::uintptr_t>(currentImageList()); }

bool forEachLoadedImage(bool (*visit)(const BinaryImage& image, void* context), void* context) {
  bool walked = false;
  forEachLoaderImage("loaded image visit", [&](const dl_phdr_info& loaded, const link_map&, std::uintptr_t, int index) {
    walked = true;
    ImageLayout layout;
    return !layoutOfLoaded(loaded, loadedName(loaded, index), &layout) || visit(layout.image, context);
  }, [] {});
  return walked;
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

// Reads `length` bytes at `offset` of the file; false on an error or a file that ends before.
bool readFileAt(int fd, std::uint64_t offset, void* to, std::size_t length) {
  auto* into = static_cast<char*>(to);
  while (length > 0) {
    ssize_t n = ::pread(fd, into, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into += n;
    offset += static_cast<std::uint64_t>(n);
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// Calls `keep(symbol)` for each named code symbol of the table, read in blocks. False when the
// file could not be read.
template <typename Keep>
bool forEachFileSymbol(int fd, const ElfW(Shdr)& symtab, std::size_t stringsSize, Keep keep) {
  constexpr std::size_t kBlock = 1024;
  static ElfW(Sym) block[kBlock];  // prepareSymbolTables holds its lock while it reads
  const std::size_t count = symtab.sh_size / sizeof(ElfW(Sym));
  for (std::size_t first = 0; first < count; first += kBlock) {
    const std::size_t n = std::min(kBlock, count - first);
    if (!readFileAt(fd, symtab.sh_offset + first * sizeof(ElfW(Sym)), block, n * sizeof(ElfW(Sym)))) return false;
    for (std::size_t i = 0; i < n; ++i) {
      if (isNamedCode(block[i]) && block[i].st_name < stringsSize) keep(block[i]);
    }
  }
  return true;
}

// The string table of an open file, for the rest of the process: a read-only mapping of the file,
// never unmapped (a crash handler may read a name at any moment), whose pages are read from the
// file only where a name is looked up; copied into memory instead when it cannot be mapped or
// does not end with a terminator (a name read up to its terminator must not run past it).
const char* mapStrings(int fd, const ElfW(Shdr)& strtab) {
  const auto pageSize = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const std::uint64_t start = strtab.sh_offset - strtab.sh_offset % pageSize;
  const std::size_t length = strtab.sh_size + (strtab.sh_offset - start);
  char last = '\0';
  if (readFileAt(fd, strtab.sh_offset + strtab.sh_size - 1, &last, 1) && last == '\0') {
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, static_cast<off_t>(start));
    if (mapped != MAP_FAILED) return static_cast<const char*>(mapped) + (strtab.sh_offset - start);
  }
  auto* copy = new char[strtab.sh_size + 1];
  if (!readFileAt(fd, strtab.sh_offset, copy, strtab.sh_size)) {
    delete[] copy;
    return nullptr;
  }
  copy[strtab.sh_size] = '\0';
  return copy;
}

// Reads the .symtab of an open file into a table that lives for the rest of the process, in table
// order: the caller sorts it before it is published.
bool readSymbolTable(int fd, const LoadedFile& file, KeptMemory& kept, FileSymbolTable* table) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_size <= static_cast<off_t>(sizeof(ElfW(Ehdr)))) return false;
  const auto size = static_cast<std::uint64_t>(info.st_size);
  ElfW(Ehdr) elf;
  if (!readFileAt(fd, 0, &elf, sizeof elf) || !isElfHeader(elf) || elf.e_shentsize != sizeof(ElfW(Shdr)) ||
      elf.e_shoff >= size || elf.e_shnum > (size - elf.e_shoff) / sizeof(ElfW(Shdr))) {
    return false;
  }
  std::vector<ElfW(Shdr)> sections(elf.e_shnum);
  if (!readFileAt(fd, elf.e_shoff, sections.data(), sections.size() * sizeof(ElfW(Shdr)))) return false;
  for (const ElfW(Shdr)& symtab : sections) {
    if (symtab.sh_type != SHT_SYMTAB || symtab.sh_link >= elf.e_shnum) continue;
    const ElfW(Shdr)& strtab = sections[symtab.sh_link];
    if (symtab.sh_offset > size || symtab.sh_size > size - symtab.sh_offset || strtab.sh_offset > size ||
        strtab.sh_size > size - strtab.sh_offset || strtab.sh_size == 0) {
      return false;
    }
    // Read once into room for the whole table; what is not kept is given back.
    const std::size_t bound = symtab.sh_size / sizeof(ElfW(Sym));
    auto* stored = kept.take<FileSymbol>(bound);
    if (stored == nullptr) return false;
    std::size_t at = 0;
    const char* strings = nullptr;
    const bool read = forEachFileSymbol(fd, symtab, strtab.sh_size, [&](const ElfW(Sym)& symbol) {
      if (at < bound) {
        stored[at++] = {symbol.st_value, symbol.st_size, symbol.st_name};
      }
    }) && (strings = mapStrings(fd, strtab)) != nullptr;
    kept.keepOnly(stored, read ? at : 0);
    if (!read) return false;
    auto* path = new char[file.path.size() + 1];
    std::memcpy(path, file.path.c_str(), file.path.size() + 1);
    *table = FileSymbolTable{file.header, path, stored, at, strings};
    return true;
  }
  return false;
}

// Reads the .symtab of one file. The file is not mapped whole: most loaded libraries are
// stripped, so only their headers are read, and no mapping is made and torn down while the app
// starts (each unmapping interrupts every processor that runs a thread of this process, or a
// child it has just spawned, to flush their address translations).
bool readFileSymbols(const LoadedFile& file, KeptMemory& kept, FileSymbolTable* table) {
  int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool read = readSymbolTable(fd, file, kept, table);
  ::close(fd);
  return read;
}

}  // namespace

void prepareSymbolTables() {
  static std::mutex preparing;
  std::lock_guard<std::mutex> lock(preparing);
  // Never destroyed: what it handed out is read until the process ends.
  static KeptMemory& memory = *new KeptMemory;
  // Called again on every refresh of the crash recorder's caches: when no image came or went
  // since the last call, everything it would read is kept already.
  const CachedImageList* kept = gImageList.load(std::memory_order_acquire);
  if (kept != nullptr && gFileTables.load(std::memory_order_acquire) != nullptr && matchesLoader(*kept)) return;
  refreshImageList(memory);
  // The files are those of the images just kept: their walk read the loader's list directly.
  std::vector<LoadedFile> files;
  if (const CachedImageList* list = gImageList.load(std::memory_order_acquire)) {
    for (int i = 0; i < list->count; ++i) {
      const CachedImage& image = list->images[i];
      if (image.laidOut && image.image.name[0] == '/') files.push_back({image.image.name, image.image.header});
    }
  }
  const SymbolTableSet* previous = gFileTables.load(std::memory_order_acquire);
  std::vector<FileSymbolTable> tables;
  std::vector<std::size_t> read;  // the tables read now, by index in `tables`
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
    if (!reused && readFileSymbols(file, memory, &table)) {
      tables.push_back(table);
      read.push_back(tables.size() - 1);
    }
  }
  // The tables just read are sorted through one scratch area, given back after.
  std::size_t largest = 0;
  for (std::size_t i : read) largest = std::max(largest, tables[i].count);
  if (!read.empty()) {
    FileSymbol* scratch = memory.take<FileSymbol>(largest);
    if (scratch == nullptr) return;
    for (std::size_t i : read) sortByStart(const_cast<FileSymbol*>(tables[i].symbols), tables[i].count, scratch);
    memory.keepOnly(scratch, 0);
  }
  auto* stored = new FileSymbolTable[tables.size() > 0 ? tables.size() : 1];
  std::copy(tables.begin(), tables.end(), stored);
  gFileTables.store(new SymbolTableSet{stored, tables.size()}, std::memory_order_release);
}

}  // namespace kernel
