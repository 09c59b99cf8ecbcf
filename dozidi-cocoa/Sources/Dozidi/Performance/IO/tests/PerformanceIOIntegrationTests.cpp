#include <gtest/gtest.h>

#include <vector>

#include "../../tests/PerformanceTracerFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiFileIOTrackingIntegration.h"
#include "platform/coredata/NSManagedObjectContext.h"
#include "platform/runtime/NSData.h"

namespace {

using runtime::NSData;

/// The implementations the data object's and the context's traced methods run now.
std::vector<runtime::IMP> tracedImplementations() {
  std::vector<runtime::IMP> imps;
  for (auto sel : {NSData::writeToFileAtomicallySelector(), NSData::writeToFileOptionsErrorSelector(),
                   NSData::initWithContentsOfFileSelector(), NSData::initWithContentsOfFileOptionsErrorSelector(),
                   NSData::initWithContentsOfURLOptionsErrorSelector()})
    imps.push_back(runtime::class_getMethodImplementation(runtime::classOf<NSData>(), sel));
  for (auto sel : {coredata::NSManagedObjectContext::executeFetchRequestErrorSelector(),
                   coredata::NSManagedObjectContext::saveSelector()})
    imps.push_back(runtime::class_getMethodImplementation(runtime::classOf<coredata::NSManagedObjectContext>(), sel));
  return imps;
}

using PerformanceIOIntegrationTests = performance_test::TracerFixture;

// One test, because a replacement lasts for the process: first with the options off, then on.
TEST_F(PerformanceIOIntegrationTests, InstallsOnlyWithEveryOptionAndReplacesOnce) {
  const auto original = tracedImplementations();
  for (auto imp : original) ASSERT_NE(imp, nullptr);
  DozidiFileIOTrackingIntegration fileIO;
  DozidiCoreDataTrackingIntegration coreData;

  struct Case {
    const char* name;
    void (*configure)(DozidiOptions&);
  };
  const Case off[] = {
      {"defaults", [](DozidiOptions&) {}},
      {"without swizzling",
       [](DozidiOptions& o) { o.enableFileIOTracking = o.enableCoreDataTracking = true, o.enableSwizzling = false; }},
      {"without automatic performance tracking",
       [](DozidiOptions& o) {
         o.enableFileIOTracking = o.enableCoreDataTracking = true, o.enableAutoPerformanceTracking = false;
       }},
  };
  for (const auto& c : off) {
    SCOPED_TRACE(c.name);
    auto o = DozidiOptions::create();
    o->setDsn(options->dsn());
    o->setTracesSampleRate(1.0);
    c.configure(*o);
    EXPECT_FALSE(fileIO.installWithOptions(*o));
    EXPECT_FALSE(coreData.installWithOptions(*o));
    EXPECT_EQ(tracedImplementations(), original);
  }
  auto untraced = DozidiOptions::create();
  untraced->setDsn(options->dsn());
  untraced->enableFileIOTracking = untraced->enableCoreDataTracking = true;
  EXPECT_FALSE(fileIO.installWithOptions(*untraced));
  EXPECT_FALSE(coreData.installWithOptions(*untraced));
  EXPECT_EQ(tracedImplementations(), original);

  options->enableFileIOTracking = options->enableCoreDataTracking = true;
  ASSERT_TRUE(fileIO.installWithOptions(*options));
  ASSERT_TRUE(coreData.installWithOptions(*options));
  const auto replaced = tracedImplementations();
  for (std::size_t i = 0; i < replaced.size(); ++i) EXPECT_NE(replaced[i], original[i]) << i;
  // Installing again replaces nothing more.
  fileIO.uninstall();
  coreData.uninstall();
  ASSERT_TRUE(fileIO.installWithOptions(*options));
  ASSERT_TRUE(coreData.installWithOptions(*options));
  EXPECT_EQ(tracedImplementations(), replaced);
  fileIO.uninstall();
  coreData.uninstall();
}

}  // namespace
