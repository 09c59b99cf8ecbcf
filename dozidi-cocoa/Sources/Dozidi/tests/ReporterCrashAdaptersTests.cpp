// The object adapters over the crash recorder: stack-entry mapping, machine contexts and thread
// names, binary images, and the thread inspector built on them.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashDefaultBinaryImageProvider.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashDefaultMachineContextWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashStackEntryMapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiFrame.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiThreadInspector.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"

std::atomic<bool> adaptersRelease{false};
std::atomic<int> adaptersWaiting{0};

// Exported, so that frames in them are named from the dynamic symbol table. Each spins, so that
// its thread is stopped inside it and not in a library call below.
extern "C" __attribute__((noinline)) void adaptersHelperWaiting() {
  pthread_setname_np(pthread_self(), "helper-wait");
  ++adaptersWaiting;
  while (!adaptersRelease.load(std::memory_order_relaxed)) asm volatile("" ::: "memory");
}

extern "C" __attribute__((noinline)) void adaptersMainWaiting(const std::atomic<bool>& done) {
  while (!done.load(std::memory_order_relaxed)) asm volatile("" ::: "memory");
}

namespace {

bool hasFrame(const DozidiThread& thread, const char* function) {
  if (!thread.stacktrace) return false;
  for (const auto& frame : thread.stacktrace->frames) {
    if (frame->function == function) return true;
  }
  return false;
}

// The helper thread is listed under its name with a stack in the function it waits in.
bool helperWalked(const std::vector<std::shared_ptr<DozidiThread>>& threads) {
  for (const auto& thread : threads) {
    if (thread->name == "helper-wait") return hasFrame(*thread, "adaptersHelperWaiting");
  }
  return false;
}

TEST(ReporterCrashAdaptersTests, StackEntriesBecomeFrames) {
  const DozidiCrashStackEntryMapper mapper(DozidiInAppLogic({"MyApp"}, {}));
  DozidiCrashStackEntry bare{};
  bare.address = 0x1234;
  auto frame = mapper.dozidiCrashStackEntryToDozidiFrame(bare);
  EXPECT_EQ(frame->instructionAddress, "0x0000000000001234");
  EXPECT_EQ(frame->symbolAddress, "0x0000000000000000");
  EXPECT_EQ(frame->imageAddress, "0x0000000000000000");
  // Without names the frame keeps its default function and has no package.
  EXPECT_EQ(frame->function, "<redacted>");
  EXPECT_FALSE(frame->package || frame->inApp);

  struct Case {
    const char* image;
    bool inApp;
  } cases[] = {{"/apps/MyApp.app/MyApp", true}, {"/usr/lib/x86_64-linux-gnu/libc.so.6", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    DozidiCrashStackEntry entry{};
    entry.imageName = c.image;
    entry.symbolName = "work";
    frame = mapper.dozidiCrashStackEntryToDozidiFrame(entry);
    EXPECT_EQ(frame->function, "work");
    EXPECT_EQ(frame->package, c.image);
    EXPECT_EQ(frame->inApp, foundation::Number::fromBool(c.inApp));
  }
}

TEST(ReporterCrashAdaptersTests, MachineContextListsNamedThreadsAndKnowsTheMainThread) {
  adaptersRelease = false;
  adaptersWaiting = 0;
  std::thread helper(adaptersHelperWaiting);
  while (adaptersWaiting < 1) std::this_thread::yield();

  DozidiCrashDefaultMachineContextWrapper wrapper;
  auto buffer = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(dozidicrashmc_contextSize()));
  auto* context = reinterpret_cast<DozidiCrashMachineContext*>(buffer.get());
  wrapper.fillContextForCurrentThread(context);
  std::vector<std::string> names;
  int mainThreads = 0;
  for (std::int32_t i = 0; i < wrapper.getThreadCount(context); ++i) {
    const std::uint64_t thread = wrapper.getThread(context, i);
    char name[128];
    wrapper.getThreadName(thread, name, sizeof name);
    names.emplace_back(name);
    mainThreads += wrapper.isMainThread(thread);
  }
  adaptersRelease = true;
  helper.join();

  EXPECT_EQ(mainThreads, 1);
  EXPECT_NE(std::find(names.begin(), names.end(), "helper-wait"), names.end());
  EXPECT_TRUE(wrapper.isMainThread(static_cast<std::uint64_t>(getpid())));
  std::uint64_t other = 0;
  std::thread([&other] { other = dozidicrashthread_self(); }).join();
  EXPECT_FALSE(wrapper.isMainThread(other));
}

TEST(ReporterCrashAdaptersTests, BinaryImagesWithAndWithoutBuildId) {
  void* library = dlopen(NO_BUILD_ID_FIXTURE, RTLD_NOW);
  ASSERT_NE(library, nullptr) << dlerror();
  DozidiCrashDefaultBinaryImageProvider provider;
  const std::int64_t count = provider.getImageCount();
  ASSERT_GT(count, 1);
  int withoutBuildId = 0;
  int withBuildId = 0;
  for (std::int64_t i = 0; i < count; ++i) {
    const DozidiBinaryImage image = provider.getBinaryImage(i);
    if (image.name == nullptr) continue;
    if (std::strstr(image.name, "NoBuildIdFixture") != nullptr) {
      withoutBuildId += image.uuid == nullptr;
      EXPECT_FALSE(DozidiDebugImageProvider::convertUUID(image.uuid));
    } else if (std::strstr(image.name, "libdozidi") != nullptr) {
      const std::optional<std::string> uuid = DozidiDebugImageProvider::convertUUID(image.uuid);
      ASSERT_TRUE(uuid);
      EXPECT_EQ(uuid->size(), 36u);
      withBuildId += image.size > 0;
    }
  }
  EXPECT_EQ(withoutBuildId, 1);
  EXPECT_EQ(withBuildId, 1);
  const DozidiBinaryImage beyond = provider.getBinaryImage(count + 5);
  EXPECT_EQ(beyond.address, 0u);
  EXPECT_EQ(beyond.name, nullptr);
  dlclose(library);
}

TEST(ReporterCrashAdaptersTests, AnEventTakenOnASecondThreadListsEveryThreadWithItsStack) {
  adaptersRelease = false;
  adaptersWaiting = 0;
  std::thread helper(adaptersHelperWaiting);
  while (adaptersWaiting < 1) std::this_thread::yield();

  auto builder = std::make_shared<DozidiStacktraceBuilder>(
      std::make_shared<DozidiCrashStackEntryMapper>(DozidiInAppLogic({"ReporterCrashAdaptersTests"}, {})));
  std::vector<std::shared_ptr<DozidiThread>> threads;
  std::atomic<bool> done{false};
  std::thread capturer([&] {
    pthread_setname_np(pthread_self(), "capturer");
    // A thread that misses the kernel layer's stop deadline on a loaded machine has no stack
    // this time: the walk is taken again, a few times at most.
    for (int attempt = 0; attempt < 5; ++attempt) {
      threads = DozidiDefaultThreadInspector(builder).getCurrentThreadsWithStackTrace();
      if (!threads.empty() && hasFrame(*threads[0], "adaptersMainWaiting") && helperWalked(threads)) break;
    }
    done = true;
  });
  adaptersMainWaiting(done);
  capturer.join();
  adaptersRelease = true;
  helper.join();

  ASSERT_GE(threads.size(), 3u);
  EXPECT_EQ(threads[0]->current, false);
  EXPECT_TRUE(hasFrame(*threads[0], "adaptersMainWaiting"));
  EXPECT_TRUE(helperWalked(threads));
  bool sawCapturer = false;
  for (const auto& thread : threads) {
    if (thread->name == "capturer") sawCapturer = thread->current == true;
  }
  EXPECT_TRUE(sawCapturer);
}

}  // namespace
