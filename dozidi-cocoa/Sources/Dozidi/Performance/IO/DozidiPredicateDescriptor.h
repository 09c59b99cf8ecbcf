#pragma once
#include <memory>
#include <string>

namespace coredata {
class NSComparisonPredicate;
class NSCompoundPredicate;
class NSExpression;
class NSPredicate;
}  // namespace coredata

/// Describes a fetch predicate as SQL-like text with every constant hidden as "%@", so that a
/// span's description names the query's shape and never the user's data.
class DozidiPredicateDescriptor {
 public:
  /// Compound and comparison predicates by their parts; anything else "<UNKNOWN PREDICATE>".
  std::string predicateDescription(const std::shared_ptr<const coredata::NSPredicate>& predicate) const;
  /// The same, for an expression standing where a predicate is described.
  std::string predicateDescription(const std::shared_ptr<const coredata::NSExpression>& expression) const;

  std::string compoundPredicateDescription(const coredata::NSCompoundPredicate& predicate) const;
  std::string comparisonPredicateDescription(const coredata::NSComparisonPredicate& predicate) const;
  std::string expressionDescription(const coredata::NSExpression& expression) const;
};
