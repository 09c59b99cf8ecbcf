#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataTracker.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSpan.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"

using foundation::Dictionary;
using foundation::Value;

namespace {

constexpr const char* kQueryOperation = "db.sql.query";
constexpr const char* kTransactionOperation = "db.sql.transaction";
constexpr const char* const kOperationWords[] = {"INSERTED", "UPDATED", "DELETED"};

std::shared_ptr<DozidiSpan> startChild(const std::string& operation, const std::string& description) {
  std::shared_ptr<DozidiSpan> child;
  DozidiSDK::currentHub()->scope()->useSpan([&](const std::shared_ptr<DozidiSpan>& bound) {
    if (bound) child = bound->startChildWithOperation(operation, description);
  });
  return child;
}

void logStarted(const std::shared_ptr<DozidiSpan>& span, const char* operation) {
  DOZIDI_LOG_DEBUG("DozidiCoreDataTracker automatically started a new span with description: " +
                   span->context()->spanDescription().value_or("") + ", operation: " + operation);
}

void finish(const std::shared_ptr<DozidiSpan>& span, bool succeeded) {
  span->finishWithStatus(succeeded ? DozidiSpanStatus::Ok : DozidiSpanStatus::InternalError);
  DOZIDI_LOG_DEBUG(std::string("DozidiCoreDataTracker automatically finished span with status: ") +
                   (succeeded ? "ok" : "error"));
}

Dictionary countByEntity(const coredata::ManagedObjects& objects) {
  Dictionary counts;
  for (const auto& object : objects) {
    const auto& name = object->entity().name;
    counts.set(name, Value(counts.find(name) ? *counts[name].asInt64() + 1 : std::int64_t{1}));
  }
  return counts;
}

}  // namespace

std::optional<coredata::ManagedObjects> DozidiCoreDataTracker::managedObjectContext(
    coredata::NSManagedObjectContext&, const coredata::NSFetchRequest& request, foundation::Error* error,
    const FetchImp& originalImp) {
  auto span = startChild(kQueryOperation, descriptionFromRequest(request));
  if (span) {
    logStarted(span, kQueryOperation);
  } else {
    DOZIDI_LOG_ERROR("managedObjectContext:executeFetchRequest:error:originalImp: fetchSpan is nil.");
  }
  auto result = originalImp(error);
  if (span) {
    span->setDataValue(static_cast<std::int64_t>(result ? result->size() : 0), "read_count");
    finish(span, result.has_value());
  }
  return result;
}

bool DozidiCoreDataTracker::managedObjectContext(coredata::NSManagedObjectContext& context, foundation::Error* error,
                                                 const SaveImp& originalImp) {
  std::shared_ptr<DozidiSpan> span;
  if (context.hasChanges()) {
    const Dictionary operations = groupEntitiesOperations(context);
    span = startChild(kTransactionOperation, descriptionForOperations(operations));
    if (span) {
      logStarted(span, kTransactionOperation);
      span->setDataValue(operations, "operations");
    }
  }
  const bool saved = originalImp(error);
  if (span) finish(span, saved);
  return saved;
}

std::string DozidiCoreDataTracker::descriptionFromRequest(const coredata::NSFetchRequest& request) const {
  std::string out = "SELECT '" + request.entityName + "'";
  if (request.predicate) out += " WHERE " + predicateDescriptor_.predicateDescription(request.predicate);
  if (!request.sortDescriptors.empty()) {
    out += " SORT BY ";
    for (std::size_t i = 0; i < request.sortDescriptors.size(); ++i) {
      const auto& descriptor = request.sortDescriptors[i];
      out += (i ? ", " : "") + descriptor.key + (descriptor.ascending ? "" : " DESCENDING");
    }
  }
  return out;
}

Dictionary DozidiCoreDataTracker::groupEntitiesOperations(const coredata::NSManagedObjectContext& context) {
  Dictionary groups;
  const coredata::ManagedObjects changes[] = {context.insertedObjects(), context.updatedObjects(),
                                              context.deletedObjects()};
  for (int i = 0; i < 3; ++i)
    if (!changes[i].empty()) groups.set(kOperationWords[i], countByEntity(changes[i]));
  return groups;
}

std::string DozidiCoreDataTracker::descriptionForOperations(const Dictionary& operations) {
  std::string out;
  for (const char* word : kOperationWords) {
    const auto* entities = operations[word].dictionary();
    if (!entities || entities->empty()) continue;
    if (!out.empty()) out += ", ";
    if (entities->size() == 1) {
      const auto& [name, count] = *entities->begin();
      out += std::string(word) + " " + std::to_string(count.asInt64().value_or(0)) + " '" + name + "'";
    } else {
      std::int64_t total = 0;
      for (const auto& [name, count] : *entities) total += count.asInt64().value_or(0);
      out += std::string(word) + " " + std::to_string(total) + " items";
    }
  }
  return out;
}
