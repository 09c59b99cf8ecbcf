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
  const ElfW(Rela)* plt = nullptr;
  std::size_t pltSize = 0;
  const ElfW(Rela)* data = nullptr;
  std::size_t dataSize = 0;
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
        case DT_JMPREL: out->plt = reinterpret_cast<const ElfW(Rela)*>(relocated(entry->d_un.d_ptr, slide)); break;
        case DT_PLTRELSZ: out->pltSize = entry->d_un.d_val; break;
        case DT_PLTREL: out->pltIsRela = entry->d_un.d_val == DT_RELA; break;
        case DT_RELA: out->data = reinterpret_cast<const ElfW(Rela)*>(relocated(entry->d_un.d_ptr, slide)); break;
        case DT_RELASZ: out->dataSize = entry->d_un.d_val; break;
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

int rebindTable(const dl_phdr_info& image, const Relocations& tables, const ElfW(Rela)* relocations,
                std::size_t size, ImportChooser choose, void* context) {
  int rewritten = 0;
  for (std::size_t i = 0; relocations != nullptr && i < size / sizeof(ElfW(Rela)); ++i) {
    const ElfW(Rela)& relocation = relocations[i];
    auto type = static_cast<std::uint32_t>(ELF64_R_TYPE(relocation.r_info));
    auto symbolIndex = static_cast<std::uint32_t>(ELF64_R_SYM(relocation.r_info));
    if ((type != kJumpSlot && type != kGlobalData) || symbolIndex == 0) continue;
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

}  // namespace

int rebindImports(const dl_phdr_info& image, ImportChooser choose, void* context) {
  Relocations tables;
  if (!readRelocations(image, &tables)) return 0;
  return rebindTable(image, tables, tables.plt, tables.pltSize, choose, context) +
         rebindTable(image, tables, tables.data, tables.dataSize, choose, context);
}

}  // namespace kernel
