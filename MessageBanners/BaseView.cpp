#include "MessageBanners/BaseView.h"

#include <algorithm>

#include "MessageBanners/AnimationContext.h"
#include "platform/uikit/Animation.h"

namespace MessageBanners {

using uikit::CGFloat;
using uikit::NSLayoutAttribute;
using uikit::NSLayoutConstraint;
using uikit::NSLayoutRelation;
using uikit::UIEdgeInsets;
using uikit::UIView;

namespace {

std::shared_ptr<NSLayoutConstraint> withPriority(std::shared_ptr<NSLayoutConstraint> c, uikit::UILayoutPriority p) {
  c->setPriority(p);
  return c;
}

/// `view`'s `attribute` fixed to `constant`, with no second item.
std::shared_ptr<NSLayoutConstraint> fixed(UIView& view, NSLayoutAttribute attribute, CGFloat constant) {
  return NSLayoutConstraint::constraintWithItem(&view, attribute, NSLayoutRelation::Equal, nullptr,
                                                NSLayoutAttribute::NotAnAttribute, 1.0, constant);
}

}  // namespace

UIEdgeInsets MarginAdjustable::safeAreaMargins() {
  auto* view = dynamic_cast<UIView*>(this);
  if (!respectSafeArea() || !view) return {};
  view->insetsLayoutMarginsFromSafeArea = false;
  return view->safeAreaInsets();
}

UIEdgeInsets MarginAdjustable::defaultMarginAdjustment(const AnimationContext& context) {
  UIEdgeInsets additions = layoutMarginAdditions();
  UIEdgeInsets safe = safeAreaMargins();
  if (context.safeZoneConflicts().contains(SafeZoneConflicts::statusBarCovered())) safe.top = 0;
  auto combine = [this](CGFloat addition, CGFloat inset) {
    return collapseLayoutMarginAdditions() ? std::max(addition, inset) : addition + inset;
  };
  return {combine(additions.top, safe.top), combine(additions.left, safe.left),
          combine(additions.bottom, safe.bottom), combine(additions.right, safe.right)};
}

std::shared_ptr<const uikit::CABasicAnimation> runningBasicAnimation(const uikit::CALayer& layer,
                                                                     const std::string& keyPath) {
  for (const auto& key : layer.animationKeys()) {
    auto basic = std::dynamic_pointer_cast<const uikit::CABasicAnimation>(layer.animationForKey(key));
    if (basic && basic->keyPath == keyPath) return basic;
  }
  return nullptr;
}

std::shared_ptr<BaseView> BaseView::create(const uikit::CGRect& frame) {
  auto view = std::shared_ptr<BaseView>(new BaseView());
  view->initBaseView(frame);
  return view;
}

void BaseView::initBaseView(const uikit::CGRect& frame) {
  setFrame(frame);
  backgroundView_ = std::static_pointer_cast<UIView>(shared_from_this());
  setLayoutMargins({});
}

void BaseView::setBackgroundView(const std::shared_ptr<UIView>& view) {
  auto old = backgroundView_.lock();
  backgroundView_ = view;
  if (old && tapRecognizer_) old->removeGestureRecognizer(tapRecognizer_.get());
  refreshTapRecognizer();
  refreshBackgroundHeightConstraint();
}

void BaseView::setTapHandler(TapHandler handler) {
  tapHandler_ = std::move(handler);
  refreshTapRecognizer();
}

uikit::UITapGestureRecognizer& BaseView::tapRecognizer() {
  if (!tapRecognizer_) {
    // The recogniser holds its target weakly: the view owns the recogniser.
    tapRecognizer_ = std::make_shared<uikit::UITapGestureRecognizer>();
    tapRecognizer_->addTarget<BaseView>(std::static_pointer_cast<BaseView>(shared_from_this()), "tapped",
                                        [](BaseView& view, uikit::UIGestureRecognizer&) { view.tapped(); });
  }
  return *tapRecognizer_;
}

void BaseView::refreshTapRecognizer() {
  auto background = backgroundView();
  if (!background) return;
  auto& recognizer = tapRecognizer();
  removeGestureRecognizer(&recognizer);
  background->removeGestureRecognizer(&recognizer);
  if (tapHandler_) background->addGestureRecognizer(tapRecognizer_);
}

void BaseView::tapped() {
  if (tapHandler_) tapHandler_(*this);
}

void BaseView::installContent(const std::shared_ptr<UIView>& content, const UIEdgeInsets& insets) {
  // A card that has gone away leaves the view itself to hold the content, so nothing is lost.
  auto background = backgroundView();
  if (!background) background = shared_from_this();
  content->setTranslatesAutoresizingMaskIntoConstraints(false);
  background->addSubview(content);
  NSLayoutConstraint::activateConstraints({
      content->topAnchor().constraintEqualTo(background->topAnchor(), insets.top),
      content->bottomAnchor().constraintEqualTo(background->bottomAnchor(), -insets.bottom),
      content->leftAnchor().constraintEqualTo(background->leftAnchor(), insets.left),
      content->rightAnchor().constraintEqualTo(background->rightAnchor(), -insets.right),
      withPriority(content->heightAnchor().constraintEqualToConstant(350), 200),
  });
}

void BaseView::installBackground(const std::shared_ptr<UIView>& view, const UIEdgeInsets& insets) {
  installBackground(view, insets, false);
}

void BaseView::installEdgePinnedBackground(const std::shared_ptr<UIView>& view, const UIEdgeInsets& insets) {
  installBackground(view, insets, true);
}

void BaseView::installBackground(const std::shared_ptr<UIView>& view, const UIEdgeInsets& insets, bool edgePinned) {
  view->setTranslatesAutoresizingMaskIntoConstraints(false);
  if (view.get() != this) {
    view->removeFromSuperview();
    addSubview(view);
    setBackgroundView(view);
  }
  auto& guide = layoutMarginsGuide();
  std::vector<std::shared_ptr<NSLayoutConstraint>> vertical;
  if (edgePinned) {
    vertical = {view->topAnchor().constraintEqualTo(topAnchor(), insets.top),
                view->bottomAnchor().constraintEqualTo(bottomAnchor(), -insets.bottom)};
  } else {
    vertical = {withPriority(view->topAnchor().constraintEqualTo(guide.topAnchor(), insets.top), 900),
                withPriority(view->bottomAnchor().constraintEqualTo(guide.bottomAnchor(), -insets.bottom), 900)};
  }
  NSLayoutConstraint::activateConstraints({
      withPriority(view->centerXAnchor().constraintEqualTo(centerXAnchor()), 950),
      vertical[0],
      vertical[1],
      withPriority(view->heightAnchor().constraintEqualToConstant(350), 200),
  });
  layoutConstraints = {
      withPriority(view->leftAnchor().constraintEqualTo(guide.leftAnchor(), insets.left), 900),
      withPriority(view->rightAnchor().constraintEqualTo(guide.rightAnchor(), -insets.right), 900),
  };
  regularWidthLayoutConstraints = {
      withPriority(view->leftAnchor().constraintGreaterThanOrEqualTo(guide.leftAnchor(), insets.left), 900),
      withPriority(view->rightAnchor().constraintLessThanOrEqualTo(guide.rightAnchor(), -insets.right), 900),
      withPriority(view->widthAnchor().constraintLessThanOrEqualToConstant(500), 950),
      withPriority(view->widthAnchor().constraintEqualToConstant(500), 200),
  };
  refreshTapRecognizer();
  // The next constraint update picks the width rules of the current size class.
  setNeedsUpdateConstraints();
}

UIEdgeInsets BaseView::layoutMarginAdditions() const {
  return {topLayoutMarginAddition, leftLayoutMarginAddition, bottomLayoutMarginAddition, rightLayoutMarginAddition};
}

void BaseView::setLayoutMarginAdditions(const UIEdgeInsets& additions) {
  topLayoutMarginAddition = additions.top;
  leftLayoutMarginAddition = additions.left;
  bottomLayoutMarginAddition = additions.bottom;
  rightLayoutMarginAddition = additions.right;
}

void BaseView::setSideLayoutMargins(CGFloat margin) {
  UIEdgeInsets margins = layoutMargins();
  margins.left = margin;
  setLayoutMargins(margins);
  margins.right = margin;
  setLayoutMargins(margins);
}

void BaseView::setBackgroundHeight(std::optional<CGFloat> height) {
  backgroundHeight_ = height;
  refreshBackgroundHeightConstraint();
}

void BaseView::refreshBackgroundHeightConstraint() {
  if (heightConstraint_) {
    if (auto* item = heightConstraint_->firstItem()) item->owningView()->removeConstraint(heightConstraint_);
    heightConstraint_.reset();
  }
  auto background = backgroundView();
  if (!backgroundHeight_ || !background) return;
  heightConstraint_ = fixed(*background, NSLayoutAttribute::Height, *backgroundHeight_);
  background->addConstraint(heightConstraint_);
}

void BaseView::constrainBackgroundWidth(CGFloat width) {
  auto background = backgroundView();
  if (!background) return;
  background->addConstraint(fixed(*background, NSLayoutAttribute::Width, width));
}

void BaseView::applyDropShadow() {
  auto& l = *layer();
  l.setShadowColor(uikit::UIColor::blackColor());
  l.setShadowOffset({0, 2});
  l.setShadowRadius(6.0);
  l.setShadowOpacity(0.4);
  l.setMasksToBounds(false);
  refreshShadowPath();
}

void BaseView::clearDropShadow() { layer()->setShadowOpacity(0); }

void BaseView::refreshShadowPath() {
  auto background = backgroundView();
  if (!background) return;
  background->layoutIfNeeded();
  auto& backgroundLayer = *background->layer();
  uikit::CGRect rect = backgroundLayer.convertRectToLayer(backgroundLayer.bounds(), layer().get());
  uikit::UIBezierPath path;
  auto mask = std::dynamic_pointer_cast<uikit::CAShapeLayer>(backgroundLayer.mask());
  if (mask && mask->path()) {
    path = *mask->path();
    path.applyTransform(uikit::CGAffineTransform::makeTranslation(rect.minX(), rect.minY()));
  } else {
    path = uikit::UIBezierPath::roundedRect(rect, backgroundLayer.cornerRadius());
  }
  if (auto resize = runningBasicAnimation(*layer(), "bounds.size")) {
    auto animation = uikit::CABasicAnimation::create("shadowPath");
    animation->duration = resize->duration;
    animation->timingFunction = resize->timingFunction;
    animation->fromValue = layer()->shadowPath() ? uikit::AnimationValue(*layer()->shadowPath()) : uikit::AnimationValue();
    animation->toValue = path;
    layer()->addAnimation(animation, "shadowPath");
  }
  layer()->setShadowPath(path);
}

void BaseView::updateConstraints() {
  UIView::updateConstraints();
  if (traitCollection().horizontalSizeClass == uikit::UIUserInterfaceSizeClass::Regular) {
    NSLayoutConstraint::deactivateConstraints(layoutConstraints);
    NSLayoutConstraint::activateConstraints(regularWidthLayoutConstraints);
  } else {
    NSLayoutConstraint::deactivateConstraints(regularWidthLayoutConstraints);
    NSLayoutConstraint::activateConstraints(layoutConstraints);
  }
}

void BaseView::layoutSubviews() {
  UIView::layoutSubviews();
  refreshShadowPath();
}

bool BaseView::pointInside(uikit::CGPoint point) const {
  // A card that has gone away counts as the view itself.
  auto background = backgroundView();
  if (!background || background.get() == this) return UIView::pointInside(point);
  return background->pointInside(convertPointToView(point, background.get()));
}

}  // namespace MessageBanners
