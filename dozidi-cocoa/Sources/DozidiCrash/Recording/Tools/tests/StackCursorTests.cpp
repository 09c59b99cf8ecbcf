#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashDynamicLinker.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"
#include "platform/kernel/BinaryImages.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {
std::atomic<bool> gParked{false};
// Read with the builtin, so the spinning thread stays inside the parked function also in an
// unoptimised build.
bool gLeave = false;
}  // namespace

// The test program exports its symbols, so these are named from its dynamic symbol table.
extern "C" __attribute__((noinline)) void dz_test_signal_parked() { gParked = true; }

// Not a leaf (it calls out before spinning), so it sets up its own frame.
extern "C" __attribute__((noinline)) void dz_test_parked_here() {
  dz_test_signal_parked();
  while (!__atomic_load_n(&gLeave, __ATOMIC_RELAXED)) {
  }
}

extern "C" __attribute__((noinline)) void dz_test_parking_caller() {
  dz_test_parked_here();
  asm volatile("");  // keeps the call from becoming a jump, so this frame stays on the stack
}

// Parks below `depth` frames of 256 bytes each: a stack deeper than what a stopping thread
// copies of itself.
extern "C" __attribute__((noinline)) void dz_test_deep(int depth) {
  volatile unsigned char padding[256];
  padding[0] = static_cast<unsigned char>(depth);
  if (depth == 0) {
    dz_test_parked_here();
  } else {
    dz_test_deep(depth - 1);
  }
  asm volatile("" : : "r"(padding) : "memory");
}

extern "C" __attribute__((noinline)) void dz_test_deep_caller() {
  dz_test_deep(40);
  asm volatile("");
}

extern "C" __attribute__((noinline)) int dz_test_first_function(int x) { return x * 3 + 1; }
extern "C" __attribute__((noinline)) int dz_test_second_function(int x) { return x * 5 + 2; }

namespace {

std::vector<std::string> symbolNames(DozidiCrashStackCursor& cursor) {
  std::vector<std::string> names;
  while (cursor.advanceCursor(&cursor)) {
    cursor.symbolicate(&cursor);
    names.push_back(cursor.stackEntry.symbolName != nullptr ? cursor.stackEntry.symbolName : "");
  }
  return names;
}

// Walks the stack of a thread parked by `body`, while it is suspended.
std::vector<std::string> parkedThreadFrames(void (*body)(), int maxDepth, bool* gaveUp) {
  gParked = false;
  __atomic_store_n(&gLeave, false, __ATOMIC_RELAXED);
  std::atomic<DozidiCrashThread> id{0};
  std::thread parked([&] {
    id = dozidicrashthread_self();
    body();
  });
  while (!gParked.load()) std::this_thread::yield();
  DozidiCrashThread* threads = nullptr;
  int count = 0;
  dozidicrashmc_suspendEnvironment(&threads, &count);
  DozidiCrashMachineContext context;
  dozidicrashmc_getContextForThread(id, &context, false);
  DozidiCrashStackCursor cursor;
  dozidicrashsc_initWithMachineContext(&cursor, maxDepth, &context);
  std::vector<std::string> names = symbolNames(cursor);
  *gaveUp = cursor.state.hasGivenUp;
  dozidicrashmc_resumeEnvironment(threads, count);
  __atomic_store_n(&gLeave, true, __ATOMIC_RELAXED);
  parked.join();
  return names;
}

TEST(StackCursorTests, AStackDeeperThanTheStoppedThreadsCopyIsWalkedToItsCaller) {
  bool gaveUp = true;
  const std::vector<std::string> names = parkedThreadFrames(dz_test_deep_caller, 150, &gaveUp);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names[0], "dz_test_parked_here");
  EXPECT_EQ(std::count(names.begin(), names.end(), "dz_test_deep"), 41);
  EXPECT_NE(std::find(names.begin(), names.end(), "dz_test_deep_caller"), names.end()) << ::testing::PrintToString(names);
  EXPECT_FALSE(gaveUp);
}

TEST(StackCursorTests, AParkedThreadShowsItsFunctionFirst) {
  bool gaveUp = true;
  const std::vector<std::string> names = parkedThreadFrames(dz_test_parking_caller, 100, &gaveUp);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names[0], "dz_test_parked_here");
  EXPECT_NE(std::find(names.begin(), names.end(), "dz_test_parking_caller"), names.end())
      << ::testing::PrintToString(names);
  EXPECT_FALSE(gaveUp);
}

