#include "platform/foundation/FileManager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "platform/foundation/detail/FileSystemCalls.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"

namespace foundation {
namespace {

using test_support::TemporaryDeviceRoot;

class FileManagerTest : public TemporaryDeviceRoot {
 protected:
  void TearDown() override {
    detail::resetFileSystemCalls();
    TemporaryDeviceRoot::TearDown();
  }
  std::string file(const std::string& name) const { return root_ + "/" + name; }
  void write(const std::string& name, std::string_view bytes) {
    ASSERT_TRUE(files.writeFileAtomically(file(name), bytes).ok());
  }
  std::string read(const std::string& name) {
    auto data = files.readFile(file(name));
    return data ? data->bytes() : "<unreadable>";
  }
  /// The folder's names, to prove that no temporary file was left behind.
  std::vector<std::string> names(const std::string& folder = "") {
    auto list = files.contentsOfDirectory(folder.empty() ? root_ : file(folder));
    return list ? *list : std::vector<std::string>{"<unlistable>"};
  }
  FileManager& files = FileManager::defaultManager();
};

void expectCocoa(const Error& error, CocoaError code, const std::string& path) {
  EXPECT_EQ(error.domain(), kCocoaErrorDomain);
  EXPECT_EQ(error.code(), static_cast<std::int64_t>(code)) << error.localizedDescription();
  EXPECT_EQ(error.localizedDescription().rfind("cannot ", 0), 0u) << error.localizedDescription();
  EXPECT_NE(error.localizedDescription().find(path), std::string::npos) << error.localizedDescription();
}

TEST_F(FileManagerTest, CopyRefusesAnExistingTargetAndCopiesFolders) {
  write("a", "new");
  write("b", "old");
  auto copied = files.copyItem(file("a"), file("b"));
  ASSERT_FALSE(copied.ok());
  expectCocoa(copied.error(), CocoaError::FileWriteFileExists, file("b"));
  EXPECT_EQ(read("b"), "old");

  auto missing = files.copyItem(file("none"), file("c"));
  ASSERT_FALSE(missing.ok());
  expectCocoa(missing.error(), CocoaError::FileReadNoSuchFile, file("none"));
  EXPECT_FALSE(files.fileExists(file("c")));

  ASSERT_TRUE(files.createDirectory(file("tree/sub"), Intermediates::Yes).ok());
  write("tree/sub/leaf", "leaf");
  ASSERT_TRUE(files.copyItem(file("tree"), file("copy")).ok());
  EXPECT_EQ(read("copy/sub/leaf"), "leaf");
}

TEST_F(FileManagerTest, ReplaceSucceedsWhetherOrNotTheOriginalExists) {
  write("first", "1");
  ASSERT_TRUE(files.replaceItem(file("output.json"), file("first")).ok());
  EXPECT_EQ(read("output.json"), "1");
  write("second", "2");
  ASSERT_TRUE(files.replaceItem(file("output.json"), file("second")).ok());
  EXPECT_EQ(read("output.json"), "2");
  EXPECT_FALSE(files.fileExists(file("first")));
  EXPECT_FALSE(files.fileExists(file("second")));

  auto noReplacement = files.replaceItem(file("output.json"), file("gone"));
  ASSERT_FALSE(noReplacement.ok());
  EXPECT_EQ(noReplacement.error().code(), static_cast<std::int64_t>(CocoaError::FileNoSuchFile));
  EXPECT_EQ(read("output.json"), "2");
}

TEST_F(FileManagerTest, MoveRemoveAndMissingItems) {
  write("a", "x");
  write("b", "y");
  auto occupied = files.moveItem(file("a"), file("b"));
  ASSERT_FALSE(occupied.ok());
  EXPECT_EQ(occupied.error().code(), static_cast<std::int64_t>(CocoaError::FileWriteFileExists));
  EXPECT_EQ(read("b"), "y");
  ASSERT_TRUE(files.moveItem(file("a"), file("c")).ok());
  EXPECT_EQ(read("c"), "x");

  ASSERT_TRUE(files.createDirectory(file("d/e"), Intermediates::Yes).ok());
  write("d/e/f", "z");
  ASSERT_TRUE(files.removeItem(file("d")).ok());
  EXPECT_FALSE(files.fileExists(file("d")));

  struct Case {
    const char* name;
    Result<void> result;
    CocoaError code;
  };
  const Case cases[] = {
      {"remove", files.removeItem(file("none")), CocoaError::FileNoSuchFile},
      {"move", files.moveItem(file("none"), file("x")), CocoaError::FileNoSuchFile},
      {"read", files.readFile(file("none")).ok() ? Result<void>() : files.readFile(file("none")).error(),
       CocoaError::FileReadNoSuchFile},
      {"attributes", files.attributesOfItem(file("none")).ok() ? Result<void>() : files.attributesOfItem(file("none")).error(),
       CocoaError::FileReadNoSuchFile},
      {"write into a missing folder", files.writeFileAtomically(file("no/such/file"), "x"), CocoaError::FileNoSuchFile},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.result.ok());
    EXPECT_EQ(c.result.error().code(), static_cast<std::int64_t>(c.code)) << c.result.error().localizedDescription();
  }
}

TEST_F(FileManagerTest, CreateDirectoryAcceptsAnExistingFolderButNotAFile) {
  EXPECT_TRUE(files.createDirectory(file("x/y"), Intermediates::Yes).ok());
  EXPECT_TRUE(files.createDirectory(file("x/y"), Intermediates::No).ok());
  EXPECT_FALSE(files.createDirectory(file("p/q"), Intermediates::No).ok());
  write("plain", "");
  auto blocked = files.createDirectory(file("plain"), Intermediates::Yes);
  ASSERT_FALSE(blocked.ok());
  EXPECT_EQ(blocked.error().code(), static_cast<std::int64_t>(CocoaError::FileWriteFileExists));
  bool isDirectory = true;
  EXPECT_TRUE(files.fileExists(file("plain"), &isDirectory));
  EXPECT_FALSE(isDirectory);
}

TEST_F(FileManagerTest, AttributesGiveTypeSizeAndDates) {
  write("f", "12345");
  auto attributes = files.attributesOfItem(file("f"));
  ASSERT_TRUE(attributes.ok());
  EXPECT_EQ(attributes->type, FileType::Regular);
  EXPECT_EQ(attributes->size, 5u);
  EXPECT_GT(attributes->modificationDate.timeIntervalSince1970(), 1.6e9);
  EXPECT_LE(attributes->creationDate, attributes->modificationDate);
  EXPECT_EQ(files.attributesOfItem(root_)->type, FileType::Directory);
}

TEST_F(FileManagerTest, AtomicWriteSurvivesInterruptedAndShortWrites) {
  static std::atomic<int> calls{0};
  calls = 0;
  // Every other call is interrupted; the others write at most 3 bytes.
  detail::fileSystemCalls().write = [](int fd, const void* buffer, std::size_t size) -> ssize_t {
    if (calls++ % 2 == 0) {
      errno = EINTR;
      return -1;
    }
    return ::write(fd, buffer, std::min<std::size_t>(size, 3));
  };
  write("f", "hello, world");
  EXPECT_EQ(read("f"), "hello, world");
  EXPECT_EQ(calls.load(), 8);  // four interrupted calls and four writes of 3 bytes
}

TEST_F(FileManagerTest, FailedAtomicWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
  write("f", "old");
  struct Case {
    const char* name;
    void (*inject)();
    CocoaError code;
  };
  const Case cases[] = {
      {"no space while writing",
       [] { detail::fileSystemCalls().write = [](int, const void*, std::size_t) -> ssize_t { errno = ENOSPC; return -1; }; },
       CocoaError::FileWriteOutOfSpace},
      {"a write that makes no progress",
       [] { detail::fileSystemCalls().write = [](int, const void*, std::size_t) -> ssize_t { return 0; }; },
       CocoaError::FileWriteOutOfSpace},
      {"flush fails", [] { detail::fileSystemCalls().fsync = [](int) { errno = EIO; return -1; }; },
       CocoaError::FileWriteUnknown},
      {"rename refused", [] { detail::fileSystemCalls().rename = [](const char*, const char*) { errno = EACCES; return -1; }; },
       CocoaError::FileWriteNoPermission},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.inject();
    auto written = files.writeFileAtomically(file("f"), "new contents");
    detail::resetFileSystemCalls();
    ASSERT_FALSE(written.ok());
    expectCocoa(written.error(), c.code, file("f"));
    EXPECT_EQ(read("f"), "old");
    EXPECT_EQ(names(), std::vector<std::string>{"f"});
  }
}

TEST_F(FileManagerTest, AtomicWriteIntoAnUnwritableFolderFailsCleanly) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  ASSERT_TRUE(files.createDirectory(file("locked"), Intermediates::No).ok());
  ::chmod(file("locked").c_str(), 0555);
  auto written = files.writeFileAtomically(file("locked/f"), "x");
  ::chmod(file("locked").c_str(), 0755);
  ASSERT_FALSE(written.ok());
  expectCocoa(written.error(), CocoaError::FileWriteNoPermission, file("locked/f"));
  EXPECT_TRUE(names("locked").empty());
}

