#include "platform/foundation/DeviceRoot.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/utsname.h>

#include "platform/foundation/DeviceFacts.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"

namespace foundation {
namespace {

constexpr const char* kGroup = "group.com.morvit.Fendrel";

class DeviceRootTest : public test_support::TemporaryDeviceRoot {
 protected:
  FileManager& files = FileManager::defaultManager();
  bool isFolder(const std::string& path) {
    bool isDirectory = false;
    return files.fileExists(path, &isDirectory) && isDirectory;
  }
};

TEST_F(DeviceRootTest, ContainerOnlyWithTheEntitlement) {
  struct Case {
    const char* name;
    bool install;
    Array groups;
    bool available;
  };
  const Case cases[] = {
      {"no main bundle", false, {}, false},
      {"entitlement missing", true, Array{}, false},
      {"another group", true, Array{"group.other"}, false},
      {"entitled", true, Array{"group.other", kGroup}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.install) installApp(c.groups);
    auto container = files.containerURL(kGroup);
    EXPECT_EQ(container.has_value(), c.available);
    EXPECT_EQ(isFolder(root_ + "/containers/" + kGroup), c.available);
    if (container) {
      EXPECT_EQ(container->path(), root_ + "/containers/" + kGroup);
      EXPECT_TRUE(container->hasDirectoryPath());
      EXPECT_TRUE(isFolder(container->appendingPathComponent("Library/Caches").path()));
      EXPECT_TRUE(isFolder(container->appendingPathComponent("Library/Preferences").path()));
    }
  }
  EXPECT_FALSE(DeviceRoot::containerPath(".."));
}

TEST_F(DeviceRootTest, HomeTemporaryAndCachesFoldersExist) {
  installApp(Array{kGroup});
  const std::string home = root_ + "/data/com.morvit.Fendrel";
  EXPECT_EQ(files.temporaryDirectory().path(), home + "/tmp");
  EXPECT_EQ(files.cachesDirectory().path(), home + "/Library/Caches");
  EXPECT_TRUE(isFolder(home + "/tmp"));
  EXPECT_TRUE(isFolder(home + "/Library/Caches"));

  // A file made in the temporary folder can be moved into the container with one rename.
  const URL temporary = files.temporaryDirectory().appendingPathComponent("output.json");
  ASSERT_TRUE(files.writeFileAtomically(temporary, Data::fromView("[]")).ok());
  ASSERT_TRUE(files.replaceItem(files.containerURL(kGroup)->appendingPathComponent("output.json"), temporary).ok());
}

TEST_F(DeviceRootTest, RootComesFromTheEnvironment) {
  DeviceRoot::setPath("");
  const char* saved = std::getenv("FENDREL_DEVICE_ROOT");
  const std::string previous = saved ? saved : "";
  ::setenv("FENDREL_DEVICE_ROOT", (root_ + "/from-env").c_str(), 1);
  DeviceRoot::setPath("");
  EXPECT_EQ(DeviceRoot::path(), root_ + "/from-env");
  EXPECT_TRUE(isFolder(root_ + "/from-env"));
  if (saved) ::setenv("FENDREL_DEVICE_ROOT", previous.c_str(), 1);
  else ::unsetenv("FENDREL_DEVICE_ROOT");
}

TEST_F(DeviceRootTest, DeviceFactsHaveDefaultsAndReadDeviceJSON) {
  struct utsname names;
  ASSERT_EQ(::uname(&names), 0);
  DeviceFacts defaults = DeviceFacts::current();
  EXPECT_FALSE(defaults.identifierForVendor);
  EXPECT_EQ(defaults.systemName, names.sysname);
  EXPECT_EQ(defaults.systemVersion, names.release);
  EXPECT_EQ(defaults.machine, names.machine);
  EXPECT_EQ(defaults.screen.width, 375);
  EXPECT_EQ(defaults.screen.height, 667);
  EXPECT_EQ(defaults.screen.scale, 2);

  ASSERT_TRUE(files.writeFileAtomically(DeviceRoot::deviceFactsPath(),
                                        R"({"identifierForVendor":"ABC","machine":7,"screen":{"width":414,"scale":"3"}})")
                  .ok());
  DeviceFacts facts = DeviceFacts::current();
  EXPECT_EQ(facts.identifierForVendor, "ABC");
  EXPECT_EQ(facts.machine, names.machine);  // mistyped: default
  EXPECT_EQ(facts.screen.width, 414);
  EXPECT_EQ(facts.screen.height, 667);
  EXPECT_EQ(facts.screen.scale, 2);

  ASSERT_TRUE(files.writeFileAtomically(DeviceRoot::deviceFactsPath(), "[1,2").ok());
  EXPECT_EQ(DeviceFacts::current().systemName, names.sysname);
}

}  // namespace
}  // namespace foundation
