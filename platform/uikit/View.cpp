#include "platform/uikit/View.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "platform/uikit/detail/LayoutEngine.h"

RUNTIME_CLASS(uikit::UIView, runtime::Object, "UIView");

namespace uikit {
namespace {

/// From `view`'s bounds coordinates to its tree root's bounds coordinates.
CGAffineTransform transformToRoot(const UIView* view) {
  CGAffineTransform t;
  for (const UIView* v = view; v && v->superviewPointer(); v = v->superviewPointer())
    t = t.concat(v->layer()->transformToSuperlayer());
  return t;
}

bool anyNeedsLayout(const UIView* view) {
  if (view->needsLayout()) return true;
  for (const auto& s : view->subviews())
    if (anyNeedsLayout(s.get())) return true;
  return false;
}

const UIView* treeRoot(const UIView* view) {
  const UIView* v = view;
  while (v->superviewPointer()) v = v->superviewPointer();
  return v;
}

/// The transform taking `from`'s bounds coordinates into `to`'s (null: the root of `from`'s tree).
CGAffineTransform transformBetween(const UIView* from, const UIView* to) {
  CGAffineTransform t = transformToRoot(from);
  if (to && treeRoot(to) == treeRoot(from)) t = t.concat(transformToRoot(to).inverted());
  return t;
}

}  // namespace

UIView::UIView(std::shared_ptr<CALayer> layer) : layer_(layer ? std::move(layer) : CALayer::create()) {}

UIView::~UIView() {
  // The constraints this view holds die with it: take them out of the lists of the items they
  // name (its subviews and guides are still alive here; this view's own list dies with it).
  for (auto& c : constraints_) {
    for (LayoutItem* item : {c->first_, c->second_}) {
      if (!item || item == this) continue;
      const auto& life = item == c->first_ ? c->firstLife_ : c->secondLife_;
      if (life.expired()) continue;
      auto& list = item->referencing_;
      list.erase(std::remove(list.begin(), list.end(), c.get()), list.end());
    }
    c->owner_ = nullptr;
    c->engine_ = nullptr;
  }
  // Constraints held by living views that name this one are deactivated.
  auto referencing = referencingConstraints();
  for (auto* c : referencing) c->setActive(false);
  for (auto& g : guides_) g->owner_ = nullptr;
  if (marginsGuide_) marginsGuide_->owner_ = nullptr;
  if (safeAreaGuide_) safeAreaGuide_->owner_ = nullptr;
  for (auto& s : subviews_) s->superviewRaw_ = nullptr;
}

std::shared_ptr<UIView> UIView::create(const CGRect& frame) {
  auto view = std::make_shared<UIView>();
  view->setFrame(frame);
  return view;
}

std::string UIView::description() const {
  CGRect f = frame();
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, "<%s: %p; frame = (%g %g; %g %g)%s; layer = <CALayer: %p>>",
                className().c_str(), static_cast<const void*>(this), f.origin.x, f.origin.y, f.size.width,
                f.size.height, isHidden() ? "; hidden = YES" : "", static_cast<const void*>(layer_.get()));
  return buffer;
}

// Geometry.

CGRect UIView::frame() const { return layer_->frame(); }

void UIView::setFrame(const CGRect& f0) {
  CGRect f = f0.standardized();
  setBounds({bounds().origin, f.size});
  setCenter({f.midX(), f.midY()});
}

void UIView::setBounds(const CGRect& b) {
  CGRect old = layer_->bounds();
  if (old == b) return;
  if (old.size != b.size) recordAnimatedChange("bounds.size", old.size, b.size);
  if (old.origin != b.origin) recordAnimatedChange("bounds.origin", old.origin, b.origin);
  layer_->setBounds(b);
  if (old.size != b.size) {
    needsLayout_ = true;
    scheduleWindowLayout();
    if (autoresizesSubviews) resizeSubviewsForAutoresizing(old.size);
  }
}

void UIView::setCenter(CGPoint c) {
  CGPoint old = layer_->position();
  if (old == c) return;
  recordAnimatedChange("position", old, c);
  layer_->setPosition(c);
}

