#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_System.h"

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSHA1.h"

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashDate.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashSysCtl.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashDynamicLinker.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceFacts.h"
#include "platform/foundation/UUID.h"
#include "platform/foundation/Value.h"
#include "platform/kernel/SystemFacts.h"

#include <net/if.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

DozidiCrashSystemFacts gFacts;
std::atomic<bool> gEnabled{false};
std::once_flag gGathered;

// The app's id as text; filled once, with the other facts.
char gAppIDText[37];

const char* copyOf(const std::string& text) { return ::strdup(text.c_str()); }

const char* copyOrNone(const std::optional<std::string>& text) { return text ? copyOf(*text) : nullptr; }

// A kernel string: ask its size, allocate, read. None when any step fails.
const char* kernelString(const char* name) {
  int size = dozidicrashsysctl_stringForName(name, nullptr, 0);
  if (size < 1) return nullptr;
  auto* value = static_cast<char*>(std::malloc(static_cast<std::size_t>(size)));
  if (value == nullptr) return nullptr;
  if (dozidicrashsysctl_stringForName(name, value, size) < 1) {
    std::free(value);
    return nullptr;
  }
  return value;
}

const char* utcText(time_t seconds) {
  auto* text = static_cast<char*>(std::malloc(kDozidiCrashUTCStringLength));
  if (text != nullptr) dozidicrashdate_utcString(seconds, text);
  return text;
}