TEST(StackCursorTests, ListCursorStopsAtAZeroEntry) {
  const std::uintptr_t addresses[] = {0x1000, 0, 0x2000};
  DozidiCrashStackCursor cursor;
  dozidicrashsc_initWithBacktrace(&cursor, addresses, 3, 0);
  ASSERT_TRUE(cursor.advanceCursor(&cursor));
  EXPECT_EQ(cursor.stackEntry.address, 0x1000u);
  EXPECT_FALSE(cursor.advanceCursor(&cursor));

  // Skipped entries are not yielded.
  dozidicrashsc_initWithBacktrace(&cursor, addresses + 2, 1, 1);
  EXPECT_FALSE(cursor.advanceCursor(&cursor));
}

TEST(StackCursorTests, AnEndlessFrameChainStopsAtTheLimit) {
  // A frame record that names itself as its caller.
  alignas(16) static std::uintptr_t loop[2];
  loop[0] = reinterpret_cast<std::uintptr_t>(loop);
  loop[1] = 0x401000;
  DozidiCrashMachineContext context{};
  context.isSignalContext = true;
  context.machineContext.gregs[REG_RIP] = 0x401000;
  context.machineContext.gregs[REG_RBP] = static_cast<greg_t>(reinterpret_cast<std::uintptr_t>(loop));
  DozidiCrashStackCursor cursor;
  dozidicrashsc_initWithMachineContext(&cursor, 100, &context);
  int frames = 0;
  while (cursor.advanceCursor(&cursor)) ++frames;
  EXPECT_EQ(frames, 100);
  EXPECT_TRUE(cursor.state.hasGivenUp);

  // An unreadable frame pointer ends the walk without giving up.
  context.machineContext.gregs[REG_RBP] = 8;
  dozidicrashsc_initWithMachineContext(&cursor, 100, &context);
  frames = 0;
  while (cursor.advanceCursor(&cursor)) ++frames;
  EXPECT_EQ(frames, 1);
  EXPECT_FALSE(cursor.state.hasGivenUp);
}

TEST(StackCursorTests, FrameRecordsAreFollowedToTheEndOfTheReadableStack) {
  // A chain of records spread over a page, the last one ending where the page does, and the
  // page above it not readable.
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  auto* area = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(area, MAP_FAILED);
  ASSERT_EQ(mprotect(area + page, page, PROT_NONE), 0);
  const std::vector<std::size_t> offsets = {0, 48, 576, 1600, page - 16};
  std::vector<std::uint64_t> expected = {0x401000};
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    std::uintptr_t record[2] = {reinterpret_cast<std::uintptr_t>(area + (i + 1 < offsets.size() ? offsets[i + 1] : page)),
                                0x402000 + i * 0x10};
    std::memcpy(area + offsets[i], record, sizeof record);
    expected.push_back(record[1]);
  }
  DozidiCrashMachineContext context{};
  context.isSignalContext = true;
  context.machineContext.gregs[REG_RIP] = 0x401000;
  context.machineContext.gregs[REG_RBP] = static_cast<greg_t>(reinterpret_cast<std::uintptr_t>(area));
  DozidiCrashStackCursor cursor;
  dozidicrashsc_initWithMachineContext(&cursor, 100, &context);
  std::vector<std::uint64_t> walked;
  while (cursor.advanceCursor(&cursor)) walked.push_back(cursor.stackEntry.address);
  EXPECT_EQ(walked, expected);
  EXPECT_FALSE(cursor.state.hasGivenUp);
  munmap(area, 2 * page);
}

TEST(StackCursorTests, FirstFrameIsNamedAtItsOwnAddressAndReturnAddressesBeforeThem) {
  auto second = reinterpret_cast<std::uintptr_t>(&dz_test_second_function);
  // A thread stopped on the first instruction of a function is in that function, even though
  // the byte before belongs to another one.
  DozidiCrashMachineContext context{};
  context.isSignalContext = true;
  context.machineContext.gregs[REG_RIP] = static_cast<greg_t>(second);
  DozidiCrashStackCursor cursor;
  dozidicrashsc_initWithMachineContext(&cursor, 10, &context);
  ASSERT_TRUE(cursor.advanceCursor(&cursor));
  ASSERT_TRUE(cursor.symbolicate(&cursor));
  EXPECT_STREQ(cursor.stackEntry.symbolName, "dz_test_second_function");
  EXPECT_EQ(cursor.stackEntry.symbolAddress, second);

  // A return address just past a function's last call belongs to that function.
  const std::uintptr_t returns[] = {second + 1};
  dozidicrashsc_initWithBacktrace(&cursor, returns, 1, 0);
  ASSERT_TRUE(cursor.advanceCursor(&cursor));
  ASSERT_TRUE(cursor.symbolicate(&cursor));
  EXPECT_STREQ(cursor.stackEntry.symbolName, "dz_test_second_function");

  // The marker has a fixed name and no image; an address in no image fails and clears the entry.
  cursor.stackEntry.address = kDozidiCrashAsyncMarker;
  ASSERT_TRUE(dozidicrashsc_symbolicate(&cursor));
  EXPECT_STREQ(cursor.stackEntry.symbolName, "__dozidicrash__async_marker__");
  EXPECT_EQ(cursor.stackEntry.imageName, nullptr);
  cursor.stackEntry.address = 0x20;
  EXPECT_FALSE(dozidicrashsc_symbolicate(&cursor));
  EXPECT_EQ(cursor.stackEntry.symbolName, nullptr);
}

