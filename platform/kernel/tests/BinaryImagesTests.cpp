#include "platform/kernel/BinaryImages.h"

#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The first 16 bytes of the GNU build-id note, read from the file on disk through its program
// headers: an oracle independent of the in-memory reading under test.
std::vector<std::uint8_t> buildIdFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < sizeof(Elf64_Ehdr)) return {};
  Elf64_Ehdr header;
  std::memcpy(&header, bytes.data(), sizeof header);
  for (int i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment;
    std::memcpy(&segment, bytes.data() + header.e_phoff + i * sizeof segment, sizeof segment);
    if (segment.p_type != PT_NOTE) continue;
    for (std::size_t at = segment.p_offset; at + sizeof(Elf64_Nhdr) <= segment.p_offset + segment.p_filesz;) {
      Elf64_Nhdr note;
      std::memcpy(&note, bytes.data() + at, sizeof note);
      std::size_t name = at + sizeof note;
      std::size_t desc = name + ((note.n_namesz + 3) & ~3u);
      if (note.n_type == NT_GNU_BUILD_ID && std::strcmp(bytes.data() + name, "GNU") == 0) {
        return std::vector<std::uint8_t>(bytes.begin() + desc, bytes.begin() + desc + std::min<std::size_t>(16, note.n_descsz));
      }
      at = desc + ((note.n_descsz + 3) & ~3u);
    }
  }
  return {};
}

// Slide of every loaded image, by the loader's own (locking) walk.
std::map<std::uintptr_t, std::string> loaderImages() {
  std::map<std::uintptr_t, std::string> images;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* out) {
        (*static_cast<std::map<std::uintptr_t, std::string>*>(out))[info->dlpi_addr] = info->dlpi_name;
        return 0;
      },
      &images);
  return images;
}

std::map<std::uintptr_t, std::string> walkedImages() {
  std::map<std::uintptr_t, std::string> images;
  int count = kernel::imageCount();
  for (int i = 0; i < count; ++i) {
    kernel::BinaryImage image;
    EXPECT_TRUE(kernel::imageAtIndex(i, &image)) << "image " << i;
    images[image.slide] = image.name;
  }
  return images;
}

TEST(BinaryImagesTests, TheWalkMatchesTheLoaderAndSeesLaterLibraries) {
  auto expected = loaderImages();
  auto walked = walkedImages();
  ASSERT_EQ(walked.size(), expected.size());
  for (const auto& [slide, name] : expected) {
    ASSERT_TRUE(walked.count(slide)) << name;
    if (!name.empty()) {
      EXPECT_EQ(walked[slide], name);
    }
  }
  kernel::BinaryImage none;
  EXPECT_FALSE(kernel::imageAtIndex(kernel::imageCount(), &none));

  void* handle = dlopen(KERNEL_SYMBOL_FIXTURE, RTLD_NOW);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto after = walkedImages();
  EXPECT_EQ(after.size(), expected.size() + 1);
  bool seen = false;
  for (const auto& [slide, name] : after) seen = seen || name == KERNEL_SYMBOL_FIXTURE;
  EXPECT_TRUE(seen);
  dlclose(handle);
}

TEST(BinaryImagesTests, TheProgramIsFirstWithItsBuildIdAsUUID) {
  kernel::BinaryImage program;
  ASSERT_TRUE(kernel::imageAtIndex(0, &program));
  char path[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", path, sizeof path - 1), 0);
  EXPECT_STREQ(program.name, path);
  auto expected = buildIdFromFile(path);
  ASSERT_EQ(expected.size(), 16u) << "the test program was linked without a build-id";
  ASSERT_TRUE(program.hasUUID);
  EXPECT_EQ(std::vector<std::uint8_t>(program.uuid, program.uuid + 16), expected);
  EXPECT_EQ(program.machine, EM_X86_64);
  EXPECT_GT(program.size, 0u);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(program.header), ELFMAG, SELFMAG), 0);
}

TEST(BinaryImagesTests, LooksUpExportedAndFileOnlySymbols) {
  void* handle = dlopen(KERNEL_SYMBOL_FIXTURE, RTLD_NOW);
  ASSERT_NE(handle, nullptr) << dlerror();
  for (int n = 0; n < 10; ++n) {
    std::string name = "kernel_fixture_function_" + std::to_string(n);
    SCOPED_TRACE(name);
    auto address = reinterpret_cast<std::uintptr_t>(dlsym(handle, name.c_str()));
    ASSERT_NE(address, 0u);
    kernel::SymbolInfo info;
    ASSERT_TRUE(kernel::lookupAddress(address + 3, &info));
    ASSERT_NE(info.symbolName, nullptr);
    EXPECT_STREQ(info.symbolName, name.c_str());
    EXPECT_EQ(info.symbolAddress, address);
    EXPECT_STREQ(info.imageName, KERNEL_SYMBOL_FIXTURE);
  }

  // A function the library does not export is named only once the file's table was read.
  auto hidden = reinterpret_cast<std::uintptr_t>(
      reinterpret_cast<void* (*)()>(dlsym(handle, "kernel_fixture_hidden_address"))());
  kernel::SymbolInfo info;
  // Before, its exported neighbours' sizes show that none of them holds it: no name at all.
  ASSERT_TRUE(kernel::lookupAddress(hidden + 1, &info));
  EXPECT_EQ(info.symbolName, nullptr) << info.symbolName;
  kernel::prepareSymbolTables();
  ASSERT_TRUE(kernel::lookupAddress(hidden + 1, &info));
  ASSERT_NE(info.symbolName, nullptr);
  EXPECT_NE(std::strstr(info.symbolName, "hiddenHelper"), nullptr) << info.symbolName;
  EXPECT_EQ(info.symbolAddress, hidden);

  // An address in no image.
  EXPECT_FALSE(kernel::lookupAddress(16, &info));
  dlclose(handle);
}

