#pragma once
// The object model of fetch predicates: expressions, comparisons and compounds. Immutable after
// construction, so one predicate may be shared by requests on several threads.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace coredata {

class NSPredicate;

/// The kinds of expression, numbered as the platform numbers them.
enum class NSExpressionType : std::uint32_t {
  ConstantValue = 0,
  EvaluatedObject = 1,
  Variable = 2,
  KeyPath = 3,
  Function = 4,
  Aggregate = 14,
  Conditional = 20,
};

/// One side of a comparison: a constant, an attribute of the evaluated object by key path, the
/// object itself, a collection of expressions, or a conditional choice between two expressions.
class NSExpression {
 public:
  static std::shared_ptr<const NSExpression> expressionForConstantValue(foundation::Value value);
  static std::shared_ptr<const NSExpression> expressionForKeyPath(std::string keyPath);
  static std::shared_ptr<const NSExpression> expressionForEvaluatedObject();
  static std::shared_ptr<const NSExpression> expressionForVariable(std::string name);
  static std::shared_ptr<const NSExpression> expressionForAggregate(
      std::vector<std::shared_ptr<const NSExpression>> collection);
  static std::shared_ptr<const NSExpression> expressionForConditional(std::shared_ptr<const NSPredicate> predicate,
                                                                     std::shared_ptr<const NSExpression> trueExpression,
                                                                     std::shared_ptr<const NSExpression> falseExpression);
  /// An expression of a kind this model does not evaluate (a function call, for instance),
  /// described by `text`.
  static std::shared_ptr<const NSExpression> expressionOfType(NSExpressionType type, std::string text);

  NSExpressionType expressionType() const { return type_; }
  const foundation::Value& constantValue() const { return constant_; }
  const std::string& keyPath() const { return text_; }
  const std::string& variable() const { return text_; }
  const std::vector<std::shared_ptr<const NSExpression>>& collection() const { return collection_; }
  const std::shared_ptr<const NSPredicate>& predicate() const { return predicate_; }
  const std::shared_ptr<const NSExpression>& trueExpression() const { return trueExpression_; }
  const std::shared_ptr<const NSExpression>& falseExpression() const { return falseExpression_; }

  /// The platform's text of the expression: a key path by name, a constant as its value (strings
  /// quoted), "SELF", "$name", "{a, b}", "TERNARY(p, a, b)".
  std::string description() const;

 private:
  NSExpressionType type_ = NSExpressionType::ConstantValue;
  foundation::Value constant_;
  std::string text_;
  std::vector<std::shared_ptr<const NSExpression>> collection_;
  std::shared_ptr<const NSPredicate> predicate_;
  std::shared_ptr<const NSExpression> trueExpression_, falseExpression_;
};

/// A condition on an object. The base class is the predicate that is always true.
class NSPredicate {
 public:
  virtual ~NSPredicate() = default;
  static std::shared_ptr<const NSPredicate> truePredicate();
  /// The platform's text of the predicate ("name == \"Bob\" AND age > 30").
  virtual std::string predicateFormat() const { return "TRUEPREDICATE"; }
};

enum class NSCompoundPredicateType : std::uint32_t { Not = 0, And = 1, Or = 2 };

/// NOT of one predicate, or AND / OR of several.
class NSCompoundPredicate : public NSPredicate {
 public:
  NSCompoundPredicate(NSCompoundPredicateType type, std::vector<std::shared_ptr<const NSPredicate>> subpredicates)
      : type_(type), subpredicates_(std::move(subpredicates)) {}
  static std::shared_ptr<const NSCompoundPredicate> andPredicateWithSubpredicates(
      std::vector<std::shared_ptr<const NSPredicate>> subpredicates);
  static std::shared_ptr<const NSCompoundPredicate> orPredicateWithSubpredicates(
      std::vector<std::shared_ptr<const NSPredicate>> subpredicates);
  static std::shared_ptr<const NSCompoundPredicate> notPredicateWithSubpredicate(
      std::shared_ptr<const NSPredicate> subpredicate);

  NSCompoundPredicateType compoundPredicateType() const { return type_; }
  const std::vector<std::shared_ptr<const NSPredicate>>& subpredicates() const { return subpredicates_; }
  std::string predicateFormat() const override;

 private:
  NSCompoundPredicateType type_;
  std::vector<std::shared_ptr<const NSPredicate>> subpredicates_;
};

/// Operators of a comparison, numbered as the platform numbers them.
enum class NSPredicateOperatorType : std::uint32_t {
  LessThan = 0,
  LessThanOrEqualTo = 1,
  GreaterThan = 2,
  GreaterThanOrEqualTo = 3,
  EqualTo = 4,
  NotEqualTo = 5,
  Matches = 6,  ///< the whole string matches a regular expression (ECMAScript)
  Like = 7,     ///< the whole string matches a pattern with the wildcards * and ?
  BeginsWith = 8,
  EndsWith = 9,
  In = 10,
  CustomSelector = 11,
  Contains = 99,
  Between = 100,
};

/// The operator's symbol in predicate text ("<", "==", "BEGINSWITH"); null for a custom selector.
const char* predicateOperatorSymbol(NSPredicateOperatorType type);

/// `left operator right`.
class NSComparisonPredicate : public NSPredicate {
 public:
  NSComparisonPredicate(std::shared_ptr<const NSExpression> left, std::shared_ptr<const NSExpression> right,
                        NSPredicateOperatorType type)
      : left_(std::move(left)), right_(std::move(right)), type_(type) {}
  /// `keyPath operator value`, the common case.
  static std::shared_ptr<const NSComparisonPredicate> withKeyPath(std::string keyPath, NSPredicateOperatorType type,
                                                                  foundation::Value value);

  const std::shared_ptr<const NSExpression>& leftExpression() const { return left_; }
  const std::shared_ptr<const NSExpression>& rightExpression() const { return right_; }
  NSPredicateOperatorType predicateOperatorType() const { return type_; }
  std::string predicateFormat() const override;

 private:
  std::shared_ptr<const NSExpression> left_, right_;
  NSPredicateOperatorType type_;
};

/// One key of a fetch's sort order.
struct NSSortDescriptor {
  std::string key;
  bool ascending = true;
};

/// What a fetch reads: the objects of one entity that satisfy the predicate (all of them without
/// one), in the sort order (store order without one), at most `fetchLimit` of them (0: no limit).
struct NSFetchRequest {
  std::string entityName;
  std::shared_ptr<const NSPredicate> predicate;
  std::vector<NSSortDescriptor> sortDescriptors;
  std::size_t fetchLimit = 0;
};

}  // namespace coredata
