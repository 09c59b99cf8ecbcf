#include "platform/coredata/NSManagedObjectContext.h"

#include <algorithm>

#include "platform/coredata/CoreDataError.h"
#include "platform/coredata/detail/PredicateQuery.h"
#include "platform/coredata/detail/SQLiteDatabase.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/JSONSerialization.h"

namespace coredata {

using foundation::Error;
using foundation::Value;

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS objects ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  entity TEXT NOT NULL,"
    "  attributes TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS objects_entity ON objects(entity);";

void store(Error* out, Error error) {
  if (out) *out = std::move(error);
}

bool contains(const ManagedObjects& objects, const NSManagedObject* object) {
  return std::any_of(objects.begin(), objects.end(), [&](const auto& o) { return o.get() == object; });
}

void removeFrom(ManagedObjects& objects, const NSManagedObject* object) {
  objects.erase(std::remove_if(objects.begin(), objects.end(), [&](const auto& o) { return o.get() == object; }),
                objects.end());
}

/// The attributes as the JSON text the store keeps, or none when a value has no JSON form.
std::optional<std::string> attributesJSON(const NSManagedObject& object) {
  const Value attributes(object.attributes());
  if (!foundation::JSONSerialization::isValidJSONObject(attributes)) return std::nullopt;
  auto text = foundation::JSONSerialization::dataWithJSONObject(attributes);
  if (!text) return std::nullopt;
  return std::move(*text);
}

/// One prepared statement run to its end with `bindings`; SQLite's reason on failure.
std::optional<std::string> run(detail::SQLiteDatabase& db, const std::string& sql, const std::vector<Value>& bindings) {
  auto statement = db.prepare(sql);
  if (!statement) return db.lastError();
  if (!statement->bind(bindings)) return std::string("a value cannot be stored");
  if (statement->step() == detail::SQLiteStatement::Step::Failed) return db.lastError();
  return std::nullopt;
}

}  // namespace

foundation::Result<std::shared_ptr<NSManagedObjectContext>> NSManagedObjectContext::openStore(const std::string& path) {
  std::string message;
  auto db = detail::SQLiteDatabase::open(path, &message);
  if (!db) return coreDataError(CoreDataError::PersistentStoreOpen, path + ": " + message);
  if (!db->execute(kSchema)) return coreDataError(CoreDataError::PersistentStoreOpen, path + ": " + db->lastError());
  return std::shared_ptr<NSManagedObjectContext>(new NSManagedObjectContext(std::move(db)));
}

NSManagedObjectContext::NSManagedObjectContext(std::unique_ptr<detail::SQLiteDatabase> db) : db_(std::move(db)) {}
NSManagedObjectContext::~NSManagedObjectContext() = default;

std::shared_ptr<NSManagedObject> NSManagedObjectContext::insertNewObject(const std::string& entityName) {
  auto object = std::make_shared<NSManagedObject>(entityName, weak_from_this(), 0, foundation::Dictionary{});
  std::lock_guard guard(lock_);
  inserted_.push_back(object);
  return object;
}

void NSManagedObjectContext::deleteObject(const std::shared_ptr<NSManagedObject>& object) {
  if (!object || object->context_.lock().get() != this) return;
  std::lock_guard guard(lock_);
  if (contains(inserted_, object.get())) {
    removeFrom(inserted_, object.get());
    return;
  }
  removeFrom(updated_, object.get());
  if (!contains(deleted_, object.get())) deleted_.push_back(object);
}

void NSManagedObjectContext::objectDidChange(const std::shared_ptr<NSManagedObject>& object) {
  std::lock_guard guard(lock_);
  if (object->isTemporaryID() || contains(inserted_, object.get()) || contains(deleted_, object.get()) ||
      contains(updated_, object.get()))
    return;
  updated_.push_back(object);
}

bool NSManagedObjectContext::hasChanges() const {
  std::lock_guard guard(lock_);
  return !inserted_.empty() || !updated_.empty() || !deleted_.empty();
}

ManagedObjects NSManagedObjectContext::insertedObjects() const {
  std::lock_guard guard(lock_);
  return inserted_;
}

ManagedObjects NSManagedObjectContext::updatedObjects() const {
  std::lock_guard guard(lock_);
  return updated_;
}

