#include "platform/kernel/ImportRebinding.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

void* gReplaced = nullptr;

int replacement(int x) { return x + 100; }

struct Search {
  const char* path;
  dl_phdr_info info;
  bool found;
};

dl_phdr_info imageNamed(const char* path) {
  Search search{path, {}, false};
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        if (std::strcmp(info->dlpi_name, s->path) != 0) return 0;
        s->info = *info;
        s->found = true;
        return 1;
      },
      &search);
  EXPECT_TRUE(search.found) << path;
  return search.info;
}

// The permissions column of /proc/self/maps for the mapping holding `address`.
std::string permissionsAt(const void* address) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  auto target = reinterpret_cast<std::uintptr_t>(address);
  while (std::getline(maps, line)) {
    std::uintptr_t start = 0, end = 0;
    char permissions[5] = {};
    if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, permissions) == 3 && target >= start && target < end) {
      return permissions;
    }
  }
  return "";
}

TEST(ImportRebindingTests, RedirectsOneLibrarysCallAndRestoresReadOnlySlots) {
  void* target = dlopen(KERNEL_IMPORT_TARGET, RTLD_NOW | RTLD_GLOBAL);
  void* caller = dlopen(KERNEL_IMPORT_CALLER, RTLD_NOW);
  ASSERT_NE(target, nullptr) << dlerror();
  ASSERT_NE(caller, nullptr) << dlerror();
  auto call = reinterpret_cast<int (*)(int)>(dlsym(caller, "kernel_import_caller"));
  ASSERT_EQ(call(1), 2);

  dl_phdr_info image = imageNamed(KERNEL_IMPORT_CALLER);
  int rewritten = kernel::rebindImports(
      image,
      [](const char* name, void* current, void*) -> void* {
        if (std::strcmp(name, "kernel_import_target") != 0) return nullptr;
        gReplaced = current;
        return reinterpret_cast<void*>(&replacement);
      },
      nullptr);
  EXPECT_EQ(rewritten, 1);
  EXPECT_EQ(call(1), 101);
  EXPECT_EQ(gReplaced, dlsym(target, "kernel_import_target"));
  EXPECT_EQ(reinterpret_cast<int (*)(int)>(gReplaced)(1), 2);

  // The slot sits in the loader's read-only-after-relocation area, which must stay read-only.
  bool checked = false;
  for (int i = 0; i < image.dlpi_phnum; ++i) {
    if (image.dlpi_phdr[i].p_type != PT_GNU_RELRO) continue;
    std::uintptr_t start = image.dlpi_addr + image.dlpi_phdr[i].p_vaddr;
    for (std::uintptr_t page = start & ~std::uintptr_t{4095}; page < start + image.dlpi_phdr[i].p_memsz; page += 4096) {
      EXPECT_EQ(permissionsAt(reinterpret_cast<void*>(page)).substr(0, 2), "r-") << std::hex << page;
    }
    checked = true;
  }
  EXPECT_TRUE(checked) << "the caller fixture was linked without RELRO";

  // Another image's calls are not affected.
  auto direct = reinterpret_cast<int (*)(int)>(dlsym(target, "kernel_import_target"));
  EXPECT_EQ(direct(1), 2);
  dlclose(caller);
  dlclose(target);
}

std::vector<std::string> gAsked;

void* chooseTarget(const char* name, void* current, void*) {
  gAsked.emplace_back(name);
  if (std::strcmp(name, "kernel_import_target") != 0) return nullptr;
  gReplaced = current;
  return reinterpret_cast<void*>(&replacement);
}

// The named pass finds the symbol through whichever hash table the image has, whether the image
// imports it or defines it, and rewrites call and data slots alike; it asks about no other name.
TEST(ImportRebindingTests, NamedPassRewritesEveryKindOfSlotAndAsksOnlyAboutItsNames) {
  void* target = dlopen(KERNEL_IMPORT_TARGET, RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(target, nullptr) << dlerror();
  void* original = dlsym(target, "kernel_import_target");
  const char* const names[] = {"kernel_import_target", "kernel_import_absent"};
  struct Case {
    const char* path;
    int mode;
  };
  const Case cases[] = {
      {KERNEL_IMPORT_CALLER, RTLD_NOW},              // call slot bound at load, GNU hash table
      {KERNEL_IMPORT_CALLER_LAZY, RTLD_LAZY},        // call slot not yet bound, classic hash table
      {KERNEL_IMPORT_CALLER_DATA, RTLD_NOW},         // data slot, no call stub
      {KERNEL_IMPORT_INTERPOSING_CALLER, RTLD_LAZY}, // the image defines the symbol it calls
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    void* caller = dlopen(c.path, c.mode);
    ASSERT_NE(caller, nullptr) << dlerror();
    auto call = reinterpret_cast<int (*)(int)>(dlsym(caller, "kernel_import_caller"));
    gAsked.clear();
    gReplaced = nullptr;
    EXPECT_EQ(kernel::rebindNamedImports(imageNamed(c.path), names, 2, chooseTarget, nullptr), 1);
    EXPECT_EQ(gAsked, std::vector<std::string>{"kernel_import_target"});
    EXPECT_EQ(gReplaced, original);
    // Twice: a lazily bound slot must not be bound again by the loader's stub.
    EXPECT_EQ(call(1), 101);
    EXPECT_EQ(call(2), 102);
    dlclose(caller);
  }

  // An image without the names is not walked: nothing is asked.
  void* other = dlopen(KERNEL_SYMBOL_FIXTURE, RTLD_NOW);
  ASSERT_NE(other, nullptr) << dlerror();
  gAsked.clear();
  EXPECT_EQ(kernel::rebindNamedImports(imageNamed(KERNEL_SYMBOL_FIXTURE), names, 2, chooseTarget, nullptr), 0);
  EXPECT_TRUE(gAsked.empty());
  dlclose(other);
  dlclose(target);
}

}  // namespace
