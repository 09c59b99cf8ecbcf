#pragma once
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

/// The reporter's questions to the object runtime, replaceable in tests. A class is known by its
/// run-time type information, whose name text lives in the binary image that defines the class
/// (the image with the class's first out-of-line virtual function).
class DozidiDefaultObjCRuntimeWrapper {
 public:
  static std::shared_ptr<DozidiDefaultObjCRuntimeWrapper> sharedInstance();
  virtual ~DozidiDefaultObjCRuntimeWrapper() = default;

  /// The path of the binary image that defines the class of `type`, as the dynamic linker names
  /// it; none when the linker knows no image there.
  virtual std::optional<std::string> class_getImageName(const std::type_info& type) const;
  /// The names of the runtime classes the image at `imagePath` defined, in the runtime's order.
  virtual std::vector<std::string> copyClassNamesForImage(const std::string& imagePath) const;
};