void UIView::setTransform(const CGAffineTransform& t) {
  CATransform3D old = layer_->transform(), now = CATransform3D::makeAffine(t);
  if (old == now) return;
  recordAnimatedChange("transform", old, now);
  layer_->setTransform(now);
}

void UIView::setAlpha(double alpha) {
  double old = layer_->opacity();
  if (old == alpha) return;
  recordAnimatedChange("opacity", old, alpha);
  layer_->setOpacity(alpha);
}

void UIView::setBackgroundColor(std::optional<UIColor> color) {
  AnimationValue old = layer_->valueForKeyPath("backgroundColor");
  backgroundColor_ = std::move(color);
  std::optional<UIColor> resolved;
  if (backgroundColor_) resolved = backgroundColor_->resolvedColor(traitCollection());
  AnimationValue now = resolved ? AnimationValue(*resolved) : AnimationValue();
  if (old != now) recordAnimatedChange("backgroundColor", old, now);
  layer_->setBackgroundColor(resolved);
}

UIColor UIView::tintColor() const {
  for (const UIView* v = this; v; v = v->superviewRaw_)
    if (v->tintColor_) return *v->tintColor_;
  return UIColor::systemBlueColor();
}

void UIView::setTintColor(std::optional<UIColor> color) {
  tintColor_ = std::move(color);
  notifyTintChange();
}

void UIView::notifyTintChange() {
  tintColorDidChange();
  for (auto& s : std::vector<std::shared_ptr<UIView>>(subviews_))
    if (!s->tintColor_) s->notifyTintChange();
}

// The tree.

UIWindow* UIView::window() const {
  const UIView* root = treeRoot(this);
  return dynamic_cast<UIWindow*>(const_cast<UIView*>(root));
}

UIView* UIView::rootView() { return const_cast<UIView*>(treeRoot(this)); }

void UIView::addSubview(const std::shared_ptr<UIView>& view) { insertSubview(view, subviews_.size()); }

void UIView::insertSubview(const std::shared_ptr<UIView>& viewRef, std::size_t index) {
  if (!viewRef || viewRef.get() == this || isDescendantOfView(viewRef.get())) return;
  // A copy: the caller's reference may point into subviews_, which this reorders.
  std::shared_ptr<UIView> view = viewRef;
  UIWindow* oldWindow = view->window();
  const UIColor oldTint = view->tintColor();
  if (view->superviewRaw_ == this) {
    // Reordering among siblings: no change of window or constraints.
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    std::size_t from = static_cast<std::size_t>(it - subviews_.begin());
    subviews_.erase(it);
    if (index > from) --index;
  } else {
    // Leaving the old superview on the way to this one: the window hooks compare the first and
    // the last window only.
    if (view->superviewRaw_) view->detachFromSuperview();
    // A tree that had its own layout engine hands its constraints to this tree's.
    view->engine_.reset();
  }
  index = std::min(index, subviews_.size());
  // The layer goes below the layer of the view now at `index`, or on top.
  if (index < subviews_.size()) layer_->insertSublayerBelow(view->layer_, subviews_[index]->layer_.get());
  else layer_->addSublayer(view->layer_);
  subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
  bool moved = view->superviewRaw_ != this;
  view->superview_ = weak_from_this();
  view->superviewRaw_ = this;
  if (!moved) return;
  if (auto* engine = rootView()->engine_.get()) engine->forgetSubtree(view.get());
  view->didMoveToSuperview();
  didAddSubview(view.get());
  UIWindow* newWindow = window();
  if (oldWindow != newWindow) view->moveToWindow(oldWindow, newWindow);
  view->refreshTraits();
  // The inherited tint is reported only when the new place changes it.
  if (!(view->tintColor() == oldTint)) view->notifyTintChange();
  needsLayout_ = true;
  scheduleWindowLayout();
}

void UIView::insertSubviewBelow(const std::shared_ptr<UIView>& view, const UIView* sibling) {
  auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& s) { return s.get() == sibling; });
  insertSubview(view, it == subviews_.end() ? 0 : static_cast<std::size_t>(it - subviews_.begin()));
}

