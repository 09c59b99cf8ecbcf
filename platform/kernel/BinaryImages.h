#pragma once
// The ELF images loaded in this process, read from the dynamic linker's public list, and an
// address-to-symbol lookup over their symbol tables that takes no loader lock.

#include <cstddef>
#include <cstdint>

namespace kernel {

/// One loaded image as the crash recorder reports it.
struct BinaryImage {
  std::uintptr_t header = 0;    ///< address of the ELF header in memory
  std::uintptr_t slide = 0;     ///< load bias: memory address minus file virtual address
  std::uint64_t vmAddress = 0;  ///< lowest virtual address of a loadable segment (0 for PIE and libraries)
  std::uint64_t size = 0;       ///< from the lowest loadable address to the end of the highest
  const char* name = "";        ///< file path as the loader knows it; never null
  std::uint8_t uuid[16] = {};   ///< first 16 bytes of the GNU build-id note
  bool hasUUID = false;
  /// Where those 16 bytes lie in the loaded image, or 0 when the build-id is shorter than 16 bytes.
  std::uintptr_t uuidAddress = 0;
  std::uint16_t machine = 0;    ///< ELF e_machine
};

/// Number of images in the dynamic linker's list right now (the list debuggers read; walked
/// through safe reads, without the loader lock).
/// Runs during a crash: no allocation, no locks.
int imageCount();

/// The image at `index` of that list (the main program first). False when the index is past the
/// end or the image's header cannot be read.
/// Runs during a crash: no allocation, no locks.
bool imageAtIndex(int index, BinaryImage* image);

/// Calls `visit(image, context)` for each image of the loader's list in order, the main program
/// first, skipping images whose headers cannot be read, until `visit` returns false. Reads the
/// list once: cheaper than `imageCount` and `imageAtIndex` over every index. Returns the token
/// of the kept layouts it visited (see `imageListToken`), or 0 when it walked the loader's list.
/// Runs during a crash: no allocation, no locks.
std::uintptr_t forEachImage(bool (*visit)(const BinaryImage& image, void* context), void* context);

/// A token of the kept layouts (see `prepareSymbolTables`) when they match the loader's list now,
/// else 0. A caller that keeps what it made of a visit of `forEachImage` keeps that visit's token
/// with it: while `imageListToken` returns the same token, the loader's list holds the same
/// images and another visit would give the same records. Tokens are never reused. One check of
/// the loader's list (a system call), none while the list is held.
/// Runs during a crash: no allocation, no locks.
std::uintptr_t imageListToken();

/// Calls `visit(image, context)` for the images `forEachImage` visits, in the same order and with
/// the same records, until `visit` returns false. Reads them while the loader's lock is held, so
/// that no image comes or goes and their memory is read directly: no system call per image. False
/// when the loader's list could not be walked so (then nothing was visited).
/// Normal time only: takes the loader's lock; `visit` must not load or unload libraries.
bool forEachLoadedImage(bool (*visit)(const BinaryImage& image, void* context), void* context);

/// Reads the image whose ELF header is at `header` under the given name; the slide follows from
/// the loadable segment that starts at file offset 0.
/// Runs during a crash: no allocation, no locks.
bool imageForHeader(std::uintptr_t header, const char* name, BinaryImage* image);

/// Result of an address lookup. Names point into the images' own tables or into tables kept for
/// the life of the process.
struct SymbolInfo {
  const char* imageName = nullptr;
  std::uintptr_t imageBase = 0;  ///< the image's header address
  const char* symbolName = nullptr;
  std::uintptr_t symbolAddress = 0;
};

/// Finds the image holding `address` and the nearest function or object symbol at or below it,
/// preferring one whose size covers the address. Looks in the image's dynamic symbol table in
/// memory and, when `prepareSymbolTables` has read it, in the file's full symbol table. True
/// when an image holds the address, also when no symbol is found (then `symbolName` is null).
/// Runs during a crash: no allocation, no locks.
bool lookupAddress(std::uintptr_t address, SymbolInfo* info);

/// For the crash path while every other thread is stopped, so that no image can come or go:
/// checks the kept layouts against the loader's list once, and the calls above then use them
/// without checking again (each check is a system call) until `releaseImageList`. When they do
/// not match, the calls above walk the loader's list as without it. Until the release, the
/// holding thread's `lookupAddress` calls also keep their answers, so that an address asked
/// again is not searched again.
/// Runs during a crash: no allocation, no locks.
void holdImageList();
void releaseImageList();

/// Reads the full symbol table (.symtab) of every loaded image's file, so that lookups also name
/// functions that are not exported, and keeps every image's layout (headers, loadable ranges,
/// build-id, dynamic symbol table) ready in memory, so that the calls above cost one system call
/// while the loader's list is as it was then. Normal time only: it allocates and takes the loader
/// lock. Call it again after libraries were loaded (until then the calls above read the images
/// that came or went through safe reads, as without it); tables and layouts once read stay for
/// the life of the process, because a crash handler may be reading them.
void prepareSymbolTables();

}  // namespace kernel
