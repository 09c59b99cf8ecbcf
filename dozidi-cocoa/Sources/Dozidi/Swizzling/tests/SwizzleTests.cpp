#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSubClassFinder.h"
#include "dozidi-cocoa/Sources/Dozidi/tests/LogCapture.h"

namespace {

using runtime::Class;
using runtime::Object;
using Log = std::vector<std::string>;
using Greet = void(Log*);

runtime::SEL greetSelector() { return runtime::sel_registerName("greet:"); }

runtime::IMP logging(std::string name) {
  return runtime::imp_implementationWithBlock<Greet>([name](Object*, Log* log) { log->push_back(name); });
}

// A fresh base class with "greet:" and a subclass, with its own "greet:" or inheriting it. Each
// case gets classes of its own: replacements are never undone.
struct Hierarchy {
  Class base;
  Class child;
};

Hierarchy makeHierarchy(bool childHasOwnMethod) {
  static std::atomic<int> counter{0};
  std::string suffix = std::to_string(counter++);
  Class base = runtime::objc_defineClass(("SwizzleBase" + suffix).c_str(), runtime::NSObjectClass());
  Class child = runtime::objc_defineClass(("SwizzleChild" + suffix).c_str(), base);
  runtime::class_addMethod(base, greetSelector(), logging("base"));
  if (childHasOwnMethod) runtime::class_addMethod(child, greetSelector(), logging("child"));
  return {base, child};
}

Log greet(Class cls) {
  Object receiver;
  runtime::object_setClass(&receiver, cls);
  Log log;
  runtime::msgSend<Greet>(&receiver, greetSelector(), &log);
  return log;
}

// A replacement that logs its name, then calls the displaced implementation once.
DozidiSwizzleImpFactoryBlock wrapper(std::string name) {
  return [name](const std::shared_ptr<DozidiSwizzleInfo>& info) {
    return runtime::imp_implementationWithBlock<Greet>([name, info](Object* self, Log* log) {
      log->push_back(name);
      if (const auto* original = info->getOriginalImplementationAs<Greet>()) original->call(self, log);
    });
  };
}

bool swizzle(Class cls, const std::string& name, DozidiSwizzleMode mode, const void* key) {
  return DozidiSwizzle::swizzleInstanceMethod(greetSelector(), cls, wrapper(name), mode, key);
}

TEST(Swizzle, ModesKeysAndInheritance) {
  struct Case {
    const char* name;
    DozidiSwizzleMode mode;
    bool withKey;
    bool own;
    bool first, second;  // results of swizzling the subclass twice
    Log calls;           // what a send to the subclass runs afterwards
  };
  const Case cases[] = {
      {"always, key, own", DozidiSwizzleModeAlways, true, true, true, true, {"w2", "w1", "child"}},
      {"always, key, inherited", DozidiSwizzleModeAlways, true, false, true, true, {"w2", "w1", "base"}},
      {"always, no key, own", DozidiSwizzleModeAlways, false, true, true, true, {"w2", "w1", "child"}},
      {"always, no key, inherited", DozidiSwizzleModeAlways, false, false, true, true, {"w2", "w1", "base"}},
      {"once per class, key, own", DozidiSwizzleModeOncePerClass, true, true, true, false, {"w1", "child"}},
      {"once per class, key, inherited", DozidiSwizzleModeOncePerClass, true, false, true, false, {"w1", "base"}},
      {"once per class, no key, own", DozidiSwizzleModeOncePerClass, false, true, false, false, {"child"}},
      {"once per class, no key, inherited", DozidiSwizzleModeOncePerClass, false, false, false, false, {"base"}},
      {"with superclasses, key, own", DozidiSwizzleModeOncePerClassAndSuperclasses, true, true, true, false, {"w1", "child"}},
      {"with superclasses, key, inherited", DozidiSwizzleModeOncePerClassAndSuperclasses, true, false, true, false, {"w1", "base"}},
      {"with superclasses, no key, own", DozidiSwizzleModeOncePerClassAndSuperclasses, false, true, false, false, {"child"}},
      {"with superclasses, no key, inherited", DozidiSwizzleModeOncePerClassAndSuperclasses, false, false, false, false, {"base"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture capture;
    const void* k = c.withKey ? static_cast<const void*>(&c) : nullptr;  // one key per case
    Hierarchy h = makeHierarchy(c.own);
    runtime::IMP baseImp = runtime::class_getMethodImplementation(h.base, greetSelector());
    EXPECT_EQ(swizzle(h.child, "w1", c.mode, k), c.first);
    EXPECT_EQ(swizzle(h.child, "w2", c.mode, k), c.second);
    EXPECT_EQ(greet(h.child), c.calls);
    // The superclass is never touched.
    EXPECT_EQ(runtime::class_getMethodImplementation(h.base, greetSelector()), baseImp);
    EXPECT_EQ(greet(h.base), Log{"base"});
    bool refusedForKey = c.mode != DozidiSwizzleModeAlways && !c.withKey;
    EXPECT_EQ(capture.lines().size(), refusedForKey ? 2u : 0u);
    if (refusedForKey) {
      EXPECT_NE(capture.lines()[0].find("Key may not be NULL if mode is not DozidiSwizzleModeAlways."),
                std::string::npos);
    }
  }
}

TEST(Swizzle, OncePerClassAndSuperclassesRefusesASubclassOfASwizzledClass) {
  static const char key = 0;
  Hierarchy h = makeHierarchy(true);
  EXPECT_TRUE(swizzle(h.base, "w-base", DozidiSwizzleModeOncePerClassAndSuperclasses, &key));
  EXPECT_FALSE(swizzle(h.child, "w-child", DozidiSwizzleModeOncePerClassAndSuperclasses, &key));
  // Once per class alone does not look at the superclasses; another key is another guard.
  static const char otherKey = 0;
  EXPECT_TRUE(swizzle(h.child, "w-other", DozidiSwizzleModeOncePerClass, &key));
  EXPECT_TRUE(swizzle(h.child, "w-key2", DozidiSwizzleModeOncePerClassAndSuperclasses, &otherKey));
  EXPECT_EQ(greet(h.child), (Log{"w-key2", "w-other", "child"}));
}

// An inherited method: the replacement calls whatever the superclass has at the time of the call.
TEST(Swizzle, TheDisplacedImplementationIsLookedUpAtCallTime) {
  Hierarchy h = makeHierarchy(false);
  ASSERT_TRUE(swizzle(h.child, "wrapper", DozidiSwizzleModeAlways, nullptr));
  EXPECT_EQ(greet(h.child), (Log{"wrapper", "base"}));
  ASSERT_TRUE(runtime::class_replaceMethod(h.base, greetSelector(), logging("base-later")).has_value());
  EXPECT_EQ(greet(h.child), (Log{"wrapper", "base-later"}));
  // A swizzle of the superclass afterwards is seen through the subclass's replacement as well.
  ASSERT_TRUE(swizzle(h.base, "base-wrapper", DozidiSwizzleModeAlways, nullptr));
  EXPECT_EQ(greet(h.child), (Log{"wrapper", "base-wrapper", "base-later"}));
}

TEST(Swizzle, RefusedSwizzlesChangeNothing) {
  LogCapture capture;
  static const char key = 0;
  Hierarchy h = makeHierarchy(true);
  auto otherSignature = [](const std::shared_ptr<DozidiSwizzleInfo>&) {
    return runtime::imp_implementationWithBlock<void(int)>([](Object*, int) {});
  };
  EXPECT_FALSE(DozidiSwizzle::swizzleInstanceMethod(greetSelector(), h.child, otherSignature,
                                                    DozidiSwizzleModeOncePerClass, &key));
  EXPECT_FALSE(DozidiSwizzle::swizzleInstanceMethod(runtime::sel_registerName("missing:"), h.child, wrapper("w"),
                                                    DozidiSwizzleModeOncePerClass, &key));
  EXPECT_FALSE(DozidiSwizzle::swizzleInstanceMethod(greetSelector(), nullptr, wrapper("w"),
                                                    DozidiSwizzleModeOncePerClass, &key));
  EXPECT_EQ(greet(h.child), Log{"child"});
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("signature"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("Selector missing: not found in instance methods of class " +
                          std::string(runtime::class_getName(h.child)) + "."),
            std::string::npos)
      << lines[1];
  // The refused attempts did not mark the class: the guard still lets a sound swizzle through.
  EXPECT_TRUE(swizzle(h.child, "w", DozidiSwizzleModeOncePerClass, &key));
}

TEST(Swizzle, ClassMethodsAreSwizzledOnTheMetaclass) {
  LogCapture capture;
  Hierarchy h = makeHierarchy(false);
  runtime::class_addMethod(h.base->isa, greetSelector(), logging("class"));
  ASSERT_TRUE(DozidiSwizzle::swizzleClassMethod(greetSelector(), h.base, wrapper("w")));
  Log log;
  runtime::imp_cast<Greet>(runtime::class_getMethodImplementation(h.base->isa, greetSelector()))->call(nullptr, &log);
  EXPECT_EQ(log, (Log{"w", "class"}));
  EXPECT_EQ(greet(h.base), Log{"base"});  // the instance method stays
  EXPECT_FALSE(DozidiSwizzle::swizzleClassMethod(runtime::sel_registerName("nothing"), h.base, wrapper("w")));
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_NE(capture.lines()[0].find("not found in class methods"), std::string::npos);
}

TEST(Swizzle, InfoWithoutProviderReportsAndGivesNone) {
  LogCapture capture;
  DozidiSwizzleInfo info;
  EXPECT_EQ(info.getOriginalImplementation(), nullptr);
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_NE(capture.lines()[0].find("_impProviderBlock can't be missing"), std::string::npos);
}

// Replacements run on other threads while more swizzles of the same method are made: each send
// runs one whole chain, ending in the original.
TEST(Swizzle, ReplacementsRunWhileTheMethodIsSwizzledAgain) {
  Hierarchy h = makeHierarchy(false);
  std::atomic<bool> done{false};
  std::atomic<int> broken{0};
  std::vector<std::thread> senders;
  for (int i = 0; i < 2; ++i) {
    senders.emplace_back([&] {
      while (!done.load()) {
        Log log = greet(h.child);
        if (log.empty() || log.back() != "base") broken.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(swizzle(h.child, "w", DozidiSwizzleModeAlways, nullptr));
  done = true;
  for (auto& sender : senders) sender.join();
  EXPECT_EQ(broken.load(), 0);
  EXPECT_EQ(greet(h.child).size(), 51u);
}

TEST(SubClassFinder, AClassIsNotItsOwnSubclass) {
  Hierarchy h = makeHierarchy(false);
  EXPECT_FALSE(DozidiSubClassFinder::isClass(h.base, h.base));
  EXPECT_TRUE(DozidiSubClassFinder::isClass(h.child, h.base));
  EXPECT_TRUE(DozidiSubClassFinder::isClass(h.child, runtime::NSObjectClass()));
  EXPECT_FALSE(DozidiSubClassFinder::isClass(h.base, h.child));
  EXPECT_FALSE(DozidiSubClassFinder::isClass(nullptr, h.base));
}

}  // namespace