void UIView::insertSubviewAbove(const std::shared_ptr<UIView>& view, const UIView* sibling) {
  auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& s) { return s.get() == sibling; });
  insertSubview(view, it == subviews_.end() ? subviews_.size() : static_cast<std::size_t>(it - subviews_.begin()) + 1);
}

void UIView::bringSubviewToFront(const UIView* view) {
  auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& s) { return s.get() == view; });
  if (it != subviews_.end()) insertSubview(*it, subviews_.size());
}

void UIView::sendSubviewToBack(const UIView* view) {
  auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& s) { return s.get() == view; });
  if (it != subviews_.end()) insertSubview(*it, 0);
}

void UIView::removeFromSuperview() {
  if (!superviewRaw_) return;
  auto keep = shared_from_this();
  UIWindow* oldWindow = window();
  detachFromSuperview();
  didMoveToSuperview();
  if (oldWindow) moveToWindow(oldWindow, nullptr);
  refreshTraits();
}

void UIView::detachFromSuperview() {
  UIView* parent = superviewRaw_;
  auto keep = shared_from_this();
  parent->willRemoveSubview(this);
  leaveTreeConstraints();
  if (auto* engine = parent->rootView()->engine_.get()) engine->forgetSubtree(this);
  auto& list = parent->subviews_;
  list.erase(std::remove_if(list.begin(), list.end(), [this](const auto& s) { return s.get() == this; }), list.end());
  layer_->removeFromSuperlayer();
  superview_.reset();
  superviewRaw_ = nullptr;
  parent->needsLayout_ = true;
  parent->scheduleWindowLayout();
}

void UIView::leaveTreeConstraints() {
  // Constraints between this subtree and the rest of the tree lose their meaning: deactivate.
  std::vector<NSLayoutConstraint*> crossing;
  std::function<void(UIView*)> visit = [&](UIView* v) {
    auto collect = [&](const LayoutItem* item) {
      for (auto* c : item->referencingConstraints()) {
        UIView* owner = c->owner();
        if (owner && !owner->isDescendantOfView(this)) crossing.push_back(c);
      }
    };
    collect(v);
    if (v->marginsGuide_) collect(v->marginsGuide_.get());
    if (v->safeAreaGuide_) collect(v->safeAreaGuide_.get());
    for (auto& g : v->guides_) collect(g.get());
    for (auto& s : v->subviews_) visit(s.get());
  };
  visit(this);
  std::sort(crossing.begin(), crossing.end());
  crossing.erase(std::unique(crossing.begin(), crossing.end()), crossing.end());
  std::vector<std::shared_ptr<NSLayoutConstraint>> keep;
  for (auto* c : crossing) keep.push_back(c->shared_from_this());
  for (auto& c : keep) c->setActive(false);
}

bool UIView::isDescendantOfView(const UIView* view) const {
  for (const UIView* v = this; v; v = v->superviewRaw_)
    if (v == view) return true;
  return false;
}

void UIView::moveToWindow(UIWindow* from, UIWindow* to) {
  if (from == to) return;
  willMoveToWindow(to);
  for (auto& s : std::vector<std::shared_ptr<UIView>>(subviews_)) s->moveToWindow(from, to);
  didMoveToWindow();
}

// Coordinates.

CGPoint UIView::convertPointToView(CGPoint point, const UIView* view) const {
  return transformBetween(this, view).apply(point);
}

CGPoint UIView::convertPointFromView(CGPoint point, const UIView* view) const {
  if (!view) return transformToRoot(this).inverted().apply(point);
  return view->convertPointToView(point, this);
}

CGRect UIView::convertRectToView(const CGRect& rect, const UIView* view) const {
  return transformBetween(this, view).apply(rect);
}

CGRect UIView::convertRectFromView(const CGRect& rect, const UIView* view) const {
  if (!view) return transformToRoot(this).inverted().apply(rect);
  return view->convertRectToView(rect, this);
}

bool UIView::pointInside(CGPoint point) const { return bounds().contains(point); }

std::shared_ptr<UIView> UIView::hitTest(CGPoint point) {
  if (isHidden() || !userInteractionEnabled_ || alpha() < 0.01 || !pointInside(point)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    CGPoint inChild = (*it)->convertPointFromView(point, this);
    if (auto hit = (*it)->hitTest(inChild)) return hit;
  }
  return shared_from_this();
}

