#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiHttpStatusCodeRange.h"
#include "platform/foundation/Value.h"

class DozidiBreadcrumb;
class DozidiEvent;
class DozidiSamplingContext;
namespace foundation {
class URLSessionDelegate;
}

/// Gets an event before it is sent; returns it (changed or not), or none to drop it.
using DozidiBeforeSendCallback = std::function<std::shared_ptr<DozidiEvent>(std::shared_ptr<DozidiEvent>)>;
/// Gets a breadcrumb before it is added; returns it (changed or not), or none to drop it.
using DozidiBeforeBreadcrumbCallback =
    std::function<std::shared_ptr<DozidiBreadcrumb>(std::shared_ptr<DozidiBreadcrumb>)>;
/// Gets the event of a crash of the last run.
using DozidiOnCrashedLastRunCallback = std::function<void(std::shared_ptr<DozidiEvent>)>;
/// Decides a sample rate for a transaction or profile; none leaves the decision to the rate.
using DozidiSamplerCallback = std::function<std::optional<double>(const DozidiSamplingContext&)>;

/// A regular expression as the options carry it (the platform's NSRegularExpression): a pattern
/// and whether case is ignored. Matching belongs to the code that uses the targets.
struct DozidiRegularExpression {
  std::string pattern;
  bool caseInsensitive = false;
};

// Objects that an options dictionary carries inside dynamic values: an opaque value whose type
// name says which of these it holds. A callback of one kind never reads as a callback of another.
template <class T>
struct DozidiObjectTypeName;
template <>
struct DozidiObjectTypeName<DozidiBeforeSendCallback> {
  static constexpr const char* value = "DozidiBeforeSendCallback";
};
template <>
struct DozidiObjectTypeName<DozidiBeforeBreadcrumbCallback> {
  static constexpr const char* value = "DozidiBeforeBreadcrumbCallback";
};
template <>
struct DozidiObjectTypeName<DozidiOnCrashedLastRunCallback> {
  static constexpr const char* value = "DozidiOnCrashedLastRunCallback";
};
template <>
struct DozidiObjectTypeName<DozidiSamplerCallback> {
  static constexpr const char* value = "DozidiSamplerCallback";
};
template <>
struct DozidiObjectTypeName<DozidiRegularExpression> {
  static constexpr const char* value = "NSRegularExpression";
};
template <>
struct DozidiObjectTypeName<DozidiHttpStatusCodeRange> {
  static constexpr const char* value = "DozidiHttpStatusCodeRange";
};
template <>
struct DozidiObjectTypeName<foundation::URLSessionDelegate> {
  static constexpr const char* value = "NSURLSessionDelegate";
};

/// A dynamic value holding `object`.
template <class T>
foundation::Value dozidiObjectValue(std::shared_ptr<const T> object) {
  return foundation::Opaque{std::static_pointer_cast<const void>(std::move(object)), DozidiObjectTypeName<T>::value};
}
template <class T>
foundation::Value dozidiObjectValue(T object) {
  return dozidiObjectValue<T>(std::make_shared<const T>(std::move(object)));
}

/// The object of type T that `value` holds, or none when it holds something else.
template <class T>
std::shared_ptr<const T> dozidiObject(const foundation::Value& value) {
  const foundation::Opaque* opaque = value.opaque();
  if (!opaque || opaque->typeName != DozidiObjectTypeName<T>::value) return nullptr;
  return std::static_pointer_cast<const T>(opaque->object);
}