ManagedObjects NSManagedObjectContext::deletedObjects() const {
  std::lock_guard guard(lock_);
  return deleted_;
}

namespace {

using FetchSignature = std::optional<ManagedObjects>(const NSFetchRequest&, Error*);
using SaveSignature = bool(Error*);

/// Registers the class with its own implementations when the library is loaded, before any send.
const runtime::Class kContextClass = [] {
  static const char anchor = 0;
  auto cls = runtime::registerClass<NSManagedObjectContext, runtime::Object>("NSManagedObjectContext", &anchor);
  runtime::class_addMethod(cls, NSManagedObjectContext::executeFetchRequestErrorSelector(),
                           runtime::imp_implementationWithBlock<FetchSignature>(
                               [](runtime::Object* self, const NSFetchRequest& request, Error* error) {
                                 return static_cast<NSManagedObjectContext*>(self)->fetchFromStore(request, error);
                               }));
  runtime::class_addMethod(cls, NSManagedObjectContext::saveSelector(),
                           runtime::imp_implementationWithBlock<SaveSignature>([](runtime::Object* self, Error* error) {
                             return static_cast<NSManagedObjectContext*>(self)->saveToStore(error);
                           }));
  return cls;
}();

}  // namespace

runtime::SEL NSManagedObjectContext::executeFetchRequestErrorSelector() {
  static const runtime::SEL selector = runtime::sel_registerName("executeFetchRequest:error:");
  return selector;
}

runtime::SEL NSManagedObjectContext::saveSelector() {
  static const runtime::SEL selector = runtime::sel_registerName("save:");
  return selector;
}

std::optional<ManagedObjects> NSManagedObjectContext::executeFetchRequest(const NSFetchRequest& request, Error* error) {
  return runtime::msgSend<FetchSignature>(this, executeFetchRequestErrorSelector(), request, error);
}

bool NSManagedObjectContext::save(Error* error) { return runtime::msgSend<SaveSignature>(this, saveSelector(), error); }

bool NSManagedObjectContext::saveToStore(Error* error) {
  std::lock_guard guard(lock_);
  if (inserted_.empty() && updated_.empty() && deleted_.empty()) return true;

  // Every value is checked before the transaction starts, so a bad one writes nothing.
  std::vector<std::string> insertedJSON, updatedJSON;
  for (const auto* group : {&inserted_, &updated_}) {
    auto& texts = group == &inserted_ ? insertedJSON : updatedJSON;
    for (const auto& object : *group) {
      auto text = attributesJSON(*object);
      if (!text) {
        store(error, coreDataError(CoreDataError::ValidationInvalidAttribute,
                                   "an attribute of a " + object->entity().name + " has no stored form"));
        return false;
      }
      texts.push_back(std::move(*text));
    }
  }

  std::vector<std::int64_t> newIDs;
  auto fail = [&](const std::string& reason) {
    db_->execute("ROLLBACK");
    store(error, coreDataError(CoreDataError::PersistentStoreSave, reason));
    return false;
  };
  if (!db_->execute("BEGIN IMMEDIATE")) return fail(db_->lastError());
  for (std::size_t i = 0; i < inserted_.size(); ++i) {
    if (auto failure = run(*db_, "INSERT INTO objects(entity, attributes) VALUES (?, ?)",
                           {Value(inserted_[i]->entity().name), Value(insertedJSON[i])}))
      return fail(*failure);
    newIDs.push_back(db_->lastInsertRowid());
  }
  for (std::size_t i = 0; i < updated_.size(); ++i) {
    if (auto failure = run(*db_, "UPDATE objects SET attributes = ? WHERE id = ?",
                           {Value(updatedJSON[i]), Value(updated_[i]->objectID())}))
      return fail(*failure);
  }
  for (const auto& object : deleted_) {
    if (auto failure = run(*db_, "DELETE FROM objects WHERE id = ?", {Value(object->objectID())}))
      return fail(*failure);
  }
  if (!db_->execute("COMMIT")) return fail(db_->lastError());

  for (std::size_t i = 0; i < inserted_.size(); ++i) {
    inserted_[i]->objectID_.store(newIDs[i]);
    registered_[newIDs[i]] = inserted_[i];
  }
  for (const auto& object : deleted_) registered_.erase(object->objectID());
  inserted_.clear();
  updated_.clear();
  deleted_.clear();
  return true;
}