// Safe area and margins.

UIEdgeInsets UIView::safeAreaInsets() const {
  UIWindow* w = window();
  if (!w) return {};
  if (w == this) return w->safeInsets_;
  // Transforms are left out, as layout leaves them out: a view moved by its transform (sliding
  // in or out) keeps the insets of where layout put it.
  CGPoint offset{0, 0};
  for (const UIView* v = this; v != w; v = v->superviewRaw_) {
    CGSize size = v->bounds().size;
    CGPoint anchor = v->layer_->anchorPoint(), c = v->center();
    // Frames are in their superview's bounds coordinates; the window's own are the ones wanted.
    CGPoint origin = v->superviewRaw_ == w ? CGPoint{} : v->superviewRaw_->bounds().origin;
    offset.x += c.x - size.width * anchor.x - origin.x - (v == this ? bounds().origin.x : 0);
    offset.y += c.y - size.height * anchor.y - origin.y - (v == this ? bounds().origin.y : 0);
  }
  CGRect b = bounds();
  CGRect inWindow = b.offsetBy(offset.x, offset.y);
  CGRect safe = insetRect(w->bounds(), w->safeInsets_);
  return {std::max(0.0, safe.minY() - inWindow.minY()), std::max(0.0, safe.minX() - inWindow.minX()),
          std::max(0.0, inWindow.maxY() - safe.maxY()), std::max(0.0, inWindow.maxX() - safe.maxX())};
}

void UIView::setLayoutMargins(const UIEdgeInsets& margins) {
  layoutMargins_ = margins;
  layoutMarginsDidChange();
  setNeedsLayout();
}

UIEdgeInsets UIView::effectiveLayoutMargins() const {
  UIEdgeInsets m = layoutMargins_;
  if (insetsLayoutMarginsFromSafeArea) m = m + safeAreaInsets();
  if (preservesSuperviewLayoutMargins && superviewRaw_) {
    UIEdgeInsets sm = superviewRaw_->effectiveLayoutMargins();
    CGRect inner = convertRectFromView(insetRect(superviewRaw_->bounds(), sm), superviewRaw_);
    CGRect b = bounds();
    m.top = std::max(m.top, inner.minY() - b.minY());
    m.left = std::max(m.left, inner.minX() - b.minX());
    m.bottom = std::max(m.bottom, b.maxY() - inner.maxY());
    m.right = std::max(m.right, b.maxX() - inner.maxX());
  }
  return m;
}

UILayoutGuide& UIView::layoutMarginsGuide() {
  if (!marginsGuide_) {
    marginsGuide_ = std::shared_ptr<UILayoutGuide>(new UILayoutGuide(UILayoutGuide::Kind::LayoutMargins));
    marginsGuide_->owner_ = this;
    marginsGuide_->identifier = "UIViewLayoutMarginsGuide";
  }
  return *marginsGuide_;
}

UILayoutGuide& UIView::safeAreaLayoutGuide() {
  if (!safeAreaGuide_) {
    safeAreaGuide_ = std::shared_ptr<UILayoutGuide>(new UILayoutGuide(UILayoutGuide::Kind::SafeArea));
    safeAreaGuide_->owner_ = this;
    safeAreaGuide_->identifier = "UIViewSafeAreaLayoutGuide";
  }
  return *safeAreaGuide_;
}

void UIView::addLayoutGuide(const std::shared_ptr<UILayoutGuide>& guide) {
  if (!guide || guide->owner_ == this) return;
  guide->owner_ = this;
  guides_.push_back(guide);
}

// Traits.

UITraitCollection UIView::traitCollection() const {
  UITraitCollection traits;
  if (UIWindow* w = window()) traits = w->baseTraits_;
  for (const UIView* v = this; v; v = v->superviewRaw_) {
    if (v->overrideStyle_ != UIUserInterfaceStyle::Unspecified) {
      traits.userInterfaceStyle = v->overrideStyle_;
      break;
    }
  }
  return traits;
}

