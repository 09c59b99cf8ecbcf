#include "platform/foundation/DeviceFacts.h"

#include <sys/utsname.h>

#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"

namespace foundation {

namespace {

void readText(const Dictionary& facts, std::string_view key, std::string& into) {
  if (const std::string* text = facts[key].string()) into = *text;
}

void readNumber(const Dictionary& facts, std::string_view key, double& into) {
  if (auto number = facts[key].asDouble()) into = *number;
}

}  // namespace

DeviceFacts DeviceFacts::current() {
  DeviceFacts facts;
  struct utsname names;
  if (::uname(&names) == 0) {
    facts.systemName = names.sysname;
    facts.systemVersion = names.release;
    facts.machine = names.machine;
  }
  auto bytes = FileManager::defaultManager().readFile(DeviceRoot::deviceFactsPath());
  if (!bytes) return facts;
  auto parsed = JSONSerialization::JSONObjectWithData(bytes->view());
  if (!parsed || !parsed->dictionary()) return facts;
  const Dictionary& file = *parsed->dictionary();

  if (const std::string* id = file["identifierForVendor"].string()) facts.identifierForVendor = *id;
  readText(file, "systemName", facts.systemName);
  readText(file, "systemVersion", facts.systemVersion);
  readText(file, "machine", facts.machine);
  if (const Dictionary* screen = file["screen"].dictionary()) {
    readNumber(*screen, "width", facts.screen.width);
    readNumber(*screen, "height", facts.screen.height);
    readNumber(*screen, "scale", facts.screen.scale);
  }
  return facts;
}

}  // namespace foundation