TEST(StackCursorTests, OwnStackStartsAtTheCaller) {
  // The test body is a local symbol: only the file's full symbol table names it.
  kernel::prepareSymbolTables();
  DozidiCrashStackCursor cursor;
  dozidicrashsc_initSelfThread(&cursor, 0);
  ASSERT_TRUE(cursor.advanceCursor(&cursor));
  ASSERT_TRUE(cursor.symbolicate(&cursor));
  ASSERT_NE(cursor.stackEntry.symbolName, nullptr);
  EXPECT_NE(std::string(cursor.stackEntry.symbolName).find("OwnStackStartsAtTheCaller"), std::string::npos)
      << cursor.stackEntry.symbolName;
}

TEST(DynamicLinkerTests, ImageRecordsAndLookups) {
  DozidiCrashBinaryImage program;
  ASSERT_TRUE(dozidicrashdl_getBinaryImage(0, &program));
  char path[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", path, sizeof path - 1), 0);
  EXPECT_STREQ(program.name, path);
  EXPECT_EQ(program.cpuType, 0x1000007);
  EXPECT_EQ(program.cpuSubType, 3);
  EXPECT_EQ(program.majorVersion, 0u);
  EXPECT_EQ(program.crashInfoMessage, nullptr);
  ASSERT_NE(program.uuid, nullptr);
  kernel::BinaryImage kernelImage;
  ASSERT_TRUE(kernel::imageAtIndex(0, &kernelImage));
  EXPECT_EQ(std::memcmp(program.uuid, kernelImage.uuid, 16), 0);

  DozidiCrashBinaryImage again;
  ASSERT_TRUE(dozidicrashdl_getBinaryImageForHeader(reinterpret_cast<const void*>(program.address), path, &again));
  EXPECT_EQ(again.size, program.size);
  EXPECT_EQ(again.uuid, program.uuid);

  EXPECT_EQ(dozidicrashdl_imageNamed(path, true), 0u);
  EXPECT_EQ(dozidicrashdl_imageUUID(path, true), program.uuid);
  EXPECT_NE(dozidicrashdl_imageNamed("libc.so", false), 0xFFFFFFFFu);
  EXPECT_EQ(dozidicrashdl_imageNamed("libc.so", true), 0xFFFFFFFFu);
  EXPECT_EQ(dozidicrashdl_imageNamed("no-such-image", false), 0xFFFFFFFFu);
  EXPECT_EQ(dozidicrashdl_imageNamed(nullptr, false), 0xFFFFFFFFu);
  EXPECT_EQ(dozidicrashdl_imageUUID("no-such-image", false), nullptr);
  EXPECT_EQ(dozidicrashdl_getBinaryImage(static_cast<int>(dozidicrashdl_imageCount()), &again), false);

  Dl_info info;
  ASSERT_TRUE(dozidicrashdl_dladdr(reinterpret_cast<std::uintptr_t>(&dz_test_first_function) + 3, &info));
  EXPECT_STREQ(info.dli_sname, "dz_test_first_function");
  EXPECT_STREQ(info.dli_fname, path);
  EXPECT_EQ(info.dli_fbase, reinterpret_cast<void*>(program.address));
}

TEST(DynamicLinkerTests, UUIDText) {
  const std::uint8_t bytes[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
  char text[37];
  std::memset(text, 'x', sizeof text);
  dozidicrashdl_uuidToString(bytes, text);
  EXPECT_STREQ(text, "01234567-89AB-CDEF-FEDC-BA9876543210");
}

}  // namespace
