#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Value.h"

namespace coredata {

class NSManagedObjectContext;

/// The description of an entity: for this store, its name.
struct NSEntityDescription {
  std::string name;
};

/// One object of a managed-object context: an entity name and attribute values (numbers, strings,
/// null, and arrays or dictionaries of those). Made by its context (insert or fetch), never alone.
/// Any thread may read and set attributes; changes are saved by the context.
class NSManagedObject : public std::enable_shared_from_this<NSManagedObject> {
 public:
  NSManagedObject(std::string entityName, std::weak_ptr<NSManagedObjectContext> context, std::int64_t objectID,
                  foundation::Dictionary attributes)
      : entity_{std::move(entityName)}, context_(std::move(context)), objectID_(objectID),
        attributes_(std::move(attributes)) {}

  const NSEntityDescription& entity() const { return entity_; }
  /// The store's row id; 0 until the object's first save.
  std::int64_t objectID() const { return objectID_.load(); }
  bool isTemporaryID() const { return objectID() == 0; }

  /// The attribute's value; absent when the object has none under `key`.
  foundation::Value valueForKey(const std::string& key) const;
  /// Sets an attribute (an absent value removes it) and registers the object as updated in its
  /// context when it is already saved.
  void setValue(foundation::Value value, const std::string& key);
  foundation::Dictionary attributes() const;

 private:
  friend class NSManagedObjectContext;
  NSEntityDescription entity_;
  std::weak_ptr<NSManagedObjectContext> context_;
  std::atomic<std::int64_t> objectID_;
  mutable std::mutex lock_;
  foundation::Dictionary attributes_;
};

}  // namespace coredata
