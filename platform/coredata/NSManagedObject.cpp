#include "platform/coredata/NSManagedObject.h"

#include "platform/coredata/NSManagedObjectContext.h"

namespace coredata {

foundation::Value NSManagedObject::valueForKey(const std::string& key) const {
  std::lock_guard guard(lock_);
  const auto* value = attributes_.find(key);
  return value ? *value : foundation::Value();
}

void NSManagedObject::setValue(foundation::Value value, const std::string& key) {
  {
    std::lock_guard guard(lock_);
    attributes_.set(key, std::move(value));
  }
  // Outside the object's lock: the context takes its own lock and, while saving, reads
  // attributes under the object's lock.
  if (auto context = context_.lock()) context->objectDidChange(shared_from_this());
}

foundation::Dictionary NSManagedObject::attributes() const {
  std::lock_guard guard(lock_);
  return attributes_;
}

}  // namespace coredata
