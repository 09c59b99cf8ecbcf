// Constraints from the visual format language: "H:|-(8)-[a]-[b(==40@750)]-|".

#include <cctype>
#include <cstdlib>
#include <optional>
#include <variant>

#include "platform/uikit/LayoutConstraint.h"
#include "platform/uikit/UIKitError.h"
#include "platform/uikit/View.h"

namespace uikit {
namespace {

// Standard spacing between siblings, and between a view and its superview's edge.
constexpr CGFloat kStandardSiblingSpacing = 8;
constexpr CGFloat kStandardSuperviewSpacing = 20;

struct Predicate {
  NSLayoutRelation relation = NSLayoutRelation::Equal;
  std::optional<CGFloat> constant;
  std::shared_ptr<UIView> view;  // when the object is another view
  UILayoutPriority priority = UILayoutPriorityRequired;
};

struct Connection {
  enum class Kind { Flush, Standard, Given } kind = Kind::Flush;
  std::vector<Predicate> predicates;
};

struct Element {
  std::shared_ptr<UIView> view;  // null: the superview edge
  std::vector<Predicate> size;
};

class Parser {
 public:
  Parser(const std::string& text, const std::map<std::string, CGFloat>& metrics,
         const std::map<std::string, std::shared_ptr<UIView>>& views)
      : s_(text), metrics_(metrics), views_(views) {}

  std::optional<foundation::Error> parse(bool& vertical, std::vector<Element>& elements,
                                         std::vector<Connection>& connections) {
    if (s_.rfind("H:", 0) == 0) pos_ = 2;
    else if (s_.rfind("V:", 0) == 0) { pos_ = 2; vertical = true; }
    bool expectElement = true;
    while (true) {
      skipSpace();
      if (pos_ >= s_.size()) break;
      if (!expectElement) {
        Connection c;
        if (auto e = parseConnection(c)) return e;
        connections.push_back(std::move(c));
        expectElement = true;
        continue;
      }
      Element element;
      if (peek() == '|') {
        ++pos_;
      } else if (peek() == '[') {
        if (auto e = parseView(element)) return e;
      } else {
        return syntax("expected '[' or '|'");
      }
      elements.push_back(std::move(element));
      expectElement = false;
    }
    if (elements.empty() || expectElement) return syntax("format ends without a view");
    return std::nullopt;
  }

 private:
  char peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
  void skipSpace() { while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_; }
  foundation::Error syntax(const std::string& what) const {
    return makeUIKitError(UIKitError::VisualFormatSyntax, what + " at " + std::to_string(pos_) + " in \"" + s_ + "\"");
  }
  std::string identifier() {
    std::size_t start = pos_;
    while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
    return s_.substr(start, pos_ - start);
  }
  std::optional<CGFloat> number() {
    const char* begin = s_.c_str() + pos_;
    char* end = nullptr;
    double v = std::strtod(begin, &end);
    if (end == begin) return std::nullopt;
    pos_ += static_cast<std::size_t>(end - begin);
    return v;
  }
  /// A number or a metric name.
  std::optional<foundation::Error> constantOrMetric(CGFloat& out) {
    if (auto n = number()) {
      out = *n;
      return std::nullopt;
    }
    std::string name = identifier();
    if (name.empty()) return syntax("expected a number or a metric");
    auto it = metrics_.find(name);
    if (it == metrics_.end()) return makeUIKitError(UIKitError::VisualFormatUnknownMetric, name + " in \"" + s_ + "\"");
    out = it->second;
    return std::nullopt;
  }
  std::optional<foundation::Error> parsePredicate(Predicate& p, bool allowView) {
    skipSpace();
    if (s_.compare(pos_, 2, "==") == 0) { p.relation = NSLayoutRelation::Equal; pos_ += 2; }
    else if (s_.compare(pos_, 2, "<=") == 0) { p.relation = NSLayoutRelation::LessThanOrEqual; pos_ += 2; }
    else if (s_.compare(pos_, 2, ">=") == 0) { p.relation = NSLayoutRelation::GreaterThanOrEqual; pos_ += 2; }
    skipSpace();
    std::size_t save = pos_;
    if (auto n = number()) {
      p.constant = *n;
    } else {
      std::string name = identifier();
      if (name.empty()) return syntax("expected a predicate");
      if (auto m = metrics_.find(name); m != metrics_.end()) p.constant = m->second;
      else if (auto v = views_.find(name); allowView && v != views_.end()) p.view = v->second;
      else {
        pos_ = save;
        return makeUIKitError(UIKitError::VisualFormatUnknownMetric, name + " in \"" + s_ + "\"");
      }
    }
    skipSpace();
    if (peek() == '@') {
      ++pos_;
      CGFloat priority = 0;
      if (auto e = constantOrMetric(priority)) return e;
      p.priority = static_cast<UILayoutPriority>(std::clamp(priority, 1.0, 1000.0));
    }
    return std::nullopt;
  }
  std::optional<foundation::Error> parsePredicateList(std::vector<Predicate>& out, bool allowView) {
    // At '(' : predicates separated by commas up to ')'.
    ++pos_;
    while (true) {
      Predicate p;
      if (auto e = parsePredicate(p, allowView)) return e;
      out.push_back(std::move(p));
      skipSpace();
      if (peek() == ',') { ++pos_; continue; }
      if (peek() == ')') { ++pos_; return std::nullopt; }
      return syntax("expected ',' or ')'");
    }
  }
  std::optional<foundation::Error> parseView(Element& element) {
    ++pos_;  // '['
    skipSpace();
    std::string name = identifier();
    if (name.empty()) return syntax("expected a view name");
    auto it = views_.find(name);
    if (it == views_.end() || !it->second) return makeUIKitError(UIKitError::VisualFormatUnknownView, name + " in \"" + s_ + "\"");
    element.view = it->second;
    skipSpace();
    if (peek() == '(') {
      if (auto e = parsePredicateList(element.size, true)) return e;
    }
    skipSpace();
    if (peek() != ']') return syntax("expected ']'");
    ++pos_;
    return std::nullopt;
  }
  std::optional<foundation::Error> parseConnection(Connection& c) {
    if (peek() == '[' || peek() == '|') {
      c.kind = Connection::Kind::Flush;
      return std::nullopt;
    }
    if (peek() != '-') return syntax("expected '-'");
    ++pos_;
    skipSpace();
    if (peek() == '[' || peek() == '|') {
      c.kind = Connection::Kind::Standard;
      return std::nullopt;
    }
    c.kind = Connection::Kind::Given;
    if (peek() == '(') {
      if (auto e = parsePredicateList(c.predicates, false)) return e;
    } else {
      Predicate p;
      CGFloat value = 0;
      if (auto e = constantOrMetric(value)) return e;
      p.constant = value;
      c.predicates.push_back(p);
    }
    skipSpace();
    if (peek() != '-') return syntax("expected '-' after a spacing");
    ++pos_;
    return std::nullopt;
  }

