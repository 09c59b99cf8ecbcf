#pragma once
#include <string>

namespace uikit {

/// The common base of the objects an archive can hold (views, controllers, recognisers, bar
/// items): a class name the archive registries know it by and the hook that runs once an archive
/// has built every object and connected every outlet.
class NSObject {
 public:
  virtual ~NSObject() = default;
  virtual std::string className() const { return "NSObject"; }
  /// Called after every object of the archive exists and every outlet is connected.
  virtual void awakeFromNib() {}
};

}  // namespace uikit
