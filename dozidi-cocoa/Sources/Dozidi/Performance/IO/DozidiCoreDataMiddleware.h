#pragma once
#include <functional>
#include <optional>

#include "platform/coredata/NSManagedObjectContext.h"

namespace foundation {
class Error;
}

/// Stands between a managed-object context's fetch and save and their implementations. Each
/// operation must call `originalImp` once (with the error out-parameter it was given) and return
/// its result unchanged.
class DozidiCoreDataMiddleware {
 public:
  using FetchImp = std::function<std::optional<coredata::ManagedObjects>(foundation::Error*)>;
  using SaveImp = std::function<bool(foundation::Error*)>;

  virtual ~DozidiCoreDataMiddleware() = default;
  /// A fetch: `context` runs `request`.
  virtual std::optional<coredata::ManagedObjects> managedObjectContext(coredata::NSManagedObjectContext& context,
                                                                      const coredata::NSFetchRequest& request,
                                                                      foundation::Error* error,
                                                                      const FetchImp& originalImp) = 0;
  /// A save of `context`.
  virtual bool managedObjectContext(coredata::NSManagedObjectContext& context, foundation::Error* error,
                                    const SaveImp& originalImp) = 0;
};