  const std::string& s_;
  const std::map<std::string, CGFloat>& metrics_;
  const std::map<std::string, std::shared_ptr<UIView>>& views_;
  std::size_t pos_ = 0;
};

}  // namespace

foundation::Result<std::vector<std::shared_ptr<NSLayoutConstraint>>> NSLayoutConstraint::constraintsWithVisualFormat(
    const std::string& format, const std::map<std::string, CGFloat>& metrics,
    const std::map<std::string, std::shared_ptr<UIView>>& views) {
  bool vertical = false;
  std::vector<Element> elements;
  std::vector<Connection> connections;
  Parser parser(format, metrics, views);
  if (auto error = parser.parse(vertical, elements, connections)) return *error;

  const NSLayoutAttribute lead = vertical ? NSLayoutAttribute::Top : NSLayoutAttribute::Leading;
  const NSLayoutAttribute trail = vertical ? NSLayoutAttribute::Bottom : NSLayoutAttribute::Trailing;
  const NSLayoutAttribute size = vertical ? NSLayoutAttribute::Height : NSLayoutAttribute::Width;

  UIView* superview = nullptr;
  for (const auto& e : elements)
    if (e.view) { superview = e.view->superviewPointer(); break; }
  bool usesSuperview = false;
  for (const auto& e : elements) usesSuperview |= !e.view;
  if (usesSuperview && !superview)
    return makeUIKitError(UIKitError::VisualFormatSyntax, "'|' needs the views to have a superview in \"" + format + "\"");

  std::vector<std::shared_ptr<NSLayoutConstraint>> out;
  for (const auto& e : elements) {
    if (!e.view) continue;
    for (const auto& p : e.size) {
      auto c = p.view ? constraintWithItem(e.view.get(), size, p.relation, p.view.get(), size, 1, 0)
                      : constraintWithItem(e.view.get(), size, p.relation, nullptr, NSLayoutAttribute::NotAnAttribute,
                                           1, p.constant.value_or(0));
      c->setPriority(p.priority);
      out.push_back(c);
    }
  }
  for (std::size_t i = 0; i + 1 < elements.size() && i < connections.size(); ++i) {
    const Element& a = elements[i];
    const Element& b = elements[i + 1];
    const Connection& conn = connections[i];
    const bool toEdge = !a.view || !b.view;
    std::vector<Predicate> predicates = conn.predicates;
    if (conn.kind != Connection::Kind::Given) {
      Predicate p;
      p.constant = conn.kind == Connection::Kind::Flush ? 0 : toEdge ? kStandardSuperviewSpacing : kStandardSiblingSpacing;
      predicates.push_back(p);
    }
    for (const auto& p : predicates) {
      // Written as "later item's leading edge (relation) earlier item's trailing edge + spacing".
      LayoutItem* later = b.view ? static_cast<LayoutItem*>(b.view.get()) : superview;
      LayoutItem* earlier = a.view ? static_cast<LayoutItem*>(a.view.get()) : superview;
      NSLayoutAttribute laterAttr = b.view ? lead : trail;
      NSLayoutAttribute earlierAttr = a.view ? trail : lead;
      auto c = constraintWithItem(later, laterAttr, p.relation, earlier, earlierAttr, 1, p.constant.value_or(0));
      c->setPriority(p.priority);
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace uikit
