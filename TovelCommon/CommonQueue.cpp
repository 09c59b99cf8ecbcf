#include "TovelCommon/CommonQueue.h"

#include "platform/dispatch/DispatchQueue.h"

namespace tovel {

const std::shared_ptr<dispatch::DispatchQueue>& commonQueue() {
  static const auto* queue = new std::shared_ptr<dispatch::DispatchQueue>(dispatch::DispatchQueue::create("TovelCommon"));
  return *queue;
}

}  // namespace tovel
