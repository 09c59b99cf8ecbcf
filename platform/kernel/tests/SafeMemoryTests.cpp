#include "platform/kernel/SafeMemory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {

// Runs every case with both read methods: the kernel's cross-process copy and the probe pipe.
class SafeMemoryTests : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    kernel::useProbePipeForSafeReads(GetParam());
    page_ = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    // Three pages: readable, no access, unmapped.
    area_ = static_cast<char*>(::mmap(nullptr, 3 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area_, MAP_FAILED);
    std::memset(area_, 'a', page_);
    ASSERT_EQ(::mprotect(area_ + page_, page_, PROT_NONE), 0);
    ASSERT_EQ(::munmap(area_ + 2 * page_, page_), 0);
  }
  void TearDown() override {
    ::munmap(area_, 2 * page_);
    kernel::useProbePipeForSafeReads(false);
  }
  std::size_t page_ = 0;
  char* area_ = nullptr;
};

TEST_P(SafeMemoryTests, UnreadableRangesAnswerFalseWithoutASignal) {
  std::vector<char> out(2 * page_, 'x');
  struct Case {
    const char* name;
    const void* source;
    std::size_t length;
    bool readable;
  } cases[] = {
      {"null", nullptr, 8, false},
      {"no-access page", area_ + page_, 8, false},
      {"unmapped page", area_ + 2 * page_, 8, false},
      {"runs into a no-access page", area_ + page_ - 4, 8, false},
      {"last bytes of a readable page", area_ + page_ - 8, 8, true},
      {"whole readable page", area_, page_, true},
      {"nothing", nullptr, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(kernel::copySafely(c.source, out.data(), c.length), c.readable);
  }
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(out[page_ - 1], 'a');
}

TEST_P(SafeMemoryTests, CopiesMoreThanOnePipeChunk) {
  std::vector<char> source(20000);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i * 7);
  std::vector<char> out(source.size());
  ASSERT_TRUE(kernel::copySafely(source.data(), out.data(), source.size()));
  EXPECT_EQ(out, source);
}

TEST_P(SafeMemoryTests, ScatteredReadsCopyEveryPartOrFail) {
  // More parts than one system call takes, each from its own place.
  std::vector<std::vector<char>> sources(150);
  std::vector<std::vector<char>> outs(150);
  std::vector<kernel::SafeReadPart> parts;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    sources[i].assign(8 + i, static_cast<char>('A' + i % 26));
    outs[i].assign(sources[i].size(), 'x');
    parts.push_back({sources[i].data(), outs[i].data(), sources[i].size()});
  }
  ASSERT_TRUE(kernel::copySafelyEach(parts.data(), static_cast<int>(parts.size())));
  EXPECT_EQ(outs, sources);

  char out[8];
  for (const void* unreadable : {static_cast<const void*>(area_ + page_), static_cast<const void*>(area_ + 2 * page_)}) {
    for (std::size_t at : {std::size_t{0}, std::size_t{70}, parts.size() - 1}) {
      SCOPED_TRACE(at);
      auto broken = parts;
      broken[at] = {unreadable, out, sizeof out};
      EXPECT_FALSE(kernel::copySafelyEach(broken.data(), static_cast<int>(broken.size())));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, SafeMemoryTests, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ProbePipe" : "VmRead"; });

}  // namespace
