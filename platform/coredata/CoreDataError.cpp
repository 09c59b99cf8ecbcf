#include "platform/coredata/CoreDataError.h"

#include "platform/foundation/Error.h"

namespace coredata {

foundation::Error coreDataError(CoreDataError code, const std::string& reason) {
  std::string verb;
  switch (code) {
    case CoreDataError::ValidationInvalidAttribute: verb = "cannot save the object"; break;
    case CoreDataError::PersistentStoreOpen: verb = "cannot open the store"; break;
    case CoreDataError::PersistentStoreSave: verb = "cannot save the context"; break;
    case CoreDataError::PersistentStoreFetch: verb = "cannot fetch"; break;
    case CoreDataError::PersistentStoreCorruptObject: verb = "cannot read a stored object"; break;
  }
  return foundation::Error::withDescription(foundation::kCocoaErrorDomain, static_cast<std::int64_t>(code),
                                            verb + ": " + reason);
}

}  // namespace coredata
