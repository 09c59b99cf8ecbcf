#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFileUtils.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFormat.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashID.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"

namespace fs = std::filesystem;

namespace {

class CrashFileUtilsTests : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("crash-files-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void write(const std::string& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

  fs::path dir_;
};

TEST_F(CrashFileUtilsTests, BufferedWriterKeepsEveryByteInOrder) {
  const std::string file = path("report.json");
  char buffer[1024];
  DozidiCrashBufferedWriter writer;
  ASSERT_TRUE(dozidicrashfu_openBufferedWriter(&writer, file.c_str(), buffer, sizeof buffer));
  const std::string head(100, 'h');
  const std::string big(2000, 'b');  // larger than the buffer: written straight after what was held
  const std::string tail(1000, 't');
  EXPECT_TRUE(dozidicrashfu_writeBufferedWriter(&writer, head.data(), static_cast<int>(head.size())));
  EXPECT_TRUE(dozidicrashfu_writeBufferedWriter(&writer, big.data(), static_cast<int>(big.size())));
  EXPECT_EQ(writer.position, 0);
  EXPECT_TRUE(dozidicrashfu_writeBufferedWriter(&writer, tail.data(), static_cast<int>(tail.size())));
  EXPECT_TRUE(dozidicrashfu_writeBufferedWriter(&writer, "!", 1));  // forces a flush of the tail
  EXPECT_TRUE(dozidicrashfu_closeBufferedWriter(&writer));
  EXPECT_TRUE(contents(file) == head + big + tail + "!");

  // The file exists now: a second writer must not open it.
  DozidiCrashBufferedWriter again;
  EXPECT_FALSE(dozidicrashfu_openBufferedWriter(&again, file.c_str(), buffer, sizeof buffer));
}

TEST_F(CrashFileUtilsTests, UnnamedFileAppearsOnlyWhenNamedAndNeverReplacesAFile) {
  char buffer[64];
  const int fd = dozidicrashfu_openUnnamedFile(dir_.c_str());
  if (fd < 0) GTEST_SKIP() << "no unnamed files on this file system";
  EXPECT_TRUE(fs::is_empty(dir_));
  DozidiCrashBufferedWriter writer;
  ASSERT_TRUE(dozidicrashfu_openBufferedWriterOnUnnamedFile(&writer, fd, path("report.json").c_str(), buffer, sizeof buffer));
  EXPECT_TRUE(dozidicrashfu_writeBufferedWriter(&writer, "{}", 2));
  EXPECT_TRUE(dozidicrashfu_closeBufferedWriter(&writer));
  EXPECT_EQ(contents(path("report.json")), "{}");
  EXPECT_EQ((fs::status(path("report.json")).permissions() & fs::perms::others_write), fs::perms::none);

  // A name that is taken stays with its file; the unnamed one is closed and gone.
  const int second = dozidicrashfu_openUnnamedFile(dir_.c_str());
  ASSERT_GE(second, 0);
  EXPECT_FALSE(dozidicrashfu_openBufferedWriterOnUnnamedFile(&writer, second, path("report.json").c_str(), buffer, sizeof buffer));
  EXPECT_EQ(fcntl(second, F_GETFD), -1);
  EXPECT_EQ(contents(path("report.json")), "{}");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(CrashFileUtilsTests, BufferedWriterRefusesBytesWhenTheFlushFails) {
  struct {
    char buffer[64];
    char guard[64];
  } memory;
  std::memset(memory.guard, 'G', sizeof memory.guard);
  DozidiCrashBufferedWriter writer;
  ASSERT_TRUE(dozidicrashfu_openBufferedWriter(&writer, path("full.json").c_str(), memory.buffer, sizeof memory.buffer));
  const int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  ::dup2(full, writer.fd);  // every write now fails with "No space left on device"
  ::close(full);
  const std::string held(60, 'a');
  EXPECT_TRUE(dozidicrashfu_writeBufferedWriter(&writer, held.data(), 60));
  EXPECT_FALSE(dozidicrashfu_writeBufferedWriter(&writer, "0123456789", 10));
  EXPECT_EQ(writer.position, 60);
  EXPECT_EQ(std::string(memory.guard, sizeof memory.guard), std::string(64, 'G'));
  EXPECT_FALSE(dozidicrashfu_closeBufferedWriter(&writer));
}

TEST_F(CrashFileUtilsTests, ReadingStopsAtTheEndOfTheFile) {
  const std::string file = path("short");
  write(file, "abc");
  const int fd = ::open(file.c_str(), O_RDONLY);
  char buffer[10];
  EXPECT_FALSE(dozidicrashfu_readBytesFromFD(fd, buffer, 10));
  ::lseek(fd, 0, SEEK_SET);
  EXPECT_TRUE(dozidicrashfu_readBytesFromFD(fd, buffer, 3));
  ::close(fd);
}

TEST_F(CrashFileUtilsTests, ReadEntireFileKeepsTheTailUnderALimit) {
  const std::string file = path("hundred");
  std::string text;
  for (int i = 0; i < 100; ++i) text.push_back(static_cast<char>('0' + i % 10));
  write(file, text);
  EXPECT_EQ(dozidicrashfu_readEntireFile(file.c_str(), 10), text.substr(90));
  EXPECT_EQ(dozidicrashfu_readEntireFile(file.c_str(), 0), text);
  EXPECT_EQ(dozidicrashfu_readEntireFile(file.c_str(), 1000), text);
  EXPECT_FALSE(dozidicrashfu_readEntireFile(path("missing").c_str(), 0));
}

TEST_F(CrashFileUtilsTests, BufferedReaderReadsLinesAndCutsLongOnes) {
  const std::string file = path("lines");
  write(file, "first\n" + std::string(30, 'x') + "\nlast");
  char buffer[16];
  DozidiCrashBufferedReader reader;
  ASSERT_TRUE(dozidicrashfu_openBufferedReader(&reader, file.c_str(), buffer, sizeof buffer));
  char line[64];
  int length = sizeof line;
  EXPECT_TRUE(dozidicrashfu_readBufferedReaderUntilChar(&reader, '\n', line, &length));
  EXPECT_EQ(std::string(line, static_cast<std::size_t>(length)), "first\n");
  length = 10;
  EXPECT_FALSE(dozidicrashfu_readBufferedReaderUntilChar(&reader, '\n', line, &length));
  EXPECT_EQ(std::string(line, static_cast<std::size_t>(length)), std::string(10, 'x'));
  length = sizeof line;
  EXPECT_TRUE(dozidicrashfu_readBufferedReaderUntilChar(&reader, '\n', line, &length));
  EXPECT_EQ(std::string(line, static_cast<std::size_t>(length)), std::string(20, 'x') + "\n");
  length = sizeof line;
  EXPECT_FALSE(dozidicrashfu_readBufferedReaderUntilChar(&reader, '\n', line, &length));
  EXPECT_EQ(std::string(line, static_cast<std::size_t>(length)), "last");
  dozidicrashfu_closeBufferedReader(&reader);
}

TEST_F(CrashFileUtilsTests, DirectoriesAreMadeAndEmptied) {
  const std::string nested = path("a/b/c");
  ASSERT_TRUE(dozidicrashfu_makePath(nested.c_str()));
  EXPECT_TRUE(dozidicrashfu_makePath(nested.c_str()));
  write(nested + "/file", "x");
  write(path("a/top"), "y");
  EXPECT_FALSE(dozidicrashfu_deleteContentsOfPath((path("a") + "/.").c_str()));
  EXPECT_TRUE(fs::exists(nested + "/file"));
  EXPECT_TRUE(dozidicrashfu_deleteContentsOfPath(path("a").c_str()));
  EXPECT_TRUE(fs::is_directory(path("a")));
  EXPECT_TRUE(fs::is_empty(path("a")));
  EXPECT_FALSE(dozidicrashfu_removeFile(path("a/none").c_str(), false));
}

namespace {

// What the recorder's log writes to standard error while `body` runs.
template <typename Body>
std::string capturedStandardError(Body body) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "(no pipe)";
  const int savedStderr = ::dup(STDERR_FILENO);
  ::dup2(pipeFds[1], STDERR_FILENO);
  body();
  ::dup2(savedStderr, STDERR_FILENO);
  ::close(savedStderr);
  ::close(pipeFds[1]);
  std::string text;
  char buffer[512];
  for (ssize_t count; (count = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(pipeFds[0]);
  return text;
}

}  // namespace

TEST_F(CrashFileUtilsTests, LogLineNamesLevelFileLineAndFunction) {
  EXPECT_EQ(capturedStandardError([] {
              dozidicrashlog_logWithFormat("ERROR", "/src/deep/nested/Writer.cpp", 12, "writeReport", "value %d of %s",
                                           7, "x");
              dozidicrashlog_logWithObjectFormat("ERROR", "Other.cpp", 3, "f", "");
            }),
            "ERROR: Writer.cpp (12): writeReport: value 7 of x\nERROR: Other.cpp (3): f: (null)\n");
}

TEST_F(CrashFileUtilsTests, LogFollowsTheReportersSwitchAndLevel) {
  const struct {
    bool enabled;
    int minimumLevel;
    const char* expected;
  } cases[] = {
      {true, 4, "ERROR: A.cpp (2): f: error\n"},
      {true, 1, "DEBUG: A.cpp (1): f: debug\nERROR: A.cpp (2): f: error\n"},
      {true, 5, ""},
      {false, 1, ""},
  };
  for (const auto& c : cases) {
    dozidicrashlog_setThreshold(c.enabled, c.minimumLevel);
    EXPECT_EQ(capturedStandardError([] {
                dozidicrashlog_logWithFormat("DEBUG", "A.cpp", 1, "f", "debug");
                dozidicrashlog_logWithObjectFormat("ERROR", "A.cpp", 2, "f", "error");
              }),
              c.expected)
        << c.enabled << " " << c.minimumLevel;
  }
  dozidicrashlog_setThreshold(true, 4);
}

TEST(CrashFormatTests, Conversions) {
  const struct {
    const char* name;
    std::string actual;
    const char* expected;
  } cases[] = {
      {"zero-padded hex", [] { char b[40]; dozidicrashfmt_format(b, sizeof b, "%016llx", 0xabcULL); return std::string(b); }(),
       "0000000000000abc"},
      {"date fields", [] { char b[40]; dozidicrashfmt_format(b, sizeof b, "%04d-%02d", 1970, 1); return std::string(b); }(),
       "1970-01"},
      {"smallest long long", [] { char b[40]; dozidicrashfmt_format(b, sizeof b, "%lld", LLONG_MIN); return std::string(b); }(),
       "-9223372036854775808"},
      {"cut at capacity", [] { char b[5]; dozidicrashfmt_format(b, sizeof b, "%s", "abcdefgh"); return std::string(b); }(),
       "abcd"},
      {"unsigned and percent", [] { char b[40]; dozidicrashfmt_format(b, sizeof b, "%u%%%X", 4000000000u, 255u); return std::string(b); }(),
       "4000000000%FF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.actual, c.expected);
  }
  EXPECT_STREQ(dozidicrashfu_lastPathEntry("/a/b/c.json"), "c.json");
  EXPECT_STREQ(dozidicrashfu_lastPathEntry("plain"), "plain");
  EXPECT_EQ(dozidicrashfu_lastPathEntry(nullptr), nullptr);
}

TEST(CrashIDTests, GeneratesUpperCaseVersion4UUIDText) {
  char first[37];
  char second[37];
  dozidicrashid_generate(first);
  dozidicrashid_generate(second);
  const std::regex shape("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  EXPECT_TRUE(std::regex_match(first, shape)) << first;
  EXPECT_STRNE(first, second);
}

}  // namespace