void UIView::setOverrideUserInterfaceStyle(UIUserInterfaceStyle style) {
  overrideStyle_ = style;
  refreshTraits();
}

void UIView::refreshTraits() {
  UITraitCollection now = traitCollection();
  if (reportedTraits_ != now) {
    UITraitCollection previous = reportedTraits_.value_or(UITraitCollection{});
    bool first = !reportedTraits_;
    reportedTraits_ = now;
    // Dynamic colours follow the interface style.
    if (backgroundColor_ && backgroundColor_->isDynamic())
      layer_->setBackgroundColor(backgroundColor_->resolvedColor(now));
    if (!first || window()) {
      traitCollectionDidChange(previous);
      setNeedsUpdateConstraints();
    }
  }
  for (auto& s : std::vector<std::shared_ptr<UIView>>(subviews_)) s->refreshTraits();
}

// Layout.

void UIView::setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
  translatesAutoresizing_ = translates;
  intrinsicDirty_ = true;
  setNeedsLayout();
}

void UIView::addConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint) {
  if (!constraint) return;
  constraint->install(this);
}

void UIView::addConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& c : constraints) addConstraint(c);
}

void UIView::removeConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint) {
  if (constraint && constraint->owner_ == this) constraint->uninstall();
}

void UIView::removeConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& c : constraints) removeConstraint(c);
}

void UIView::invalidateIntrinsicContentSize() {
  intrinsicDirty_ = true;
  setNeedsLayout();
  if (superviewRaw_) superviewRaw_->setNeedsLayout();
}

UILayoutPriority UIView::contentHuggingPriority(UILayoutConstraintAxis axis) const {
  return hugging_[static_cast<int>(axis) & 1];
}

void UIView::setContentHuggingPriority(UILayoutPriority priority, UILayoutConstraintAxis axis) {
  hugging_[static_cast<int>(axis) & 1] = std::clamp(priority, 1.0f, 1000.0f);
  invalidateIntrinsicContentSize();
}

UILayoutPriority UIView::contentCompressionResistancePriority(UILayoutConstraintAxis axis) const {
  return compression_[static_cast<int>(axis) & 1];
}

void UIView::setContentCompressionResistancePriority(UILayoutPriority priority, UILayoutConstraintAxis axis) {
  compression_[static_cast<int>(axis) & 1] = std::clamp(priority, 1.0f, 1000.0f);
  invalidateIntrinsicContentSize();
}

CGSize UIView::sizeThatFits(CGSize size) const {
  CGSize intrinsic = intrinsicContentSize();
  return {intrinsic.width == UIViewNoIntrinsicMetric ? size.width : intrinsic.width,
          intrinsic.height == UIViewNoIntrinsicMetric ? size.height : intrinsic.height};
}

void UIView::sizeToFit() {
  CGRect f = frame();
  CGSize s = sizeThatFits(f.size);
  setFrame({f.origin, s});
}

void UIView::setNeedsLayout() {
  needsLayout_ = true;
  scheduleWindowLayout();
}

void UIView::scheduleWindowLayout() {
  // Views in a window are laid out on the next main-queue turn, as the platform does at the end
  // of each run-loop turn; other trees are laid out when asked.
  UIWindow* w = window();
  if (!w || w->layoutScheduled_) return;
  w->layoutScheduled_ = true;
  std::weak_ptr<UIView> weak = w->weak_from_this();
  dispatch::DispatchQueue::main()->async([weak] {
    if (auto strong = weak.lock()) {
      static_cast<UIWindow*>(strong.get())->layoutScheduled_ = false;
      strong->layoutIfNeeded();
    }
  });
}

void UIView::setNeedsUpdateConstraints() {
  needsUpdateConstraints_ = true;
  setNeedsLayout();
}

void UIView::updateConstraintsIfNeeded() {
  for (auto& s : std::vector<std::shared_ptr<UIView>>(subviews_)) s->updateConstraintsIfNeeded();
  if (needsUpdateConstraints_) {
    needsUpdateConstraints_ = false;
    updateConstraints();
  }
}

