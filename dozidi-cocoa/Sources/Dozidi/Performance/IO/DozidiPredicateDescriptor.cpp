#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiPredicateDescriptor.h"

#include <vector>

#include "platform/coredata/NSPredicate.h"

using coredata::NSComparisonPredicate;
using coredata::NSCompoundPredicate;
using coredata::NSCompoundPredicateType;
using coredata::NSExpression;
using coredata::NSExpressionType;
using coredata::NSPredicateOperatorType;

namespace {

constexpr const char* kUnknownPredicate = "<UNKNOWN PREDICATE>";

std::string typeWord(NSCompoundPredicateType type) {
  switch (type) {
    case NSCompoundPredicateType::Not: return "NOT";
    case NSCompoundPredicateType::And: return " AND ";
    case NSCompoundPredicateType::Or: return " OR ";
  }
  return ", ";
}

}  // namespace

std::string DozidiPredicateDescriptor::predicateDescription(
    const std::shared_ptr<const coredata::NSPredicate>& predicate) const {
  if (const auto* compound = dynamic_cast<const NSCompoundPredicate*>(predicate.get()))
    return compoundPredicateDescription(*compound);
  if (const auto* comparison = dynamic_cast<const NSComparisonPredicate*>(predicate.get()))
    return comparisonPredicateDescription(*comparison);
  return kUnknownPredicate;
}

std::string DozidiPredicateDescriptor::predicateDescription(const std::shared_ptr<const NSExpression>& expression) const {
  return expression ? expressionDescription(*expression) : kUnknownPredicate;
}

std::string DozidiPredicateDescriptor::compoundPredicateDescription(const NSCompoundPredicate& predicate) const {
  std::vector<std::string> parts;
  for (const auto& sub : predicate.subpredicates()) {
    const std::string text = predicateDescription(sub);
    parts.push_back(dynamic_cast<const NSCompoundPredicate*>(sub.get()) ? "(" + text + ")" : text);
  }
  const std::string word = typeWord(predicate.compoundPredicateType());
  if (parts.size() == 1) return word + " " + parts.front();
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? word : "") + parts[i];
  return out;
}

std::string DozidiPredicateDescriptor::comparisonPredicateDescription(const NSComparisonPredicate& predicate) const {
  // Operator numbers outside the platform's list are no operator either.
  const char* op = coredata::predicateOperatorSymbol(predicate.predicateOperatorType());
  if (!op) return "<COMPARISON NOT SUPPORTED>";
  return predicateDescription(predicate.leftExpression()) + " " + op + " " +
         predicateDescription(predicate.rightExpression());
}

std::string DozidiPredicateDescriptor::expressionDescription(const NSExpression& expression) const {
  switch (expression.expressionType()) {
    case NSExpressionType::ConstantValue: return "%@";
    case NSExpressionType::Aggregate: {
      std::string out = "{";
      const auto& items = expression.collection();
      for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + predicateDescription(items[i]);
      return out + "}";
    }
    case NSExpressionType::Conditional: {
      const auto* condition = dynamic_cast<const NSComparisonPredicate*>(expression.predicate().get());
      return "TERNARY(" + (condition ? comparisonPredicateDescription(*condition) : predicateDescription(expression.predicate())) +
             "," + predicateDescription(expression.trueExpression()) + "," +
             predicateDescription(expression.falseExpression()) + ")";
    }
    default: return expression.description();
  }
}
