#pragma once
#include <string>

/// The reporter's identity as envelopes and requests carry it: the SDK name ("dozidi.cocoa") and
/// version ("7.31.5"). A hybrid SDK may replace both through the options' "sdk" entry. The values
/// are behind a lock, so a start that replaces them never races with threads that read them.
class DozidiMeta {
 public:
  DozidiMeta() = delete;
  static std::string sdkName();
  static void setSdkName(std::string name);
  static std::string versionString();
  static void setVersionString(std::string version);
};
