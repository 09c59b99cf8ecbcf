#pragma once
// Rewriting the import slots (global offset table entries) of a loaded ELF image, so that its
// calls to a named function go to a replacement.

#include <link.h>

#include <cstddef>
#include <cstdint>

namespace kernel {

/// Asked once per import slot of an image: `name` is the imported symbol, `current` the function
/// the slot leads to now (with lazy binding resolved, so it is never the loader's stub). Returns
/// the value to write into the slot, or null to leave it.
using ImportChooser = void* (*)(const char* name, void* current, void* context);

/// Visits every import slot of the image (the JUMP_SLOT and GLOB_DAT relocations of its dynamic
/// section) and writes what `choose` returns. A slot that the loader made read-only after
/// relocation (RELRO) is made writable for the write and read-only again right after; when that
/// protection cannot be changed the slot is left alone. Returns how many slots were rewritten.
/// Normal time only.
int rebindImports(const dl_phdr_info& image, ImportChooser choose, void* context);

/// The same for the slots of the symbols named in `names` only: `choose` is asked for those
/// alone. The image's symbol hash table tells first whether it has such a symbol at all, so an
/// image that has none costs a few look-ups and no walk of its relocations. Normal time only.
int rebindNamedImports(const dl_phdr_info& image, const char* const* names, std::size_t nameCount, ImportChooser choose,
                       void* context);

}  // namespace kernel