TEST_F(FileManagerTest, ReaderNeverSeesATornFileWhileItIsReplaced) {
  const std::string a(200'000, 'a'), b(150'000, 'b');
  write("shared", a);
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, torn{0};
  std::thread reader([&] {
    while (!done) {
      auto data = files.readFile(file("shared"));
      if (!data || (data->bytes() != a && data->bytes() != b)) ++torn;
      ++reads;
    }
  });
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(files.writeFileAtomically(file("shared"), i % 2 ? a : b).ok());
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(names(), std::vector<std::string>{"shared"});
}

TEST_F(FileManagerTest, AbandonedTemporaryFilesGoAndWritesUnderWayStay) {
  write("settings.plist", "kept");
  write("settings.plist.tmp-AbCd12", "left by a killed writer");
  write("notes.tmp-1", "not a temporary file of ours");
  // A writer in another process holds the lock on its temporary file until it renames it.
  write("output.json.tmp-Zz9999", "being written");
  const int writer = ::open(file("output.json.tmp-Zz9999").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(writer, LOCK_EX), 0);

  EXPECT_EQ(files.removeAbandonedTemporaryFiles(root_), 1u);
  EXPECT_EQ(names(), (std::vector<std::string>{"notes.tmp-1", "output.json.tmp-Zz9999", "settings.plist"}));
  ::close(writer);
  EXPECT_EQ(files.removeAbandonedTemporaryFiles(root_), 1u);
  EXPECT_EQ(files.removeAbandonedTemporaryFiles(file("missing")), 0u);

  // A cleaner running while writes go on never takes a writer's file from under it.
  std::atomic<bool> done{false};
  std::thread cleaner([&] {
    while (!done) (void)files.removeAbandonedTemporaryFiles(root_);
  });
  int failed = 0;
  for (int i = 0; i < 300; ++i) failed += files.writeFileAtomically(file("settings.plist"), std::to_string(i)).ok() ? 0 : 1;
  done = true;
  cleaner.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(read("settings.plist"), "299");
}

TEST_F(FileManagerTest, URLFormsWorkOnFileURLsOnly) {
  const URL url = URL::fileURL(file("via-url"));
  ASSERT_TRUE(files.writeFileAtomically(url, Data::fromView("u")).ok());
  EXPECT_EQ(files.readFile(url)->bytes(), "u");
  auto web = URL::parse("https://example.invalid/x");
  ASSERT_TRUE(web.has_value());
  EXPECT_FALSE(files.readFile(*web).ok());
  EXPECT_FALSE(files.fileExists(*web));
}

}  // namespace
}  // namespace foundation