// The walk sees the images the loader lists, by slide, under the loader's names (the loader
// lists the program under an empty name).
bool walkMatchesLoader() {
  auto expected = loaderImages();
  auto walked = walkedImages();
  if (walked.size() != expected.size()) return false;
  for (const auto& [slide, name] : expected) {
    if (!walked.count(slide) || (!name.empty() && walked[slide] != name)) return false;
  }
  return true;
}

using Lookup = std::tuple<bool, std::string, std::uintptr_t, std::string, std::uintptr_t>;

Lookup lookUp(std::uintptr_t address) {
  kernel::SymbolInfo info;
  bool found = kernel::lookupAddress(address, &info);
  return {found, info.imageName != nullptr ? info.imageName : "", info.imageBase,
          info.symbolName != nullptr ? info.symbolName : "", info.symbolAddress};
}

// Addresses around some of the C library's exported functions: that library has no full symbol
// table on disk, so its frames are named from its dynamic symbols alone.
std::vector<Lookup> lookUpAroundLibraryFunctions() {
  std::vector<Lookup> found;
  for (const char* name : {"strlen", "malloc", "qsort", "pthread_create", "fopen"}) {
    auto start = reinterpret_cast<std::uintptr_t>(dlsym(RTLD_DEFAULT, name));
    EXPECT_NE(start, 0u) << name;
    for (std::uintptr_t address = start - 96; address < start + 400; address += 7) found.push_back(lookUp(address));
  }
  return found;
}

// Layouts and symbols kept ready must give what a walk of the loader's list gives, and must not
// be trusted once a library came or went until they are read again.
TEST(BinaryImagesTests, KeptLayoutsFollowLibrariesThatComeAndGo) {
  kernel::prepareSymbolTables();
  const auto kept = lookUpAroundLibraryFunctions();
  EXPECT_TRUE(walkMatchesLoader());

  void* handle = dlopen(KERNEL_SYMBOL_FIXTURE, RTLD_NOW);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto function = reinterpret_cast<std::uintptr_t>(dlsym(handle, "kernel_fixture_function_4"));
  auto inner = reinterpret_cast<std::uintptr_t>(dlsym(handle, "kernel_fixture_inner"));
  ASSERT_NE(inner, 0u);
  auto named = [&] {
    Lookup found = lookUp(function + 2);
    Lookup pastInner = lookUp(inner + 8);
    return std::get<0>(found) && std::get<1>(found) == KERNEL_SYMBOL_FIXTURE &&
           std::get<3>(found) == "kernel_fixture_function_4" && std::get<3>(pastInner) == "kernel_fixture_outer";
  };
  // Loaded after the layouts were kept: seen all the same, also when the list is held (the
  // check made on holding finds the kept layouts stale).
  EXPECT_TRUE(walkMatchesLoader());
  EXPECT_TRUE(named());
  EXPECT_EQ(lookUpAroundLibraryFunctions(), kept);
  kernel::holdImageList();
  EXPECT_TRUE(walkMatchesLoader());
  EXPECT_TRUE(named());
  kernel::releaseImageList();

  kernel::prepareSymbolTables();
  for (bool held : {false, true}) {
    if (held) kernel::holdImageList();
    EXPECT_TRUE(walkMatchesLoader()) << held;
    EXPECT_TRUE(named()) << held;
    EXPECT_EQ(lookUpAroundLibraryFunctions(), kept) << held;
  }
  kernel::releaseImageList();

  // Unloaded after the hold was released: no longer reported, and its old addresses belong to
  // no image.
  ASSERT_EQ(dlclose(handle), 0);
  EXPECT_TRUE(walkMatchesLoader());
  EXPECT_FALSE(std::get<0>(lookUp(function + 2)));
  EXPECT_EQ(lookUpAroundLibraryFunctions(), kept);
}

