#include "platform/coredata/detail/PredicateQuery.h"

#include <regex>
#include <string_view>

namespace coredata::detail {

using foundation::Value;
using Op = NSPredicateOperatorType;

namespace {

bool isSQLConstant(const Value& value) {
  return value.isNull() || value.isAbsent() || value.string() || value.number();
}

const NSExpression* constantExpression(const std::shared_ptr<const NSExpression>& e) {
  return e && e->expressionType() == NSExpressionType::ConstantValue && isSQLConstant(e->constantValue()) ? e.get()
                                                                                                            : nullptr;
}

/// The constants of an aggregate (or of a constant array), or none when one is not bindable.
std::optional<std::vector<Value>> constantList(const std::shared_ptr<const NSExpression>& e) {
  std::vector<Value> values;
  if (!e) return std::nullopt;
  if (e->expressionType() == NSExpressionType::Aggregate) {
    for (const auto& item : e->collection()) {
      const auto* c = constantExpression(item);
      if (!c) return std::nullopt;
      values.push_back(c->constantValue());
    }
    return values;
  }
  if (e->expressionType() == NSExpressionType::ConstantValue) {
    const auto* items = e->constantValue().array();
    if (!items) return std::nullopt;
    for (const auto& item : *items) {
      if (!isSQLConstant(item)) return std::nullopt;
      values.push_back(item);
    }
    return values;
  }
  return std::nullopt;
}

Op mirrored(Op op) {
  switch (op) {
    case Op::LessThan: return Op::GreaterThan;
    case Op::LessThanOrEqualTo: return Op::GreaterThanOrEqualTo;
    case Op::GreaterThan: return Op::LessThan;
    case Op::GreaterThanOrEqualTo: return Op::LessThanOrEqualTo;
    default: return op;
  }
}

std::optional<SQLCondition> comparisonSQL(const NSComparisonPredicate& p, const std::string& column) {
  auto key = p.leftExpression();
  auto other = p.rightExpression();
  Op op = p.predicateOperatorType();
  const bool symmetric = op <= Op::NotEqualTo;
  if (symmetric && other && other->expressionType() == NSExpressionType::KeyPath && constantExpression(key)) {
    std::swap(key, other);
    op = mirrored(op);
  }
  if (!key || key->expressionType() != NSExpressionType::KeyPath) return std::nullopt;
  const auto path = jsonPathForKey(key->keyPath());
  if (!path) return std::nullopt;

  SQLCondition out;
  const std::string x = "json_extract(" + column + ", ?)";
  auto operand = [&] {
    out.bindings.push_back(Value(*path));
    return x;
  };
  if (symmetric) {
    const auto* c = constantExpression(other);
    if (!c) return std::nullopt;
    static const char* const kWords[] = {"<", "<=", ">", ">=", "IS", "IS NOT"};
    out.text = operand() + " " + kWords[static_cast<int>(op)] + " ?";
    out.bindings.push_back(c->constantValue());
  } else if (op == Op::BeginsWith || op == Op::EndsWith || op == Op::Contains) {
    const auto* c = constantExpression(other);
    if (!c || !c->constantValue().string()) return std::nullopt;
    const Value needle = c->constantValue();
    const std::string typed = "typeof(" + operand() + ") = 'text' AND ";
    if (op == Op::BeginsWith) {
      out.text = typed + "instr(" + operand() + ", ?) = 1";
      out.bindings.push_back(needle);
    } else if (op == Op::Contains) {
      out.text = typed + "instr(" + operand() + ", ?) > 0";
      out.bindings.push_back(needle);
    } else {
      // substr with a start below 1 counts from the other end, so the length is checked first.
      out.text = typed + "length(" + operand() + ") >= length(?) AND substr(" + operand() + ", length(" + operand() +
                 ") - length(?) + 1) = ?";
      out.bindings.insert(out.bindings.begin() + 2, needle);
      out.bindings.insert(out.bindings.begin() + 5, needle);
      out.bindings.push_back(needle);
    }
  } else if (op == Op::In || op == Op::Between) {
    auto values = constantList(other);
    if (!values || (op == Op::Between && values->size() != 2)) return std::nullopt;
    if (op == Op::Between) {
      out.text = operand() + " BETWEEN ? AND ?";
    } else if (values->empty()) {
      out.text = "0";
    } else {
      out.text = operand() + " IN (?";
      for (std::size_t i = 1; i < values->size(); ++i) out.text += ", ?";
      out.text += ")";
    }
    out.bindings.insert(out.bindings.end(), values->begin(), values->end());
  } else {
    return std::nullopt;
  }
  out.text = "IFNULL((" + out.text + "), 0)";
  return out;
}

// In-memory evaluation ----------------------------------------------------------------------

Value evaluateExpression(const NSExpression* e, const foundation::Dictionary& attributes);

bool isNullish(const Value& v) { return v.isAbsent() || v.isNull(); }

std::optional<int> compareValues(const Value& a, const Value& b) {
  if (a.number() && b.number()) return a.number()->compare(*b.number());
  if (a.string() && b.string()) {
    const int c = a.string()->compare(*b.string());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  return std::nullopt;
}

bool valuesEqual(const Value& a, const Value& b) {
  if (isNullish(a) || isNullish(b)) return isNullish(a) && isNullish(b);
  if (auto c = compareValues(a, b)) return *c == 0;
  return a == b;
}

/// `*` any run of characters, `?` one character (bytes), the whole text.
bool wildcardMatch(std::string_view text, std::string_view pattern) {
  std::size_t t = 0, p = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++t, ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool regexMatch(const std::string& text, const std::string& pattern) {
  try {
    return std::regex_match(text, std::regex(pattern, std::regex::ECMAScript));
  } catch (const std::exception&) {
    return false;  // a pattern that does not compile matches nothing
  }
}

bool arrayContains(const foundation::Array& items, const Value& v) {
  for (const auto& item : items)
    if (valuesEqual(item, v)) return true;
  return false;
}

bool evaluateComparison(const NSComparisonPredicate& p, const foundation::Dictionary& attributes) {
  const Value left = evaluateExpression(p.leftExpression().get(), attributes);
  const Value right = evaluateExpression(p.rightExpression().get(), attributes);
  const auto* ls = left.string();
  const auto* rs = right.string();
  switch (p.predicateOperatorType()) {
    case Op::LessThan: { auto c = compareValues(left, right); return c && *c < 0; }
    case Op::LessThanOrEqualTo: { auto c = compareValues(left, right); return c && *c <= 0; }
    case Op::GreaterThan: { auto c = compareValues(left, right); return c && *c > 0; }
    case Op::GreaterThanOrEqualTo: { auto c = compareValues(left, right); return c && *c >= 0; }
    case Op::EqualTo: return valuesEqual(left, right);
    case Op::NotEqualTo: return !valuesEqual(left, right);
    case Op::Matches: return ls && rs && regexMatch(*ls, *rs);
    case Op::Like: return ls && rs && wildcardMatch(*ls, *rs);
    case Op::BeginsWith: return ls && rs && ls->compare(0, rs->size(), *rs) == 0;
    case Op::EndsWith:
      return ls && rs && ls->size() >= rs->size() && ls->compare(ls->size() - rs->size(), rs->size(), *rs) == 0;
    case Op::In:
      if (const auto* items = right.array()) return arrayContains(*items, left);
      return ls && rs && rs->find(*ls) != std::string::npos;
    case Op::Contains:
      if (const auto* items = left.array()) return arrayContains(*items, right);
      return ls && rs && ls->find(*rs) != std::string::npos;
    case Op::Between: {
      const auto* bounds = right.array();
      if (!bounds || bounds->size() != 2) return false;
      auto low = compareValues(left, (*bounds)[0]);
      auto high = compareValues(left, (*bounds)[1]);
      return low && high && *low >= 0 && *high <= 0;
    }
    case Op::CustomSelector: return false;
  }
  return false;
}

Value evaluateExpression(const NSExpression* e, const foundation::Dictionary& attributes) {
  if (!e) return Value();
  switch (e->expressionType()) {
    case NSExpressionType::ConstantValue: return e->constantValue();
    case NSExpressionType::KeyPath: return valueForKeyPath(attributes, e->keyPath());
    case NSExpressionType::EvaluatedObject: return Value(attributes);
    case NSExpressionType::Aggregate: {
      foundation::Array items;
      for (const auto& item : e->collection()) items.push_back(evaluateExpression(item.get(), attributes));
      return Value(std::move(items));
    }
    case NSExpressionType::Conditional:
      return evaluateExpression(
          (e->predicate() && evaluatePredicate(*e->predicate(), attributes) ? e->trueExpression() : e->falseExpression())
              .get(),
          attributes);
    default: return Value();
  }
}

int kindRank(const Value& v) {
  if (isNullish(v)) return 0;
  if (v.number()) return 1;
  if (v.string()) return 2;
  return 3;
}

}  // namespace

std::optional<std::string> jsonPathForKey(const std::string& key) {
  if (key.empty() || (key[0] >= '0' && key[0] <= '9')) return std::nullopt;
  for (char c : key) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!plain) return std::nullopt;
  }
  return "$.\"" + key + "\"";
}

std::optional<SQLCondition> sqlCondition(const NSPredicate& predicate, const std::string& column) {
  if (const auto* comparison = dynamic_cast<const NSComparisonPredicate*>(&predicate))
    return comparisonSQL(*comparison, column);
  const auto* compound = dynamic_cast<const NSCompoundPredicate*>(&predicate);
  if (!compound) return SQLCondition{"1", {}};
  const auto type = compound->compoundPredicateType();
  if (type != NSCompoundPredicateType::Not && type != NSCompoundPredicateType::And &&
      type != NSCompoundPredicateType::Or)
    return std::nullopt;
  std::vector<SQLCondition> parts;
  for (const auto& sub : compound->subpredicates()) {
    if (!sub) return std::nullopt;
    auto part = sqlCondition(*sub, column);
    if (!part) return std::nullopt;
    parts.push_back(std::move(*part));
  }
  SQLCondition out;
  if (type == NSCompoundPredicateType::Not) {
    if (parts.size() != 1) return std::nullopt;
    out.text = "NOT (" + parts[0].text + ")";
    out.bindings = std::move(parts[0].bindings);
    return out;
  }
  if (parts.empty()) return SQLCondition{type == NSCompoundPredicateType::And ? "1" : "0", {}};
  const std::string joiner = type == NSCompoundPredicateType::And ? " AND " : " OR ";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    out.text += (i ? joiner : "") + ("(" + parts[i].text + ")");
    out.bindings.insert(out.bindings.end(), parts[i].bindings.begin(), parts[i].bindings.end());
  }
  return out;
}

