#pragma once
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataMiddleware.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiPredicateDescriptor.h"
#include "platform/foundation/Value.h"

/// The middleware that traces a context's work: a child span "db.sql.query" of the scope's bound
/// span around each fetch (its SQL-like description, "read_count"), and "db.sql.transaction"
/// around each save of a context with changes (a summary of the changes, "operations"). Keeps no
/// state between calls: any thread may use it.
class DozidiCoreDataTracker final : public DozidiCoreDataMiddleware {
 public:
  std::optional<coredata::ManagedObjects> managedObjectContext(coredata::NSManagedObjectContext& context,
                                                              const coredata::NSFetchRequest& request,
                                                              foundation::Error* error,
                                                              const FetchImp& originalImp) override;
  bool managedObjectContext(coredata::NSManagedObjectContext& context, foundation::Error* error,
                            const SaveImp& originalImp) override;

  /// "SELECT 'Entity' WHERE … SORT BY key DESCENDING, …".
  std::string descriptionFromRequest(const coredata::NSFetchRequest& request) const;
  /// "INSERTED", "UPDATED", "DELETED" (each only when not empty), each entity name -> number of
  /// objects.
  static foundation::Dictionary groupEntitiesOperations(const coredata::NSManagedObjectContext& context);
  /// "INSERTED 2 'Person', UPDATED 2 items".
  static std::string descriptionForOperations(const foundation::Dictionary& operations);

  const DozidiPredicateDescriptor& predicateDescriptor() const { return predicateDescriptor_; }

 private:
  DozidiPredicateDescriptor predicateDescriptor_;
};