// While the list is held, lookups keep their answers: asked again, or asked for another address
// that shares a memo entry, each gives what the loader's walk gives, and nothing kept outlives
// the hold (the library is gone after it).
TEST(BinaryImagesTests, LookupsKeptWhileHeldAnswerAsTheWalk) {
  // A library loaded now makes any list kept before stale, so the lookups below walk the loader.
  void* handle = dlopen(KERNEL_SYMBOL_FIXTURE, RTLD_NOW);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto function = reinterpret_cast<std::uintptr_t>(dlsym(handle, "kernel_fixture_function_7"));
  ASSERT_NE(function, 0u);
  const auto walked = lookUpAroundLibraryFunctions();
  const Lookup walkedFunction = lookUp(function + 5);
  EXPECT_EQ(std::get<3>(walkedFunction), "kernel_fixture_function_7");

  kernel::holdImageList();
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(lookUpAroundLibraryFunctions(), walked) << round;
    EXPECT_EQ(lookUp(function + 5), walkedFunction) << round;
  }
  kernel::releaseImageList();

  ASSERT_EQ(dlclose(handle), 0);
  kernel::holdImageList();
  EXPECT_FALSE(std::get<0>(lookUp(function + 5)));
  EXPECT_EQ(lookUpAroundLibraryFunctions(), walked);
  kernel::releaseImageList();
}

// One library unloaded and another loaded in its place leave the list as long as it was, its
// last node possibly at the same address: the kept list must still be found stale, held or not,
// and in a forked child too (it checks without the parent's means).
TEST(BinaryImagesTests, AKeptListIsStaleOnceOneLibraryLeftAndAnotherCame) {
  void* leaving = dlopen(KERNEL_IMPORT_TARGET, RTLD_NOW);
  ASSERT_NE(leaving, nullptr) << dlerror();
  kernel::prepareSymbolTables();
  const int kept = kernel::imageCount();
  ASSERT_EQ(dlclose(leaving), 0);
  void* coming = dlopen(KERNEL_SYMBOL_FIXTURE, RTLD_NOW);
  ASSERT_NE(coming, nullptr) << dlerror();
  const auto function = reinterpret_cast<std::uintptr_t>(dlsym(coming, "kernel_fixture_function_4"));
  EXPECT_EQ(kernel::imageCount(), kept);
  for (bool held : {false, true}) {
    if (held) kernel::holdImageList();
    EXPECT_TRUE(walkMatchesLoader()) << held;
    EXPECT_EQ(std::get<1>(lookUp(function + 2)), KERNEL_SYMBOL_FIXTURE) << held;
    kernel::releaseImageList();
  }

  kernel::prepareSymbolTables();
  const pid_t child = fork();
  if (child == 0) {
    const bool sound = dlclose(coming) == 0 && walkMatchesLoader() && !std::get<0>(lookUp(function + 2));
    _exit(sound ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(walkMatchesLoader());
  dlclose(coming);
}

// Every field of an image's record, to compare two walks record by record.
using Record = std::tuple<std::uintptr_t, std::uintptr_t, std::uint64_t, std::uint64_t, std::string,
                          std::vector<std::uint8_t>, std::uintptr_t, std::uint16_t>;

bool collectRecord(const kernel::BinaryImage& image, void* into) {
  std::vector<std::uint8_t> uuid = image.hasUUID ? std::vector<std::uint8_t>(image.uuid, image.uuid + 16) : std::vector<std::uint8_t>{};
  static_cast<std::vector<Record>*>(into)->emplace_back(image.header, image.slide, image.vmAddress, image.size, image.name,
                                                         uuid, image.uuidAddress, image.machine);
  return true;
}

// Last in this file: it reads the fixture's full symbol table, which the lookups above expect
// unread. The walk made under the loader's lock reads memory directly; the list it keeps and what it
// visits must be what the safe walk of a crash reads, field for field.
TEST(BinaryImagesTests, TheWalkUnderTheLoaderLockGivesTheSafeWalksRecords) {
  // A library loaded now makes any layouts kept before stale: forEachImage walks through safe reads.
  void* handle = dlopen(KERNEL_SYMBOL_FIXTURE, RTLD_NOW);
  ASSERT_NE(handle, nullptr) << dlerror();
  std::vector<Record> safe, loaded, kept;
  kernel::forEachImage(collectRecord, &safe);
  ASSERT_TRUE(kernel::forEachLoadedImage(collectRecord, &loaded));
  ASSERT_EQ(safe.size(), loaderImages().size());
  EXPECT_EQ(loaded, safe);
  kernel::prepareSymbolTables();
  kernel::forEachImage(collectRecord, &kept);
  EXPECT_EQ(kept, safe);

  // A visit that returns false ends the walk.
  std::vector<Record> two;
  ASSERT_TRUE(kernel::forEachLoadedImage(
      [](const kernel::BinaryImage& image, void* into) {
        collectRecord(image, into);
        return static_cast<std::vector<Record>*>(into)->size() < 2;
      },
      &two));
  EXPECT_EQ(two, std::vector<Record>(safe.begin(), safe.begin() + 2));
  dlclose(handle);
}

}  // namespace
