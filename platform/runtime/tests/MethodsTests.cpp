#include "platform/runtime/Methods.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

namespace {

using runtime::Class;
using runtime::IMP;
using runtime::Object;
using runtime::SEL;

// A small hierarchy: Animal <- Dog <- Puppy, and a C++ subclass of Dog nobody registered.
class Animal : public Object {};
class Dog : public Animal {};
class Puppy : public Dog {};
class StrayDog : public Dog {};

}  // namespace

RUNTIME_CLASS(Animal, runtime::Object, "Tests.Animal");
RUNTIME_CLASS(Dog, Animal, "Tests.Dog");
RUNTIME_CLASS(Puppy, Dog, "Tests.Puppy");

namespace {

SEL sel(std::string_view name) { return runtime::sel_registerName(name); }

IMP returning(std::string text) {
  return runtime::imp_implementationWithBlock<std::string(int)>(
      [text](Object*, int n) { return text + std::to_string(n); });
}

std::string speak(Object* receiver, SEL name, int n = 1) {
  return runtime::msgSend<std::string(int)>(receiver, name, n);
}

std::string executablePath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

TEST(Methods, SelectorsAreInternedByTheirNameWithColons) {
  SEL a = sel("sendAction:to:from:forEvent:");
  EXPECT_EQ(a, sel(std::string("sendAction:to:from:") + "forEvent:"));
  EXPECT_NE(a, sel("sendAction:to:from:"));
  EXPECT_STREQ(runtime::sel_getName(a), "sendAction:to:from:forEvent:");
}

TEST(Methods, RegisteredTypesFormAClassChainBelowNSObject) {
  Class puppy = runtime::classOf<Puppy>();
  ASSERT_NE(puppy, nullptr);
  EXPECT_STREQ(runtime::class_getName(puppy), "Tests.Puppy");
  EXPECT_EQ(runtime::class_getSuperclass(puppy), runtime::classOf<Dog>());
  EXPECT_EQ(runtime::class_getSuperclass(runtime::classOf<Animal>()), runtime::NSObjectClass());
  EXPECT_EQ(runtime::objc_getClass("Tests.Dog"), runtime::classOf<Dog>());
  // The metaclasses follow the same chain.
  EXPECT_TRUE(runtime::class_isMetaClass(puppy->isa));
  EXPECT_EQ(puppy->isa->superclass, runtime::classOf<Dog>()->isa);

  EXPECT_TRUE(runtime::isSubclassOf(puppy, runtime::classOf<Animal>()));
  EXPECT_TRUE(runtime::isSubclassOf(puppy, puppy));
  EXPECT_FALSE(runtime::isSubclassOf(runtime::classOf<Animal>(), puppy));
  EXPECT_FALSE(runtime::isSubclassOf(puppy, nullptr));
}

TEST(Methods, ObjectsTakeTheClassOfTheirTypeOrOfTheNearestRegisteredBase) {
  Puppy puppy;
  StrayDog stray;
  Object plain;
  EXPECT_EQ(runtime::object_getClass(&puppy), runtime::classOf<Puppy>());
  EXPECT_EQ(runtime::object_getClass(&stray), runtime::classOf<Dog>());
  EXPECT_EQ(runtime::object_getClass(&plain), runtime::NSObjectClass());
  EXPECT_TRUE(runtime::isKindOfClass(&stray, runtime::classOf<Animal>()));
  EXPECT_FALSE(runtime::isKindOfClass(&stray, runtime::classOf<Puppy>()));
}

TEST(Methods, AClassRegisteredBeforeItsSuperclassIsLinkedWhenTheSuperclassComes) {
  struct Parent : Object {};
  struct Child : Parent {};
  static const int anchor = 0;
  Class child = runtime::registerClass<Child, Parent>("Tests.LateChild", &anchor);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(runtime::class_getSuperclass(child), nullptr);
  Class parent = runtime::registerClass<Parent, Object>("Tests.LateParent", &anchor);
  EXPECT_EQ(runtime::class_getSuperclass(child), parent);
  EXPECT_EQ(child->isa->superclass, parent->isa);
  // The same type again is the same class; another type under a taken name is refused.
  EXPECT_EQ((runtime::registerClass<Child, Parent>("Tests.LateChild", &anchor)), child);
  struct Other : Object {};
  EXPECT_EQ((runtime::registerClass<Other, Object>("Tests.LateChild", &anchor)), nullptr);
}

TEST(Methods, ClassesKnowTheImageThatDefinedThem) {
  std::string exe = executablePath();
  EXPECT_EQ(runtime::class_getImageName(runtime::classOf<Puppy>()), exe);
  std::string platformImage = runtime::class_getImageName(runtime::NSObjectClass());
  EXPECT_NE(platformImage, exe);
  EXPECT_TRUE(std::filesystem::exists(platformImage)) << platformImage;

  auto names = runtime::copyClassNamesForImage(exe);
  auto position = [&](const char* name) { return std::find(names.begin(), names.end(), name) - names.begin(); };
  EXPECT_LT(position("Tests.Animal"), position("Tests.Dog"));
  EXPECT_LT(position("Tests.Dog"), static_cast<long>(names.size()));
  EXPECT_EQ(std::count(names.begin(), names.end(), "NSObject"), 0);
  EXPECT_TRUE(runtime::copyClassNamesForImage("/no/such/image.so").empty());
}

TEST(Methods, SendsFindTheImplementationAtCallTime) {
  struct Cat : Object {};
  struct Kitten : Cat {};
  static const int anchor = 0;
  Class cat = runtime::registerClass<Cat, Object>("Tests.Cat", &anchor);
  Class kitten = runtime::registerClass<Kitten, Cat>("Tests.Kitten", &anchor);
  SEL meow = sel("meow:");
  Kitten receiver;

  EXPECT_EQ(speak(&receiver, meow), "");  // no such method yet: nothing runs
  EXPECT_FALSE(runtime::respondsToSelector(&receiver, meow));
  ASSERT_TRUE(runtime::class_addMethod(cat, meow, returning("cat")));
  EXPECT_FALSE(runtime::class_addMethod(cat, meow, returning("again")));
  EXPECT_TRUE(runtime::respondsToSelector(&receiver, meow));
  EXPECT_EQ(speak(&receiver, meow, 2), "cat2");  // inherited

  // Replacing the superclass's own method: returns it, and sends see the new one at once.
  IMP catImp = runtime::class_getMethodImplementation(cat, meow);
  auto displaced = runtime::class_replaceMethod(cat, meow, returning("tiger"));
  ASSERT_TRUE(displaced.has_value());
  EXPECT_EQ(*displaced, catImp);
  EXPECT_EQ(speak(&receiver, meow), "tiger1");

  // Replacing an inherited method adds it to the subclass, returns none, leaves the superclass.
  displaced = runtime::class_replaceMethod(kitten, meow, returning("kitten"));
  ASSERT_TRUE(displaced.has_value());
  EXPECT_EQ(*displaced, nullptr);
  EXPECT_EQ(speak(&receiver, meow), "kitten1");
  Cat parent;
  EXPECT_EQ(speak(&parent, meow), "tiger1");
  EXPECT_EQ(runtime::msgSendSuper<std::string(int)>(&receiver, kitten, meow, 3), "tiger3");
  EXPECT_EQ(runtime::method_getName(runtime::class_getInstanceMethod(kitten, meow)), meow);
}

TEST(Methods, SignaturesAreCheckedOnReplacementAndOnSend) {
  struct Bird : Object {};
  static const int anchor = 0;
  Class bird = runtime::registerClass<Bird, Object>("Tests.Bird", &anchor);
  SEL sing = sel("sing:");
  ASSERT_TRUE(runtime::class_addMethod(bird, sing, returning("tweet")));
  IMP otherSignature = runtime::imp_implementationWithBlock<std::string(double)>([](Object*, double) { return std::string("x"); });
  EXPECT_NE(runtime::imp_getTypeEncoding(otherSignature), runtime::method_getTypeEncoding(runtime::class_getInstanceMethod(bird, sing)));

  EXPECT_FALSE(runtime::class_replaceMethod(bird, sing, otherSignature).has_value());
  EXPECT_FALSE(runtime::class_replaceMethod(bird, sing, nullptr).has_value());
  EXPECT_FALSE(runtime::class_replaceMethod(nullptr, sing, returning("x")).has_value());
  Bird receiver;
  EXPECT_EQ(speak(&receiver, sing), "tweet1");
  // A send naming another signature calls nothing and gives the empty value.
  EXPECT_EQ(runtime::msgSend<std::string(double)>(&receiver, sing, 1.0), "");
  EXPECT_EQ(runtime::msgSend<std::string(int)>(nullptr, sing, 1), "");
}

TEST(Methods, ClassMethodsLiveOnTheMetaclass) {
  struct Fish : Object {};
  static const int anchor = 0;
  Class fish = runtime::registerClass<Fish, Object>("Tests.Fish", &anchor);
  SEL shared = sel("sharedFish");
  ASSERT_TRUE(runtime::class_addMethod(fish->isa, shared, returning("cls")));
  EXPECT_NE(runtime::class_getClassMethod(fish, shared), nullptr);
  EXPECT_EQ(runtime::class_getInstanceMethod(fish, shared), nullptr);
}

// Sends on several threads while another thread keeps replacing the method: every send runs one
// of the implementations, whole.
TEST(Methods, SendsRunWhileTheMethodIsReplaced) {
  struct Horse : Object {};
  static const int anchor = 0;
  Class horse = runtime::registerClass<Horse, Object>("Tests.Horse", &anchor);
  SEL neigh = sel("neigh:");
  ASSERT_TRUE(runtime::class_addMethod(horse, neigh, returning("a")));
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> senders;
  for (int i = 0; i < 3; ++i) {
    senders.emplace_back([&] {
      Horse receiver;
      while (!done.load()) {
        std::string said = speak(&receiver, neigh, 7);
        if (said != "a7" && said != "b7") bad.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 2000; ++i) ASSERT_TRUE(runtime::class_replaceMethod(horse, neigh, returning(i % 2 ? "a" : "b")));
  done = true;
  for (auto& sender : senders) sender.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
