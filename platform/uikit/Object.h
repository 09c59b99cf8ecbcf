#pragma once
#include <string>

#include "platform/runtime/Methods.h"

namespace uikit {

/// The common base of the objects an archive can hold (views, controllers, recognisers, bar
/// items): a class name the archive registries know it by and the hook that runs once an archive
/// has built every object and connected every outlet. Every such object is also an object of the
/// runtime: messages the toolkit lets others replace are sent to it through the method table.
class NSObject : public runtime::Object {
 public:
  virtual ~NSObject() = default;
  virtual std::string className() const { return "NSObject"; }
  /// Called after every object of the archive exists and every outlet is connected.
  virtual void awakeFromNib() {}
};

}  // namespace uikit
