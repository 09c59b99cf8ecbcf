#include "MessageBanners/NibLoading.h"

#include <cxxabi.h>

#include <cstdlib>

#include "MessageBanners/Archiving.h"
#include "MessageBanners/MessageView.h"

namespace MessageBanners {

namespace {
/// The platform's null object, which archives know by no attribute or outlet.
class NullOwner : public uikit::NSObject {
 public:
  std::string className() const override { return "NSNull"; }
};
}  // namespace

std::shared_ptr<uikit::NSObject> newNullOwner() { return std::make_shared<NullOwner>(); }

namespace detail {

std::vector<std::shared_ptr<uikit::NSObject>> loadNibObjects(const std::string& name,
                                                             const std::shared_ptr<const foundation::Bundle>& bundle,
                                                             const std::shared_ptr<uikit::NSObject>& owner) {
  registerArchiveClasses();
  auto chosen = bundle;
  if (!chosen) {
    auto main = foundation::Bundle::main();
    chosen = main && main->path(name, "nib") ? main : resourceBundle();
  }
  auto objects = uikit::loadNibNamedInBundle(name, owner, chosen);
  if (!objects) return {};
  return std::move(*objects);
}

std::string nibNameOfType(const std::type_info& type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : type.name();
  std::free(demangled);
  // Both separators count, so a name qualified either way gives its last component.
  for (const char* separator : {"::", "."}) {
    auto at = name.rfind(separator);
    if (at != std::string::npos) name = name.substr(at + std::string(separator).size());
  }
  return name;
}

}  // namespace detail
}  // namespace MessageBanners
