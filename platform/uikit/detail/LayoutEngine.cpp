#include "platform/uikit/detail/LayoutEngine.h"

#include <algorithm>
#include <cmath>

#include "platform/uikit/Log.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/View.h"

namespace uikit::detail {
namespace {

/// Solutions come out of floating-point pivots; snapping to a millionth of a point gives the
/// exact values layouts are written with.
double snap(double v) { return std::round(v * 1e6) / 1e6; }

Solver::Relation relationOf(NSLayoutRelation r) {
  switch (r) {
    case NSLayoutRelation::LessThanOrEqual: return Solver::Relation::LessOrEqual;
    case NSLayoutRelation::GreaterThanOrEqual: return Solver::Relation::GreaterOrEqual;
    case NSLayoutRelation::Equal: break;
  }
  return Solver::Relation::Equal;
}

/// The untransformed frame of a view in its superview's bounds coordinates.
CGRect untransformedFrame(const UIView* v) {
  CGSize s = v->bounds().size;
  CGPoint a = v->layer()->anchorPoint(), c = v->center();
  return {c.x - s.width * a.x, c.y - s.height * a.y, s.width, s.height};
}

}  // namespace

LayoutEngine::~LayoutEngine() {
  for (auto& [c, id] : constraints_) c->engine_ = nullptr;
}

namespace {

/// Where a view's subviews are measured from in the engine's space, relative to the view: its
/// bounds origin, except in a scroll view, whose subviews sit in content coordinates that do not
/// move as it scrolls.
CGPoint subviewOrigin(const UIView* view) {
  if (dynamic_cast<const UIScrollView*>(view)) return {0, 0};
  return view->bounds().origin;
}

bool isDescendant(const UIView* view, const UIView* ancestor) {
  for (const UIView* v = view ? view->superviewPointer() : nullptr; v; v = v->superviewPointer())
    if (v == ancestor) return true;
  return false;
}

}  // namespace

LayoutEngine::Vars& LayoutEngine::varsFor(const LayoutItem* item) {
  auto it = items_.find(item);
  if (it != items_.end()) return it->second;
  Vars v;
  v.x = solver_.newVariable();
  v.y = solver_.newVariable();
  v.w = solver_.newVariable();
  v.h = solver_.newVariable();
  return items_.emplace(item, std::move(v)).first->second;
}

bool LayoutEngine::markInvolved(UIView* view, std::vector<UIView*>& involved) {
  std::size_t at = involved.size();
  involved.push_back(view);
  bool any = !view->referencingConstraints().empty() || !view->constraints().empty();
  for (auto& g : view->layoutGuides()) any |= !g->referencingConstraints().empty();
  if (view->marginsGuide_) any |= !view->marginsGuide_->referencingConstraints().empty();
  if (view->safeAreaGuide_) any |= !view->safeAreaGuide_->referencingConstraints().empty();
  for (auto& s : view->subviews()) any |= markInvolved(s.get(), involved);
  if (!any) involved.resize(at);
  return any;
}

void LayoutEngine::sync() {
  // Pre-order list of the views that take part: those named by constraints and their ancestors.
  std::vector<UIView*> involved;
  markInvolved(root_, involved);
  for (UIView* v : involved) {
    Vars& vars = varsFor(v);
    syncFixed(v, vars);
    syncIntrinsic(v, vars);
    if (v->marginsGuide_ && !v->marginsGuide_->referencingConstraints().empty()) syncGuide(v, v->marginsGuide_.get());
    if (v->safeAreaGuide_ && !v->safeAreaGuide_->referencingConstraints().empty()) syncGuide(v, v->safeAreaGuide_.get());
  }
  for (UIView* v : involved)
    for (const auto& c : v->constraints())
      if (c->engine_ != this) addConstraint(c.get());
  // Guides report their solved rectangles.
  for (UIView* v : involved) {
    auto report = [&](UILayoutGuide* g) {
      auto it = items_.find(g);
      auto own = items_.find(v);
      if (it == items_.end() || own == items_.end()) return;
      CGPoint origin = subviewOrigin(v);
      g->layoutFrame_ = {snap(solver_.value(it->second.x) - solver_.value(own->second.x)) + origin.x,
                         snap(solver_.value(it->second.y) - solver_.value(own->second.y)) + origin.y,
                         snap(solver_.value(it->second.w)), snap(solver_.value(it->second.h))};
    };
    if (v->marginsGuide_) report(v->marginsGuide_.get());
    if (v->safeAreaGuide_) report(v->safeAreaGuide_.get());
    for (auto& g : v->layoutGuides()) report(g.get());
  }
}

void LayoutEngine::setFixed(Vars& vars, const Vars* parent, const CGRect& frame) {
  auto finite = [](CGFloat v) { return std::isfinite(v) ? v : 0.0; };
  const CGRect f{finite(frame.origin.x), finite(frame.origin.y), finite(frame.size.width), finite(frame.size.height)};
  // A moved or resized frame keeps its four constraints and changes their constants.
  if (vars.fixed.size() == 4 && vars.fixedFrame) {
    const double constants[4] = {-f.origin.x, -f.origin.y, -f.size.width, -f.size.height};
    bool inPlace = true;
    for (int i = 0; i < 4 && inPlace; ++i) inPlace = solver_.setConstant(vars.fixed[i], constants[i]);
    if (inPlace) {
      vars.fixedFrame = f;
      ++generation_;
      return;
    }
  }
  for (auto id : vars.fixed) solver_.removeConstraint(id);
  vars.fixed.clear();
  auto pin = [&](Solver::Variable v, Solver::Variable base, double offset) {
    std::vector<Solver::Term> terms{{v, 1.0}};
    if (parent) terms.push_back({base, -1.0});
    if (auto id = solver_.addConstraint(terms, -offset, Solver::Relation::Equal, Solver::kRequired)) vars.fixed.push_back(*id);
  };
  pin(vars.x, parent ? parent->x : 0, f.origin.x);
  pin(vars.y, parent ? parent->y : 0, f.origin.y);
  std::vector<Solver::Term> w{{vars.w, 1.0}}, h{{vars.h, 1.0}};
  if (auto id = solver_.addConstraint(w, -f.size.width, Solver::Relation::Equal, Solver::kRequired)) vars.fixed.push_back(*id);
  if (auto id = solver_.addConstraint(h, -f.size.height, Solver::Relation::Equal, Solver::kRequired)) vars.fixed.push_back(*id);
  vars.fixedFrame = f;
  ++generation_;
}

void LayoutEngine::syncFixed(UIView* view, Vars& vars) {
  UIView* parent = view->superviewPointer();
  if (!parent) {
    // The root sits at the origin of the engine's space; it keeps its size unless it is sized
    // by constraints itself.
    CGRect f{0, 0, view->bounds().size.width, view->bounds().size.height};
    if (!view->translatesAutoresizingMaskIntoConstraints()) {
      if (vars.fixedFrame && vars.fixedFrame->size.width < 0) return;
      for (auto id : vars.fixed) solver_.removeConstraint(id);
      vars.fixed.clear();
      for (auto v : {vars.x, vars.y})
        if (auto id = solver_.addConstraint({{v, 1.0}}, 0, Solver::Relation::Equal, Solver::kRequired)) vars.fixed.push_back(*id);
      vars.fixedFrame = CGRect{0, 0, -1, -1};
      ++generation_;
      return;
    }
    if (vars.fixedFrame != f || vars.fixedParent != nullptr) {
      if (vars.fixedParent != nullptr || (vars.fixedFrame && vars.fixedFrame->size.width < 0)) {
        for (auto id : vars.fixed) solver_.removeConstraint(id);
        vars.fixed.clear();
      }
      vars.fixedParent = nullptr;
      setFixed(vars, nullptr, f);
    }
    return;
  }
  if (!view->translatesAutoresizingMaskIntoConstraints()) {
    if (!vars.fixed.empty()) {
      for (auto id : vars.fixed) solver_.removeConstraint(id);
      vars.fixed.clear();
      vars.fixedFrame.reset();
      ++generation_;
    }
    return;
  }
  CGRect f = untransformedFrame(view);
  CGPoint origin = subviewOrigin(parent);
  f.origin.x -= origin.x;
  f.origin.y -= origin.y;
  if (vars.fixedFrame == f && vars.fixedParent == parent) return;
  if (vars.fixedParent != parent) {
    for (auto id : vars.fixed) solver_.removeConstraint(id);
    vars.fixed.clear();
  }
  vars.fixedParent = parent;
  setFixed(vars, &varsFor(parent), f);
}

void LayoutEngine::syncIntrinsic(UIView* view, Vars& vars) {
  bool wanted = !view->translatesAutoresizingMaskIntoConstraints() && view->superviewPointer();
  UILayoutPriority p[4] = {view->contentCompressionResistancePriority(UILayoutConstraintAxis::Horizontal),
                           view->contentHuggingPriority(UILayoutConstraintAxis::Horizontal),
                           view->contentCompressionResistancePriority(UILayoutConstraintAxis::Vertical),
                           view->contentHuggingPriority(UILayoutConstraintAxis::Vertical)};
  if (!view->intrinsicDirty_ && wanted == vars.intrinsicSize.has_value() &&
      std::equal(p, p + 4, vars.intrinsicPriorities))
    return;
  view->intrinsicDirty_ = false;
  CGSize size = wanted ? view->intrinsicContentSize() : CGSize{UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric};
  // A size that is not a finite, non-negative number counts as no size on that axis.
  if (!std::isfinite(size.width) || size.width < 0) size.width = UIViewNoIntrinsicMetric;
  if (!std::isfinite(size.height) || size.height < 0) size.height = UIViewNoIntrinsicMetric;
  if (vars.intrinsicSize && *vars.intrinsicSize == size && std::equal(p, p + 4, vars.intrinsicPriorities)) return;
  const bool hasWidth = size.width != UIViewNoIntrinsicMetric, hasHeight = size.height != UIViewNoIntrinsicMetric;
  if (wanted && vars.intrinsicSize && std::equal(p, p + 4, vars.intrinsicPriorities) &&
      vars.intrinsicWidth == hasWidth && vars.intrinsicHeight == hasHeight) {
    // Same axes and priorities: only the sizes moved (a label's new text), so the constraints
    // keep their places and take the new constants.
    std::vector<double> constants;
    if (hasWidth) constants.insert(constants.end(), {-size.width, -size.width});
    if (hasHeight) constants.insert(constants.end(), {-size.height, -size.height});
    bool inPlace = constants.size() == vars.intrinsic.size();
    for (std::size_t i = 0; i < constants.size() && inPlace; ++i) inPlace = solver_.setConstant(vars.intrinsic[i], constants[i]);
    if (inPlace) {
      vars.intrinsicSize = size;
      ++generation_;
      return;
    }
  }
  for (auto id : vars.intrinsic) solver_.removeConstraint(id);
  vars.intrinsic.clear();
  std::copy(p, p + 4, vars.intrinsicPriorities);
  vars.intrinsicSize.reset();
  ++generation_;
  vars.intrinsicWidth = vars.intrinsicHeight = false;
  if (!wanted) return;
  vars.intrinsicSize = size;
  vars.intrinsicWidth = hasWidth;
  vars.intrinsicHeight = hasHeight;
  auto add = [&](Solver::Variable v, double value, Solver::Relation r, UILayoutPriority priority) {
    // A required intrinsic size would fight every other required constraint; the platform
    // treats it as strongest-optional.
    double weight = priority >= UILayoutPriorityRequired ? 999.0 : priority;
    if (auto id = solver_.addConstraint({{v, 1.0}}, -value, r, weight)) vars.intrinsic.push_back(*id);
  };
  if (size.width != UIViewNoIntrinsicMetric) {
    add(vars.w, size.width, Solver::Relation::GreaterOrEqual, p[0]);
    add(vars.w, size.width, Solver::Relation::LessOrEqual, p[1]);
  }
  if (size.height != UIViewNoIntrinsicMetric) {
    add(vars.h, size.height, Solver::Relation::GreaterOrEqual, p[2]);
    add(vars.h, size.height, Solver::Relation::LessOrEqual, p[3]);
  }
}

void LayoutEngine::syncGuide(UIView* view, UILayoutGuide* guide) {
  UIEdgeInsets insets = guide->kind() == UILayoutGuide::Kind::SafeArea ? view->safeAreaInsets()
                                                                       : view->effectiveLayoutMargins();
  CGRect key{insets.left, insets.top, insets.right, insets.bottom};
  Vars& g = varsFor(guide);
  if (g.fixedFrame == key) return;
  Vars& v = varsFor(view);
  for (auto id : g.fixed) solver_.removeConstraint(id);
  g.fixed.clear();
  auto pin = [&](std::vector<Solver::Term> terms, double constant) {
    if (auto id = solver_.addConstraint(terms, constant, Solver::Relation::Equal, Solver::kRequired)) g.fixed.push_back(*id);
  };
  pin({{g.x, 1.0}, {v.x, -1.0}}, -insets.left);
  pin({{g.y, 1.0}, {v.y, -1.0}}, -insets.top);
  pin({{g.w, 1.0}, {v.w, -1.0}}, insets.left + insets.right);
  pin({{g.h, 1.0}, {v.h, -1.0}}, insets.top + insets.bottom);
  g.fixedFrame = key;
  ++generation_;
}

bool LayoutEngine::termsFor(LayoutItem* item, NSLayoutAttribute a, double factor, std::vector<Solver::Term>& terms,
                            double& constant, bool content) {
  (void)constant;
  switch (a) {
    case NSLayoutAttribute::LeftMargin:
    case NSLayoutAttribute::RightMargin:
    case NSLayoutAttribute::TopMargin:
    case NSLayoutAttribute::BottomMargin:
    case NSLayoutAttribute::LeadingMargin:
    case NSLayoutAttribute::TrailingMargin:
    case NSLayoutAttribute::CenterXWithinMargins:
    case NSLayoutAttribute::CenterYWithinMargins: {
      // Margin attributes are the edges of the view's margins guide.
      UIView* view = dynamic_cast<UIView*>(item);
      if (!view) return false;
      UILayoutGuide& guide = view->layoutMarginsGuide();
      if (!items_.count(&guide)) syncGuide(view, &guide);
      static const std::pair<NSLayoutAttribute, NSLayoutAttribute> plain[] = {
          {NSLayoutAttribute::LeftMargin, NSLayoutAttribute::Left},
          {NSLayoutAttribute::RightMargin, NSLayoutAttribute::Right},
          {NSLayoutAttribute::TopMargin, NSLayoutAttribute::Top},
          {NSLayoutAttribute::BottomMargin, NSLayoutAttribute::Bottom},
          {NSLayoutAttribute::LeadingMargin, NSLayoutAttribute::Leading},
          {NSLayoutAttribute::TrailingMargin, NSLayoutAttribute::Trailing},
          {NSLayoutAttribute::CenterXWithinMargins, NSLayoutAttribute::CenterX},
          {NSLayoutAttribute::CenterYWithinMargins, NSLayoutAttribute::CenterY}};
      for (auto [m, p] : plain)
        if (m == a) return termsFor(&guide, p, factor, terms, constant);
      return false;
    }
    default: break;
  }
  Vars& v = varsFor(item);
  if (content) {
    auto contentVariable = [&](std::optional<Solver::Variable>& variable) {
      if (!variable) variable = solver_.newVariable();
      return *variable;
    };
    switch (a) {
      case NSLayoutAttribute::Right:
      case NSLayoutAttribute::Trailing:
        terms.push_back({v.x, factor});
        terms.push_back({contentVariable(v.contentW), factor});
        return true;
      case NSLayoutAttribute::Bottom:
      case NSLayoutAttribute::LastBaseline:
        terms.push_back({v.y, factor});
        terms.push_back({contentVariable(v.contentH), factor});
        return true;
      case NSLayoutAttribute::CenterX:
        terms.push_back({v.x, factor});
        terms.push_back({contentVariable(v.contentW), factor * 0.5});
        return true;
      case NSLayoutAttribute::CenterY:
        terms.push_back({v.y, factor});
        terms.push_back({contentVariable(v.contentH), factor * 0.5});
        return true;
      default: break;  // leading and top edges are the content's origin; sizes are the frame's
    }
  }
  switch (a) {
    case NSLayoutAttribute::Left:
    case NSLayoutAttribute::Leading: terms.push_back({v.x, factor}); return true;
    case NSLayoutAttribute::Right:
    case NSLayoutAttribute::Trailing: terms.push_back({v.x, factor}); terms.push_back({v.w, factor}); return true;
    case NSLayoutAttribute::Top:
    case NSLayoutAttribute::FirstBaseline: terms.push_back({v.y, factor}); return true;
    case NSLayoutAttribute::Bottom:
    case NSLayoutAttribute::LastBaseline: terms.push_back({v.y, factor}); terms.push_back({v.h, factor}); return true;
    case NSLayoutAttribute::Width: terms.push_back({v.w, factor}); return true;
    case NSLayoutAttribute::Height: terms.push_back({v.h, factor}); return true;
    case NSLayoutAttribute::CenterX: terms.push_back({v.x, factor}); terms.push_back({v.w, factor * 0.5}); return true;
    case NSLayoutAttribute::CenterY: terms.push_back({v.y, factor}); terms.push_back({v.h, factor * 0.5}); return true;
    default: return false;
  }
}

void LayoutEngine::addConstraint(NSLayoutConstraint* c) {
  if (c->engine_ && c->engine_ != this) c->engine_->dropConstraint(c);
  if (!c->itemsAlive()) return;
  // A constant or multiplier that is not a number would poison every row it reaches.
  if (!std::isfinite(c->constant()) || !std::isfinite(c->multiplier())) {
    UIKitLog::write("Ignoring a constraint with a non-finite constant or multiplier: " + c->description());
    return;
  }
  // first (relation) multiplier × second + constant, as first − multiplier × second − constant.
  std::vector<Solver::Term> terms;
  double constant = -c->constant();
  // Between a scroll view and a view inside it, the scroll view's edges are its content's.
  auto viewOf = [](LayoutItem* item) -> const UIView* {
    if (auto* view = dynamic_cast<UIView*>(item)) return view;
    if (auto* guide = dynamic_cast<UILayoutGuide*>(item)) return guide->owningView();
    return nullptr;
  };
  auto isContentOf = [&](LayoutItem* scroll, LayoutItem* other) {
    auto* scrollView = dynamic_cast<UIScrollView*>(scroll);
    return scrollView && other && isDescendant(viewOf(other), scrollView);
  };
  bool firstIsContainer = isContentOf(c->firstItem(), c->secondItem());
  bool secondIsContainer = isContentOf(c->secondItem(), c->firstItem());
  if (!termsFor(c->firstItem(), c->firstAttribute(), 1.0, terms, constant, firstIsContainer)) return;
  if (c->secondItem() &&
      !termsFor(c->secondItem(), c->secondAttribute(), -c->multiplier(), terms, constant, secondIsContainer))
    return;
  double weight = c->priority() >= UILayoutPriorityRequired ? Solver::kRequired : c->priority();
  auto id = solver_.addConstraint(terms, constant, relationOf(c->relation()), weight);
  c->demoted_ = false;
  if (!id && weight >= Solver::kRequired) {
    // A required constraint that contradicts the others is not an error of the program: keep
    // laying out, with this one as the strongest optional constraint, and say so.
    UIKitLog::write("Unable to simultaneously satisfy constraints. Will attempt to recover by breaking constraint " +
                    c->description());
    id = solver_.addConstraint(terms, constant, relationOf(c->relation()), 999.0);
    c->demoted_ = true;
  }
  if (!id) return;
  constraints_[c] = *id;
  c->engine_ = this;
  ++generation_;
}

void LayoutEngine::constantChanged(NSLayoutConstraint* c) {
  auto it = constraints_.find(c);
  if (it == constraints_.end()) return;
  // Required constraints go through a fresh addition, which notices and reports a conflict.
  bool optional = c->priority() < UILayoutPriorityRequired || c->isDemoted();
  if (optional && solver_.setConstant(it->second, -c->constant())) {
    ++generation_;
    return;
  }
  dropConstraint(c);
}

void LayoutEngine::dropConstraint(NSLayoutConstraint* c) {
  auto it = constraints_.find(c);
  if (it != constraints_.end()) {
    solver_.removeConstraint(it->second);
    constraints_.erase(it);
    ++generation_;
  }
  if (c->engine_ == this) c->engine_ = nullptr;
}

void LayoutEngine::forgetSubtree(UIView* view) {
  std::function<void(UIView*)> visit = [&](UIView* v) {
    for (const auto& c : v->constraints())
      if (c->engine_ == this) dropConstraint(c.get());
    auto forget = [&](const LayoutItem* item) {
      auto it = items_.find(item);
      if (it == items_.end()) return;
      for (auto id : it->second.fixed) solver_.removeConstraint(id);
      for (auto id : it->second.intrinsic) solver_.removeConstraint(id);
      items_.erase(it);
      ++generation_;
    };
    forget(v);
    if (v->marginsGuide_) forget(v->marginsGuide_.get());
    if (v->safeAreaGuide_) forget(v->safeAreaGuide_.get());
    for (auto& g : v->layoutGuides()) forget(g.get());
    v->intrinsicDirty_ = true;
    for (auto& s : v->subviews()) visit(s.get());
  };
  visit(view);
}

std::pair<std::optional<CGFloat>, std::optional<CGFloat>> LayoutEngine::solvedContentSize(
    const UIView* scrollView) const {
  auto it = items_.find(scrollView);
  if (it == items_.end()) return {};
  auto value = [&](const std::optional<Solver::Variable>& variable) -> std::optional<CGFloat> {
    if (!variable) return std::nullopt;
    return std::max<CGFloat>(0, snap(solver_.value(*variable)));
  };
  return {value(it->second.contentW), value(it->second.contentH)};
}

std::optional<CGRect> LayoutEngine::solvedFrame(const UIView* view) const {
  if (view->translatesAutoresizingMaskIntoConstraints()) return std::nullopt;
  auto it = items_.find(view);
  if (it == items_.end()) return std::nullopt;
  const Vars& v = it->second;
  CGRect f{snap(solver_.value(v.x)), snap(solver_.value(v.y)), snap(solver_.value(v.w)), snap(solver_.value(v.h))};
  const UIView* parent = view->superviewPointer();
  if (!parent) return CGRect{0, 0, f.size.width, f.size.height};
  auto p = items_.find(parent);
  if (p == items_.end()) return std::nullopt;
  CGPoint origin = subviewOrigin(parent);
  f.origin.x = snap(f.origin.x - solver_.value(p->second.x) + origin.x);
  f.origin.y = snap(f.origin.y - solver_.value(p->second.y) + origin.y);
  return f;
}

}  // namespace uikit::detail
