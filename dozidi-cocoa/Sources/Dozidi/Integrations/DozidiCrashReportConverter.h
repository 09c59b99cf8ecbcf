#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEventLevel.h"
#include "platform/foundation/Value.h"

class DozidiBreadcrumb;
class DozidiDebugMeta;
class DozidiEvent;
class DozidiException;
class DozidiFrame;
class DozidiInAppLogic;
class DozidiMechanism;
class DozidiStacktrace;
class DozidiThread;
class DozidiUser;

/// Turns one decoded, fixed-up crash report into a fatal event: exception and mechanism from the
/// crash's error, threads with their stack traces (outermost frame first), the debug images the
/// frames point into, and the crash-time scope (user section with the scope mirror laid over
/// it). A report that holds a recrash report is converted from the inner report's crash. Used by
/// one thread at a time; each report gets its own converter. Text of the report that is not
/// valid UTF-8 is repaired (U+FFFD) first, so that the event always serialises.
class DozidiCrashReportConverter {
 public:
  DozidiCrashReportConverter(const foundation::Dictionary& report, std::shared_ptr<const DozidiInAppLogic> inAppLogic);

  /// The event; none when the report holds nothing to convert (it is not a crash report).
  std::shared_ptr<DozidiEvent> convertReportToEvent();

  std::vector<std::shared_ptr<DozidiThread>> convertThreads();
  std::shared_ptr<DozidiThread> threadAtIndex(std::size_t index);
  /// The first thread marked crashed; none when no thread is.
  std::shared_ptr<DozidiThread> crashedThread();
  std::vector<std::shared_ptr<DozidiFrame>> stackFramesForThreadIndex(std::size_t index);
  std::shared_ptr<DozidiFrame> stackFrame(const foundation::Value& rawFrame);
  /// The first image in report order with image_addr <= address < image_addr + image_size.
  const foundation::Dictionary* binaryImageForAddress(std::uint64_t address) const;
  std::vector<std::shared_ptr<DozidiDebugMeta>> debugMetaForThreads(const std::vector<std::shared_ptr<DozidiThread>>& threads);
  static std::shared_ptr<DozidiDebugMeta> debugMetaFromBinaryImageDictionary(const foundation::Dictionary& image);
  std::optional<std::vector<std::shared_ptr<DozidiException>>> convertExceptions();
  std::shared_ptr<DozidiMechanism> extractMechanismOfType(const std::string& type) const;
  std::shared_ptr<DozidiUser> convertUser() const;
  std::vector<std::shared_ptr<DozidiBreadcrumb>> convertBreadcrumbs() const;
  static DozidiEventLevel dozidiLevelFromString(const foundation::Value& level);

  /// "0x%016llx" of the value's unsigned 64-bit reading; sixteen zeros for a missing value.
  static std::string addressText(const foundation::Value& value);
  /// The address reading of a report number: negative integers are addresses at or above 2^63
  /// that the report's writer printed through its signed path.
  static std::optional<std::uint64_t> unsignedReading(const foundation::Value& value);

  const foundation::Dictionary& userContext() const { return userContext_; }
  std::optional<std::size_t> crashedThreadIndex() const { return crashedThreadIndex_; }

 private:
  std::string enhanceValueFromNotableAddresses(std::string value) const;
  std::string enhanceValueFromCrashInfoMessage(std::string value) const;

  std::shared_ptr<const DozidiInAppLogic> inAppLogic_;
  foundation::Dictionary report_;
  foundation::Dictionary userContext_;
  foundation::Dictionary exceptionContext_;
  foundation::Array binaryImages_;
  std::vector<foundation::Dictionary> threads_;
  std::optional<std::size_t> crashedThreadIndex_;
  std::string diagnosis_;
};
