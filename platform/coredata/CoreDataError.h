#pragma once
#include <cstdint>
#include <string>

namespace foundation {
class Error;
}

namespace coredata {

/// Codes of the Cocoa domain that the managed-object context reports, numbered as the platform's.
enum class CoreDataError : std::int64_t {
  // Values the store cannot hold.
  ValidationInvalidAttribute = 1610,
  // Store failures.
  PersistentStoreOpen = 134080,
  PersistentStoreSave = 134030,
  PersistentStoreFetch = 134060,
  PersistentStoreCorruptObject = 134110,
};

/// An error of `code` in the Cocoa domain reading "cannot VERB: reason".
foundation::Error coreDataError(CoreDataError code, const std::string& reason);

}  // namespace coredata
