#include "dozidi-cocoa/Sources/Dozidi/DozidiDefaultObjCRuntimeWrapper.h"

#include <dlfcn.h>

#include "platform/runtime/Methods.h"

std::shared_ptr<DozidiDefaultObjCRuntimeWrapper> DozidiDefaultObjCRuntimeWrapper::sharedInstance() {
  static const auto* instance =
      new std::shared_ptr<DozidiDefaultObjCRuntimeWrapper>(std::make_shared<DozidiDefaultObjCRuntimeWrapper>());
  return *instance;
}

std::optional<std::string> DozidiDefaultObjCRuntimeWrapper::class_getImageName(const std::type_info& type) const {
  // The type's name text, not the type_info object: an executable that names a library's class
  // gets a copy of the type_info object (a copy relocation), while the name text it points to
  // stays in the library that defines the class.
  Dl_info info{};
  if (::dladdr(static_cast<const void*>(type.name()), &info) == 0 || !info.dli_fname || !*info.dli_fname) return std::nullopt;
  return std::string(info.dli_fname);
}

std::vector<std::string> DozidiDefaultObjCRuntimeWrapper::copyClassNamesForImage(const std::string& imagePath) const {
  return runtime::copyClassNamesForImage(imagePath);
}
