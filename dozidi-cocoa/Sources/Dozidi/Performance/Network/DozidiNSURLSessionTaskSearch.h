#pragma once
#include <vector>

#include "platform/runtime/Methods.h"

/// Finds the URL session task classes whose methods network tracking replaces.
class DozidiNSURLSessionTaskSearch {
 public:
  /// From the class of a data task up its superclasses while they answer "setState:", every
  /// class with a "setState:" of its own (one that differs from its superclass's), in that order.
  static std::vector<runtime::Class> urlSessionTaskClassesToTrack();
};
