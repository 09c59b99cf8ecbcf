#include "platform/coredata/NSPredicate.h"

namespace coredata {

namespace {

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string describeConstant(const foundation::Value& value) {
  if (value.isAbsent() || value.isNull()) return "nil";
  if (const auto* text = value.string()) return quoted(*text);
  if (value.isBool()) return *value.asBool() ? "1" : "0";
  return value.description();
}

}  // namespace

const char* predicateOperatorSymbol(NSPredicateOperatorType type) {
  switch (type) {
    case NSPredicateOperatorType::LessThan: return "<";
    case NSPredicateOperatorType::LessThanOrEqualTo: return "<=";
    case NSPredicateOperatorType::GreaterThan: return ">";
    case NSPredicateOperatorType::GreaterThanOrEqualTo: return ">=";
    case NSPredicateOperatorType::EqualTo: return "==";
    case NSPredicateOperatorType::NotEqualTo: return "!=";
    case NSPredicateOperatorType::Matches: return "MATCHES";
    case NSPredicateOperatorType::Like: return "LIKE";
    case NSPredicateOperatorType::BeginsWith: return "BEGINSWITH";
    case NSPredicateOperatorType::EndsWith: return "ENDSWITH";
    case NSPredicateOperatorType::In: return "IN";
    case NSPredicateOperatorType::Contains: return "CONTAINS";
    case NSPredicateOperatorType::Between: return "BETWEEN";
    case NSPredicateOperatorType::CustomSelector: break;
  }
  return nullptr;
}

std::shared_ptr<const NSExpression> NSExpression::expressionForConstantValue(foundation::Value value) {
  auto e = std::make_shared<NSExpression>();
  e->type_ = NSExpressionType::ConstantValue;
  e->constant_ = std::move(value);
  return e;
}

std::shared_ptr<const NSExpression> NSExpression::expressionForKeyPath(std::string keyPath) {
  auto e = std::make_shared<NSExpression>();
  e->type_ = NSExpressionType::KeyPath;
  e->text_ = std::move(keyPath);
  return e;
}

std::shared_ptr<const NSExpression> NSExpression::expressionForEvaluatedObject() {
  auto e = std::make_shared<NSExpression>();
  e->type_ = NSExpressionType::EvaluatedObject;
  return e;
}

std::shared_ptr<const NSExpression> NSExpression::expressionForVariable(std::string name) {
  auto e = std::make_shared<NSExpression>();
  e->type_ = NSExpressionType::Variable;
  e->text_ = std::move(name);
  return e;
}

std::shared_ptr<const NSExpression> NSExpression::expressionForAggregate(
    std::vector<std::shared_ptr<const NSExpression>> collection) {
  auto e = std::make_shared<NSExpression>();
  e->type_ = NSExpressionType::Aggregate;
  e->collection_ = std::move(collection);
  return e;
}

std::shared_ptr<const NSExpression> NSExpression::expressionForConditional(
    std::shared_ptr<const NSPredicate> predicate, std::shared_ptr<const NSExpression> trueExpression,
    std::shared_ptr<const NSExpression> falseExpression) {
  auto e = std::make_shared<NSExpression>();
  e->type_ = NSExpressionType::Conditional;
  e->predicate_ = std::move(predicate);
  e->trueExpression_ = std::move(trueExpression);
  e->falseExpression_ = std::move(falseExpression);
  return e;
}

std::shared_ptr<const NSExpression> NSExpression::expressionOfType(NSExpressionType type, std::string text) {
  auto e = std::make_shared<NSExpression>();
  e->type_ = type;
  e->text_ = std::move(text);
  return e;
}

std::string NSExpression::description() const {
  switch (type_) {
    case NSExpressionType::ConstantValue: return describeConstant(constant_);
    case NSExpressionType::EvaluatedObject: return "SELF";
    case NSExpressionType::Variable: return "$" + text_;
    case NSExpressionType::Aggregate: {
      std::string out = "{";
      for (std::size_t i = 0; i < collection_.size(); ++i) {
        if (i) out += ", ";
        out += collection_[i] ? collection_[i]->description() : "nil";
      }
      return out + "}";
    }
    case NSExpressionType::Conditional:
      return "TERNARY(" + (predicate_ ? predicate_->predicateFormat() : "nil") + ", " +
             (trueExpression_ ? trueExpression_->description() : "nil") + ", " +
             (falseExpression_ ? falseExpression_->description() : "nil") + ")";
    default: return text_;
  }
}

std::shared_ptr<const NSPredicate> NSPredicate::truePredicate() {
  static const auto predicate = std::make_shared<const NSPredicate>();
  return predicate;
}

std::shared_ptr<const NSCompoundPredicate> NSCompoundPredicate::andPredicateWithSubpredicates(
    std::vector<std::shared_ptr<const NSPredicate>> subpredicates) {
  return std::make_shared<NSCompoundPredicate>(NSCompoundPredicateType::And, std::move(subpredicates));
}

std::shared_ptr<const NSCompoundPredicate> NSCompoundPredicate::orPredicateWithSubpredicates(
    std::vector<std::shared_ptr<const NSPredicate>> subpredicates) {
  return std::make_shared<NSCompoundPredicate>(NSCompoundPredicateType::Or, std::move(subpredicates));
}

std::shared_ptr<const NSCompoundPredicate> NSCompoundPredicate::notPredicateWithSubpredicate(
    std::shared_ptr<const NSPredicate> subpredicate) {
  return std::make_shared<NSCompoundPredicate>(NSCompoundPredicateType::Not,
                                               std::vector<std::shared_ptr<const NSPredicate>>{std::move(subpredicate)});
}

std::string NSCompoundPredicate::predicateFormat() const {
  std::vector<std::string> parts;
  for (const auto& sub : subpredicates_) {
    const std::string text = sub ? sub->predicateFormat() : "nil";
    parts.push_back(dynamic_cast<const NSCompoundPredicate*>(sub.get()) ? "(" + text + ")" : text);
  }
  if (type_ == NSCompoundPredicateType::Not) return "NOT " + (parts.empty() ? std::string() : parts.front());
  const std::string joiner = type_ == NSCompoundPredicateType::And ? " AND " : " OR ";
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? joiner : "") + parts[i];
  return out;
}

std::shared_ptr<const NSComparisonPredicate> NSComparisonPredicate::withKeyPath(std::string keyPath,
                                                                                NSPredicateOperatorType type,
                                                                                foundation::Value value) {
  std::shared_ptr<const NSExpression> right;
  if (const auto* items = value.array(); items && (type == NSPredicateOperatorType::In ||
                                                   type == NSPredicateOperatorType::Between)) {
    std::vector<std::shared_ptr<const NSExpression>> collection;
    for (const auto& item : *items) collection.push_back(NSExpression::expressionForConstantValue(item));
    right = NSExpression::expressionForAggregate(std::move(collection));
  } else {
    right = NSExpression::expressionForConstantValue(std::move(value));
  }
  return std::make_shared<NSComparisonPredicate>(NSExpression::expressionForKeyPath(std::move(keyPath)),
                                                 std::move(right), type);
}

std::string NSComparisonPredicate::predicateFormat() const {
  return (left_ ? left_->description() : "nil") + " " + (predicateOperatorSymbol(type_) ? predicateOperatorSymbol(type_) : "FUNCTION") + " " +
         (right_ ? right_->description() : "nil");
}

}  // namespace coredata
