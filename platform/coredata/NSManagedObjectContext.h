#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/coredata/NSManagedObject.h"
#include "platform/coredata/NSPredicate.h"
#include "platform/foundation/Result.h"
#include "platform/runtime/Methods.h"

namespace foundation {
class Error;
}

namespace coredata {

namespace detail {
class SQLiteDatabase;
}

using ManagedObjects = std::vector<std::shared_ptr<NSManagedObject>>;

/// A scratch pad of managed objects over an SQLite store: objects are inserted, changed and
/// deleted in memory, `save` writes all those changes in one transaction, `executeFetchRequest`
/// reads the saved objects of one entity. Within one context an object is one instance: a fetch
/// returns the instances already handed out.
///
/// Any thread may call every operation; they are serialised by the context's lock.
class NSManagedObjectContext : public runtime::Object, public std::enable_shared_from_this<NSManagedObjectContext> {
 public:
  /// A context over the store at `path` (created when missing; ":memory:" keeps it in memory).
  /// Fails (Cocoa domain, PersistentStoreOpen) when the file cannot be opened as a store.
  static foundation::Result<std::shared_ptr<NSManagedObjectContext>> openStore(const std::string& path);
  ~NSManagedObjectContext();

  /// A new object of the entity, registered as inserted.
  std::shared_ptr<NSManagedObject> insertNewObject(const std::string& entityName);
  /// Registers the object as deleted (an inserted one is simply forgotten). Objects of another
  /// context are ignored.
  void deleteObject(const std::shared_ptr<NSManagedObject>& object);

  bool hasChanges() const;
  /// The pending changes, each in the order the objects first changed.
  ManagedObjects insertedObjects() const;
  ManagedObjects updatedObjects() const;
  ManagedObjects deletedObjects() const;

  /// The saved objects of the request's entity that satisfy its predicate, in its sort order,
  /// except those deleted in this context; none with `*error` set (when not null) on failure.
  /// Sent through the object runtime, so an observer may wrap it.
  std::optional<ManagedObjects> executeFetchRequest(const NSFetchRequest& request, foundation::Error* error);
  /// Writes every pending change in one transaction: all of them or, on failure, none (the
  /// changes stay pending and `*error` says why). True without changes. Sent through the object
  /// runtime, so an observer may wrap it.
  bool save(foundation::Error* error);

  /// The selectors of the two methods, for those who replace them:
  ///   "executeFetchRequest:error:"  std::optional<ManagedObjects>(const NSFetchRequest&, foundation::Error*)
  ///   "save:"                       bool(foundation::Error*)
  static runtime::SEL executeFetchRequestErrorSelector();
  static runtime::SEL saveSelector();

  /// The implementations that the two sends above reach.
  std::optional<ManagedObjects> fetchFromStore(const NSFetchRequest& request, foundation::Error* error);
  bool saveToStore(foundation::Error* error);

 private:
  friend class NSManagedObject;
  explicit NSManagedObjectContext(std::unique_ptr<detail::SQLiteDatabase> db);
  void objectDidChange(const std::shared_ptr<NSManagedObject>& object);
  std::shared_ptr<NSManagedObject> registeredObject(std::int64_t objectID, const std::string& entity,
                                                    const std::string& attributesJSON, foundation::Error* error);
  bool isDeleted(const NSManagedObject* object) const;

  mutable std::mutex lock_;
  std::unique_ptr<detail::SQLiteDatabase> db_;
  ManagedObjects inserted_, updated_, deleted_;
  std::unordered_map<std::int64_t, std::weak_ptr<NSManagedObject>> registered_;
};

}  // namespace coredata