detail::LayoutEngine& UIView::engine() {
  UIView* root = rootView();
  if (!root->engine_) root->engine_ = std::make_unique<detail::LayoutEngine>(root);
  return *root->engine_;
}

void UIView::layoutIfNeeded() { rootView()->runLayoutPass(); }

void UIView::runLayoutPass() {
  auto keep = shared_from_this();
  // Passes repeat while layout code changes constraints or sizes again; the bound stops a tree
  // whose layoutSubviews keeps invalidating itself.
  for (int pass = 0; pass < 8; ++pass) {
    updateConstraintsIfNeeded();
    auto& e = engine();
    e.sync();
    std::uint64_t generation = e.generation();
    // Mark the superviews of every view the solution moves, so their layoutSubviews places it.
    std::function<void(UIView*)> mark = [&](UIView* v) {
      if (auto f = e.solvedFrame(v)) {
        CGSize size = v->bounds().size;
        if (!v->superviewRaw_) {
          if (size != f->size) {
            v->setBounds({v->bounds().origin, f->size});
          }
        } else {
          CGPoint anchor = v->layer_->anchorPoint(), c = v->center();
          CGPoint origin{c.x - size.width * anchor.x, c.y - size.height * anchor.y};
          if (size != f->size || std::fabs(origin.x - f->origin.x) > 1e-9 || std::fabs(origin.y - f->origin.y) > 1e-9) {
            v->superviewRaw_->needsLayout_ = true;
          }
        }
      }
      for (auto& s : v->subviews_) mark(s.get());
    };
    mark(this);
    std::function<void(UIView*)> layoutTree = [&](UIView* v) {
      if (v->needsLayout_) {
        v->needsLayout_ = false;
        UIViewController* controller = v->viewController_;
        if (controller) UIViewController::sendLayoutCallback(*controller, false);
        v->layoutSubviews();
        if (controller) UIViewController::sendLayoutCallback(*controller, true);
      }
      for (auto& s : std::vector<std::shared_ptr<UIView>>(v->subviews_)) layoutTree(s.get());
    };
    layoutTree(this);
    // Another pass only when layout code changed the constraint system or a size again.
    if (e.generation() == generation && !anyNeedsLayout(this)) return;
  }
}

void UIView::layoutSubviews() {
  detail::LayoutEngine* e = rootView()->engine_.get();
  if (!e) return;
  for (auto& s : std::vector<std::shared_ptr<UIView>>(subviews_)) {
    if (s->translatesAutoresizing_) continue;
    auto f = e->solvedFrame(s.get());
    if (!f) continue;
    // Layout sets size and centre and leaves the transform alone.
    s->setBounds({s->bounds().origin, f->size});
    s->setCenter({f->origin.x + f->size.width * s->layer_->anchorPoint().x,
                  f->origin.y + f->size.height * s->layer_->anchorPoint().y});
  }
}

void UIView::resizeSubviewsForAutoresizing(CGSize oldSize) {
  CGSize newSize = bounds().size;
  CGFloat dw = newSize.width - oldSize.width, dh = newSize.height - oldSize.height;
  for (auto& s : subviews_) {
    unsigned m = s->autoresizingMask;
    if (m == UIViewAutoresizingNone || !s->translatesAutoresizing_) continue;
    CGRect f = s->frame();
    auto share = [](CGFloat delta, bool lead, bool size, bool trail, CGFloat& origin, CGFloat& length) {
      int parts = lead + size + trail;
      if (parts == 0) return;
      CGFloat each = delta / parts;
      if (lead) origin += each;
      if (size) length += each;
    };
    share(dw, m & UIViewAutoresizingFlexibleLeftMargin, m & UIViewAutoresizingFlexibleWidth,
          m & UIViewAutoresizingFlexibleRightMargin, f.origin.x, f.size.width);
    share(dh, m & UIViewAutoresizingFlexibleTopMargin, m & UIViewAutoresizingFlexibleHeight,
          m & UIViewAutoresizingFlexibleBottomMargin, f.origin.y, f.size.height);
    s->setFrame(f);
  }
}

std::size_t UIView::solverConstraintCount() const { return engine_ ? engine_->solverConstraintCount() : 0; }

}  // namespace uikit
