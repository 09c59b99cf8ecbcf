#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/foundation/DataFile.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/runtime/NSData.h"
#include "testing/TemporaryFolder.h"

namespace runtime {
namespace {

using foundation::CocoaError;
using foundation::Data;
using foundation::Error;

class NSDataTests : public ::testing::Test {
 protected:
  testing_support::TemporaryFolder folder{"fendrel-nsdata"};
};

TEST_F(NSDataTests, FileMethodsReadAndWrite) {
  const std::string path = folder.path() + "/a.bin";
  struct Case {
    const char* name;
    std::uint32_t options;
  };
  for (const Case& c : {Case{"atomic", foundation::DataWritingAtomic}, Case{"in place", 0}}) {
    SCOPED_TRACE(c.name);
    const Data bytes(std::string("x\0y", 3) + c.name);
    Error error("", 0);
    ASSERT_TRUE(NSData::writeData(bytes, path, c.options, &error)) << error.localizedDescription();
    EXPECT_EQ(NSData::dataWithContentsOfFile(path, nullptr), bytes);
    NSData fromURL;
    ASSERT_EQ(fromURL.initWithContentsOfURL(foundation::URL::fileURL(path), 0, nullptr), &fromURL);
    EXPECT_EQ(fromURL.data(), bytes);
  }
  NSData plain(Data("plain"));
  EXPECT_TRUE(plain.writeToFile(path, true));
  NSData read;
  EXPECT_EQ(read.initWithContentsOfFile(path), &read);
  EXPECT_EQ(read.data(), Data("plain"));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(NSDataTests, FailuresReturnNoneWithTheFileError) {
  const std::string existing = folder.path() + "/kept.txt";
  ASSERT_TRUE(NSData::writeData(Data("old"), existing, foundation::DataWritingAtomic, nullptr));
  struct Case {
    const char* name;
    std::function<bool(Error*)> call;
    CocoaError code;
  };
  const Case cases[] = {
      {"missing file", [&](Error* e) { return NSData().initWithContentsOfFile(folder.path() + "/none", 0, e) != nullptr; },
       CocoaError::FileReadNoSuchFile},
      {"folder read as a file", [&](Error* e) { return NSData().initWithContentsOfFile(folder.path(), 0, e) != nullptr; },
       CocoaError::FileReadUnknown},
      {"URL of another scheme",
       [&](Error* e) { return NSData().initWithContentsOfURL(*foundation::URL::parse("http://127.0.0.1:9/x"), 0, e) != nullptr; },
       CocoaError::FileReadUnknown},
      {"without overwriting",
       [&](Error* e) { return NSData::writeData(Data("new"), existing, foundation::DataWritingWithoutOverwriting, e); },
       CocoaError::FileWriteFileExists},
      {"into a missing folder",
       [&](Error* e) { return NSData::writeData(Data("new"), folder.path() + "/no/x", foundation::DataWritingAtomic, e); },
       CocoaError::FileNoSuchFile},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error error("", 0);
    EXPECT_FALSE(c.call(&error));
    EXPECT_EQ(error.domain(), foundation::kCocoaErrorDomain);
    EXPECT_EQ(error.code(), static_cast<std::int64_t>(c.code));
  }
  EXPECT_EQ(NSData::dataWithContentsOfFile(existing, nullptr), Data("old"));
}

TEST_F(NSDataTests, ShortFormsSendTheFormsWithOptionsThroughTheTable) {
  // A replacement of the variants with options sees the calls of the short forms.
  static std::vector<std::string> calls;
  Class cls = classOf<NSData>();
  ASSERT_NE(cls, nullptr);
  IMP readOriginal = class_getMethodImplementation(cls, NSData::initWithContentsOfFileOptionsErrorSelector());
  IMP writeOriginal = class_getMethodImplementation(cls, NSData::writeToFileOptionsErrorSelector());
  using Read = NSData*(const std::string&, std::uint32_t, Error*);
  using Write = bool(const std::string&, std::uint32_t, Error*);
  ASSERT_TRUE(class_replaceMethod(cls, NSData::initWithContentsOfFileOptionsErrorSelector(),
                                  imp_implementationWithBlock<Read>([readOriginal](Object* self, const std::string& p,
                                                                                   std::uint32_t o, Error* e) {
                                    calls.push_back("read");
                                    return imp_cast<Read>(readOriginal)->call(self, p, o, e);
                                  })));
  ASSERT_TRUE(class_replaceMethod(cls, NSData::writeToFileOptionsErrorSelector(),
                                  imp_implementationWithBlock<Write>([writeOriginal](Object* self, const std::string& p,
                                                                                     std::uint32_t o, Error* e) {
                                    calls.push_back(o & foundation::DataWritingAtomic ? "atomic write" : "write");
                                    return imp_cast<Write>(writeOriginal)->call(self, p, o, e);
                                  })));
  const std::string path = folder.path() + "/short.txt";
  NSData data(Data("abc"));
  EXPECT_TRUE(data.writeToFile(path, true));
  EXPECT_TRUE(data.writeToFile(path, false));
  NSData read;
  EXPECT_EQ(read.initWithContentsOfFile(path), &read);
  EXPECT_EQ(read.data(), Data("abc"));
  class_replaceMethod(cls, NSData::initWithContentsOfFileOptionsErrorSelector(), readOriginal);
  class_replaceMethod(cls, NSData::writeToFileOptionsErrorSelector(), writeOriginal);
  EXPECT_EQ(calls, (std::vector<std::string>{"atomic write", "write", "read"}));
}

}  // namespace
}  // namespace runtime
