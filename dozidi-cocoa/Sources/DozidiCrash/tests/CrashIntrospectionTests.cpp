// Reading values as runtime objects without calling the runtime, and the zombie monitor's memory
// of freed objects.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_Zombie.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashObjC.h"
#include "platform/runtime/ObjectRuntime.h"

namespace {

const void* tagged(int tag, std::uint64_t payload) {
  return reinterpret_cast<const void*>((1ULL << 63) | (static_cast<std::uint64_t>(tag) << 60) | payload);
}

std::string text(const char* value) { return value != nullptr ? value : "(none)"; }

std::string stringContents(const void* object) {
  char buffer[200];
  return dozidicrashobjc_copyStringContents(object, buffer, sizeof(buffer)) >= 0 ? buffer : "(unreadable)";
}

// A tagged string of `length` characters, each given by its 6-bit or 5-bit table index.
const void* taggedIndexedString(const std::vector<int>& indexes, int bits) {
  std::uint64_t value = 0;
  for (int index : indexes) value = (value << bits) | static_cast<std::uint64_t>(index);
  return tagged(2, (value << 4) | indexes.size());
}

TEST(CrashIntrospectionTest, TaggedPointers) {
  struct Case {
    int tag;
    const char* className;
    DozidiCrashObjCClassType type;
    bool valid;
  };
  for (const Case& c : std::initializer_list<Case>{{0, "NSAtom", DozidiCrashObjCClassTypeUnknown, false},
                                                   {1, nullptr, DozidiCrashObjCClassTypeUnknown, false},
                                                   {2, "NSString", DozidiCrashObjCClassTypeString, true},
                                                   {3, "NSNumber", DozidiCrashObjCClassTypeNumber, true},
                                                   {6, "NSDate", DozidiCrashObjCClassTypeDate, true},
                                                   {7, nullptr, DozidiCrashObjCClassTypeUnknown, false}}) {
    const void* pointer = tagged(c.tag, 0x123);
    EXPECT_TRUE(dozidicrashobjc_isTaggedPointer(pointer));
    EXPECT_EQ(text(dozidicrashobjc_objectClassName(pointer)), text(c.className)) << c.tag;
    EXPECT_EQ(dozidicrashobjc_objectClassType(pointer), c.type) << c.tag;
    EXPECT_EQ(dozidicrashobjc_isValidTaggedPointer(pointer), c.valid) << c.tag;
    EXPECT_EQ(dozidicrashobjc_taggedPointerPayload(pointer), 0x123u);
  }
  EXPECT_FALSE(dozidicrashobjc_isTaggedPointer(reinterpret_cast<const void*>(0x7fff12345678)));

  // Up to 7 ASCII characters, lowest byte first; 8 and 9 from the 6-bit table, 10 and 11 from
  // its first 32 characters ("eilotrm.apdnsIc ufkMShjTRxgC4013b..."); 12 or more: empty.
  EXPECT_EQ(stringContents(tagged(2, (0x636261ULL << 4) | 3)), "abc");
  EXPECT_EQ(stringContents(taggedIndexedString({0, 1, 2, 3, 4, 5, 6, 7, 8}, 6)), "eilotrm.a");
  EXPECT_EQ(stringContents(taggedIndexedString({31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21}, 5)), "3104CgxRTjh");
  EXPECT_EQ(stringContents(tagged(2, 12)), "");
  std::uint64_t value = 0;
  EXPECT_TRUE(dozidicrashobjc_ivarValue(tagged(3, static_cast<std::uint64_t>(-5LL & 0xFFFFFFFFFFFFFF) << 4), 0, &value));
  EXPECT_EQ(static_cast<std::int64_t>(value), -5);
  EXPECT_EQ(dozidicrashobjc_numberAsInteger(tagged(3, 42ULL << 4)), 42);
}

TEST(CrashIntrospectionTest, ObjectsOfTheRuntime) {
  runtime::id string = runtime::makeString("hello objects");
  runtime::id number = runtime::makeNumber(2.5);
  runtime::id date = runtime::makeDate(1234.5);
  runtime::id array = runtime::makeArray({string, number});
  runtime::id exception = runtime::makeExceptionObject("Name", "Reason");

  EXPECT_EQ(dozidicrashobjc_objectType(string), DozidiCrashObjCTypeObject);
  EXPECT_EQ(text(dozidicrashobjc_objectClassName(string)), "NSString");
  EXPECT_EQ(dozidicrashobjc_objectClassType(string), DozidiCrashObjCClassTypeString);
  EXPECT_EQ(stringContents(string), "hello objects");
  char small[6];
  EXPECT_EQ(dozidicrashobjc_copyStringContents(string, small, sizeof(small)), 5);
  EXPECT_STREQ(small, "hello");

  EXPECT_EQ(dozidicrashobjc_objectClassType(number), DozidiCrashObjCClassTypeNumber);
  EXPECT_EQ(dozidicrashobjc_numberAsFloat(number), 2.5);
  EXPECT_EQ(dozidicrashobjc_objectClassType(date), DozidiCrashObjCClassTypeDate);
  EXPECT_EQ(dozidicrashobjc_dateContents(date), 1234.5);
  const void* elements[4] = {};
  EXPECT_EQ(dozidicrashobjc_arrayContents(array, elements, 4), 2);
  EXPECT_EQ(elements[0], string);
  EXPECT_EQ(dozidicrashobjc_objectClassType(exception), DozidiCrashObjCClassTypeException);

  DozidiCrashObjCIvar ivars[10];
  ASSERT_EQ(dozidicrashobjc_ivarList(dozidicrashobjc_isaPointer(exception), ivars, 10), 2);
  EXPECT_STREQ(ivars[0].name, "name");
  EXPECT_STREQ(ivars[1].name, "reason");
  std::uint64_t reason = 0;
  ASSERT_TRUE(dozidicrashobjc_ivarValue(exception, ivars[1].index, &reason));
  EXPECT_EQ(stringContents(reinterpret_cast<const void*>(reason)), "Reason");

  // A class is a class; a block is an object whose class sits below "NSBlock".
  EXPECT_EQ(dozidicrashobjc_objectType(runtime::objc_getClass("NSString")), DozidiCrashObjCTypeClass);
  EXPECT_EQ(text(dozidicrashobjc_className(runtime::objc_getClass("NSString"))), "NSString");
  runtime::Class blockClass = runtime::objc_defineClass("TestStackBlock", runtime::objc_getClass("NSBlock"));
  runtime::id block = runtime::class_createInstance(blockClass);
  EXPECT_EQ(dozidicrashobjc_objectType(block), DozidiCrashObjCTypeBlock);

  for (runtime::id object : {string, number, date, array, exception, block}) runtime::object_dispose(object);
}

TEST(CrashIntrospectionTest, MemoryThatIsNoObjectIsUnknown) {
  std::vector<std::uint64_t> garbage(16, 0x4141414141414141ULL);
  EXPECT_EQ(dozidicrashobjc_objectType(garbage.data()), DozidiCrashObjCTypeUnknown);
  EXPECT_EQ(dozidicrashobjc_objectType(nullptr), DozidiCrashObjCTypeUnknown);
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  EXPECT_EQ(dozidicrashobjc_objectType(page), DozidiCrashObjCTypeUnknown);
  EXPECT_EQ(dozidicrashobjc_className(page), nullptr);
  munmap(page, 4096);
  // A class record whose name pointer sits within 128 bytes of the top of the address space.
  runtime::objc_class fake{};
  fake.magic = runtime::kClassMagic;
  fake.name = reinterpret_cast<const char*>(UINTPTR_MAX - 100);
  EXPECT_EQ(dozidicrashobjc_className(&fake), nullptr);
}

int zombieSlot(const void* object) { return static_cast<int>((reinterpret_cast<std::uintptr_t>(object) >> 7) & 0x7FFF); }

TEST(CrashZombieTest, RemembersFreedObjectsAndTheLastFreedException) {
  const DozidiCrashMonitorAPI* api = dozidicrashcm_zombie_getAPI();
  EXPECT_EQ(dozidicrashzombie_className(nullptr), nullptr);
  api->setEnabled(true);
  ASSERT_TRUE(api->isEnabled());
  api->setEnabled(false);
  EXPECT_TRUE(api->isEnabled());

  runtime::id number = runtime::makeNumber(1);
  runtime::object_dispose(number);
  EXPECT_EQ(text(dozidicrashzombie_className(number)), "NSNumber");
  EXPECT_EQ(dozidicrashzombie_className(reinterpret_cast<const char*>(number) + 8), nullptr);

  // Two objects in one slot: the later one replaces the earlier.
  std::vector<runtime::id> objects;
  std::vector<runtime::id> pair;
  std::vector<int> slotOwner(0x8000, -1);
  for (int i = 0; i < 20000 && pair.empty(); ++i) {
    objects.push_back(runtime::class_createInstance(runtime::NSObjectClass()));
    const int slot = zombieSlot(objects.back());
    if (slotOwner[slot] >= 0) {
      pair = {objects[slotOwner[slot]], objects.back()};
    } else {
      slotOwner[slot] = i;
    }
  }
  ASSERT_EQ(pair.size(), 2u);
  for (runtime::id object : objects) {
    if (object != pair[0] && object != pair[1]) runtime::object_dispose(object);
  }
  runtime::object_dispose(pair[0]);
  runtime::object_dispose(pair[1]);
  EXPECT_EQ(dozidicrashzombie_className(pair[0]), nullptr);
  EXPECT_EQ(text(dozidicrashzombie_className(pair[1])), "NSObject");

  // An exception of a subclass counts as an exception.
  runtime::Class subclass = runtime::objc_defineClass("TestSpecialException", runtime::objc_getClass("NSException"));
  runtime::id exception = runtime::class_createInstance(subclass);
  runtime::id name = runtime::makeString("SpecialName");
  runtime::id reason = runtime::makeString("special reason at 0x1234");
  std::memcpy(runtime::object_ivarStorage(exception, "name"), &name, sizeof(name));
  std::memcpy(runtime::object_ivarStorage(exception, "reason"), &reason, sizeof(reason));
  runtime::object_dispose(exception);
  DozidiCrash_MonitorContext event;
  std::memset(&event, 0, sizeof(event));
  api->addContextualInfoToEvent(&event);
  EXPECT_EQ(event.ZombieException.address, reinterpret_cast<std::uintptr_t>(exception));
  EXPECT_EQ(text(event.ZombieException.name), "SpecialName");
  EXPECT_EQ(text(event.ZombieException.reason), "special reason at 0x1234");
  runtime::object_dispose(name);
  runtime::object_dispose(reason);
}

}  // namespace