bool NSManagedObjectContext::isDeleted(const NSManagedObject* object) const { return contains(deleted_, object); }

std::shared_ptr<NSManagedObject> NSManagedObjectContext::registeredObject(std::int64_t objectID,
                                                                          const std::string& entity,
                                                                          const std::string& json, Error* error) {
  auto found = registered_.find(objectID);
  if (found != registered_.end()) {
    if (auto object = found->second.lock()) return object;
  }
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(json);
  if (!parsed || !parsed->dictionary()) {
    store(error, coreDataError(CoreDataError::PersistentStoreCorruptObject,
                               "object " + std::to_string(objectID) + " of " + entity + " holds no attributes"));
    return nullptr;
  }
  auto object = std::make_shared<NSManagedObject>(entity, weak_from_this(), objectID, *parsed->dictionary());
  registered_[objectID] = object;
  return object;
}

std::optional<ManagedObjects> NSManagedObjectContext::fetchFromStore(const NSFetchRequest& request, Error* error) {
  std::lock_guard guard(lock_);
  std::string sql = "SELECT id, attributes FROM objects WHERE entity = ?";
  std::vector<Value> bindings{Value(request.entityName)};

  std::optional<detail::SQLCondition> condition;
  if (request.predicate) {
    condition = detail::sqlCondition(*request.predicate, "attributes");
    if (condition) {
      sql += " AND (" + condition->text + ")";
      bindings.insert(bindings.end(), condition->bindings.begin(), condition->bindings.end());
    }
  }
  const bool filterInMemory = request.predicate && !condition;

  std::vector<Value> sortPaths;
  std::string order;
  for (const auto& descriptor : request.sortDescriptors) {
    auto path = detail::jsonPathForKey(descriptor.key);
    if (!path) break;
    order += "json_extract(attributes, ?)" + std::string(descriptor.ascending ? " ASC, " : " DESC, ");
    sortPaths.push_back(Value(*path));
  }
  const bool sortInMemory = sortPaths.size() != request.sortDescriptors.size();
  if (sortInMemory) {
    sql += " ORDER BY id";
  } else {
    sql += " ORDER BY " + order + "id";
    bindings.insert(bindings.end(), sortPaths.begin(), sortPaths.end());
  }
  // Deleted objects are dropped after the query, so the limit is applied in memory too then.
  const bool limitInSQL = request.fetchLimit > 0 && !filterInMemory && !sortInMemory && deleted_.empty();
  if (limitInSQL) sql += " LIMIT " + std::to_string(request.fetchLimit);

  auto statement = db_->prepare(sql);
  if (!statement) {
    store(error, coreDataError(CoreDataError::PersistentStoreFetch, db_->lastError()));
    return std::nullopt;
  }
  if (!statement->bind(bindings)) {
    store(error, coreDataError(CoreDataError::PersistentStoreFetch, "a value of the predicate cannot be compared"));
    return std::nullopt;
  }

  ManagedObjects results;
  for (;;) {
    const auto step = statement->step();
    if (step == detail::SQLiteStatement::Step::Done) break;
    if (step == detail::SQLiteStatement::Step::Failed) {
      store(error, coreDataError(CoreDataError::PersistentStoreFetch, db_->lastError()));
      return std::nullopt;
    }
    auto object = registeredObject(statement->columnInt64(0), request.entityName, statement->columnText(1), error);
    if (!object) return std::nullopt;
    if (isDeleted(object.get())) continue;
    if (filterInMemory && !detail::evaluatePredicate(*request.predicate, object->attributes())) continue;
    results.push_back(std::move(object));
  }

  if (sortInMemory) {
    std::stable_sort(results.begin(), results.end(), [&](const auto& a, const auto& b) {
      for (const auto& descriptor : request.sortDescriptors) {
        const int c = detail::compareForSorting(detail::valueForKeyPath(a->attributes(), descriptor.key),
                                                detail::valueForKeyPath(b->attributes(), descriptor.key));
        if (c != 0) return descriptor.ascending ? c < 0 : c > 0;
      }
      return false;
    });
  }
  if (request.fetchLimit > 0 && results.size() > request.fetchLimit) results.resize(request.fetchLimit);
  return results;
}

}  // namespace coredata