bool evaluatePredicate(const NSPredicate& predicate, const foundation::Dictionary& attributes) {
  if (const auto* comparison = dynamic_cast<const NSComparisonPredicate*>(&predicate))
    return evaluateComparison(*comparison, attributes);
  const auto* compound = dynamic_cast<const NSCompoundPredicate*>(&predicate);
  if (!compound) return true;
  const auto& subs = compound->subpredicates();
  auto holds = [&](const std::shared_ptr<const NSPredicate>& sub) { return sub && evaluatePredicate(*sub, attributes); };
  switch (compound->compoundPredicateType()) {
    case NSCompoundPredicateType::Not: return subs.size() == 1 && !holds(subs[0]);
    case NSCompoundPredicateType::And:
      for (const auto& sub : subs)
        if (!holds(sub)) return false;
      return true;
    case NSCompoundPredicateType::Or:
      for (const auto& sub : subs)
        if (holds(sub)) return true;
      return false;
  }
  return false;
}

int compareForSorting(const Value& a, const Value& b) {
  const int ra = kindRank(a), rb = kindRank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  return compareValues(a, b).value_or(0);
}

Value valueForKeyPath(const foundation::Dictionary& attributes, const std::string& keyPath) {
  const foundation::Dictionary* current = &attributes;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = keyPath.find('.', start);
    const Value* found = current->find(std::string_view(keyPath).substr(start, dot - start));
    if (!found) return Value();
    if (dot == std::string::npos) return *found;
    current = found->dictionary();
    if (!current) return Value();
    start = dot + 1;
  }
}

}  // namespace coredata::detail