std::string executablePathOnDisk() {
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

// What the facts need from the loaded images, found in one walk of the loader's list: a lookup
// by name per fact walks the list, and lays out every image it passes, again for each image.
struct ImageFacts {
  const char* executablePath = nullptr;  // the image named exactly so gives the app's id,
  const char* executableName = nullptr;  // else the first whose name holds the file name
  bool substrate = false;
  bool exactFound = false, exactHasUUID = false, partialFound = false, partialHasUUID = false;
  std::uint8_t exactUUID[16] = {}, partialUUID[16] = {};
};

void visitImage(const DozidiCrashBinaryImage* image, void* context) {
  auto* facts = static_cast<ImageFacts*>(context);
  const char* name = image->name != nullptr ? image->name : "";
  if (std::strstr(name, "MobileSubstrate") != nullptr) facts->substrate = true;
  if (facts->executablePath == nullptr) return;
  const auto take = [image](bool* found, bool* hasUUID, std::uint8_t* uuid) {
    *found = true;
    *hasUUID = image->uuid != nullptr;
    if (*hasUUID) std::memcpy(uuid, image->uuid, 16);
  };
  if (!facts->exactFound && std::strcmp(name, facts->executablePath) == 0) {
    take(&facts->exactFound, &facts->exactHasUUID, facts->exactUUID);
  }
  if (!facts->partialFound && std::strstr(name, facts->executableName) != nullptr) {
    take(&facts->partialFound, &facts->partialHasUUID, facts->partialUUID);
  }
}

// Normal time: the images are read directly under the loader's lock, a few microseconds in
// all; through safe reads only when the loader's list could not be walked so.
ImageFacts imageFacts(const char* executablePath) {
  ImageFacts facts;
  if (executablePath != nullptr) {
    const char* slash = std::strrchr(executablePath, '/');
    facts.executablePath = executablePath;
    facts.executableName = slash != nullptr ? slash + 1 : executablePath;
  }
  if (!dozidicrashdl_forEachLoadedBinaryImage(visitImage, &facts)) dozidicrashdl_forEachBinaryImage(visitImage, &facts);
  return facts;
}

// The build-id of the image named as the executable, else of the first image whose name holds
// its file name, as text in `text` (37 bytes); null when neither has one.
const char* appID(const ImageFacts& facts, char* text) {
  const std::uint8_t* uuid = facts.exactHasUUID ? facts.exactUUID : facts.partialHasUUID ? facts.partialUUID : nullptr;
  if (uuid == nullptr) return nullptr;
  dozidicrashdl_uuidToString(uuid, text);
  return text;
}

// The first interface that is not the loopback: Linux names interfaces freely, so the phone's
// fixed "en0" rarely exists here.
std::string firstNetworkInterface() {
  std::string name;
  if (struct if_nameindex* all = if_nameindex()) {
    for (struct if_nameindex* i = all; i->if_index != 0 && name.empty(); ++i) {
      if (std::strcmp(i->if_name, "lo") != 0) name = i->if_name;
    }
    if_freenameindex(all);
  }
  return name;
}

const char* deviceAppHash(const foundation::DeviceFacts& device, const foundation::Bundle& bundle) {
  std::string input;
  std::optional<foundation::UUID> vendor =
      device.identifierForVendor ? foundation::UUID::fromString(*device.identifierForVendor) : std::nullopt;
  if (vendor) {
    input.append(reinterpret_cast<const char*>(vendor->bytes().data()), vendor->bytes().size());
  } else {
    std::uint8_t mac[6];
    std::string interfaceName = firstNetworkInterface();
    if (!interfaceName.empty() && dozidicrashsysctl_getMacAddress(interfaceName.c_str(), mac)) {
      input.append(reinterpret_cast<const char*>(mac), sizeof mac);
    }
  }
  for (const char* key : {"hw.machine", "hw.model"}) {
    if (const char* text = kernelString(key)) {
      input += text;
      std::free(const_cast<char*>(text));
    }
  }
  if (auto identifier = bundle.bundleIdentifier()) input += *identifier;
  return copyOf(dozidicrash_sha1Hex(input));
}

// No app-store receipts exist on Linux; a bundle with a provisioning profile is an enterprise build.
const char* buildType(const foundation::Bundle& bundle) {
  return bundle.path("embedded", "mobileprovision") ? "enterprise" : "unknown";
}

void fillStorage(std::uint64_t* total, std::uint64_t* available) {
  const char* home = std::getenv("HOME");
  struct statvfs info {};
  if (home == nullptr || ::statvfs(home, &info) != 0) return;
  *total = static_cast<std::uint64_t>(info.f_blocks) * info.f_frsize;
  *available = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

void gather() {
  foundation::DeviceFacts device = foundation::DeviceFacts::current();
  std::shared_ptr<const foundation::Bundle> bundle = foundation::Bundle::main();
  DozidiCrashSystemFacts& f = gFacts;
  f.systemName = copyOf(device.systemName);
  f.systemVersion = copyOf(device.systemVersion);
  f.machine = kernelString("hw.machine");
  f.model = kernelString("hw.model");
  f.kernelVersion = kernelString("kern.version");
  f.osVersion = kernelString("kern.osversion");
  f.bootTime = utcText(dozidicrashsysctl_timevalForName("kern.boottime").tv_sec);
  f.appStartTime = utcText(std::time(nullptr));

  std::optional<std::string> executable = bundle->object("CFBundleExecutable").asString();
  // Without a bundle naming its executable, the running program is the executable.
  std::string path = executable && !bundle->bundlePath().empty() ? bundle->bundlePath() + "/" + *executable : executablePathOnDisk();
  f.executablePath = path.empty() ? nullptr : copyOf(path);
  if (!executable && !path.empty()) executable = path.substr(path.rfind('/') + 1);
  f.executableName = copyOrNone(executable);
  f.bundleID = copyOrNone(bundle->object("CFBundleIdentifier").asString());
  f.bundleName = copyOrNone(bundle->object("CFBundleName").asString());
  f.bundleVersion = copyOrNone(bundle->object("CFBundleVersion").asString());
  f.bundleShortVersion = copyOrNone(bundle->object("CFBundleShortVersionString").asString());

  f.cpuType = dozidicrashsysctl_int32ForName("hw.cputype");
  f.cpuSubType = dozidicrashsysctl_int32ForName("hw.cpusubtype");
  f.cpuArchitecture = dozidicrashcm_system_cpuArchitecture(f.cpuType, f.cpuSubType);
  DozidiCrashBinaryImage first;
  if (dozidicrashdl_getBinaryImage(0, &first)) {
    f.binaryCPUType = first.cpuType;
    f.binaryCPUSubType = first.cpuSubType;
  }
  f.processName = copyOf(program_invocation_short_name);
  f.processID = static_cast<std::int32_t>(::getpid());
  f.parentProcessID = static_cast<std::int32_t>(::getppid());
  f.deviceAppHash = deviceAppHash(device, *bundle);
  f.buildType = buildType(*bundle);
  fillStorage(&f.storageSize, &f.freeStorageSize);
  f.memorySize = dozidicrashsysctl_uint64ForName("hw.memsize");
  const ImageFacts images = imageFacts(f.executablePath);
  f.isJailbroken = images.substrate;
  f.appID = appID(images, gAppIDText);
}

}  // namespace

void dozidicrashcm_system_setEnabled(bool isEnabled) {
  if (isEnabled) std::call_once(gGathered, gather);
  gEnabled.store(isEnabled, std::memory_order_release);
}

bool dozidicrashcm_system_isEnabled() { return gEnabled.load(std::memory_order_acquire); }

const DozidiCrashSystemFacts* dozidicrashcm_system_currentFacts() {
  if (!dozidicrashcm_system_isEnabled()) return nullptr;
  std::uint64_t freeBytes = 0, usableBytes = 0;
  // Both figures stay 0 when the kernel cannot tell.
  kernel::readMemoryFigures(&freeBytes, &usableBytes);
  gFacts.freeMemory = freeBytes;
  gFacts.usableMemory = usableBytes;
  return &gFacts;
}

std::uint64_t dozidicrashcm_system_freeMemorySize() {
  std::uint64_t freeBytes = 0, usableBytes = 0;
  return kernel::readMemoryFigures(&freeBytes, &usableBytes) ? freeBytes : 0;
}

std::uint64_t dozidicrashcm_system_freeStorageSize() {
  std::uint64_t total = 0, available = 0;
  fillStorage(&total, &available);
  return available;
}

bool dozidicrashcm_system_isSimulatorBuild() { return false; }

const char* dozidicrashcm_system_cpuArchitecture(std::int32_t cpuType, std::int32_t cpuSubType) {
  switch (cpuType) {
    case 7: return "x86";
    case 0x1000007: return "x86_64";
    case 0x100000C: return "arm64";
    case 12:
      switch (cpuSubType) {
        case 6: return "armv6";
        case 9: return "armv7";
        case 10: return "armv7f";
        case 11: return "armv7s";
        case 12: return "armv7k";
        default: return nullptr;
      }
    default: return nullptr;
  }
}

namespace {

void addContextualInfoToEvent(DozidiCrash_MonitorContext* eventContext) {
  if (const DozidiCrashSystemFacts* facts = dozidicrashcm_system_currentFacts()) {
    eventContext->System = *facts;
  }
}

constexpr DozidiCrashMonitorAPI kAPI = {dozidicrashcm_system_setEnabled, dozidicrashcm_system_isEnabled,
                                        addContextualInfoToEvent};

}  // namespace

const DozidiCrashMonitorAPI* dozidicrashcm_system_getAPI() { return &kAPI; }
