#include "app/screens/ActivityIndicatorButton.h"

#include <algorithm>
#include <cmath>

#include "platform/uikit/Animation.h"
#include "platform/uikit/Transaction.h"

RUNTIME_CLASS(fendrel::ActivityIndicatorButton, uikit::UIControl, "Fendrel.ActivityIndicatorButton");

namespace fendrel {

using namespace uikit;

namespace {

/// The margin between the button's edge and the progress ring.
constexpr CGFloat kOuter = 1.0;
/// The disc and ring are drawn at this size while pressed.
constexpr CGFloat kPressedScale = 0.98;
/// Natural size of a button without image, and the smallest image box.
constexpr CGFloat kMinimumSide = 35.0;
/// The saturation of the tint and foreground colours while disabled.
constexpr double kDisabledSaturation = 0.2;

/// The views that draw the disc and the progress ring: plain views backed by shape layers.
class BackgroundView : public UIView {
 public:
  BackgroundView() : UIView(CAShapeLayer::create()) {}
  std::string className() const override { return "BackgroundView"; }
};

class ProgressView : public UIView {
 public:
  ProgressView() : UIView(CAShapeLayer::create()) {}
  std::string className() const override { return "ProgressView"; }
};

/// A circle from the top, clockwise, all the way round.
UIBezierPath circle(CGPoint centre, CGFloat radius) {
  return UIBezierPath::arc(centre, std::max(0.0, radius), -kPi / 2, 3 * kPi / 2, true);
}

/// A circle of radius 0: the start of every growing circle.
UIBezierPath dot(CGPoint centre) { return UIBezierPath::arc(centre, 0, 0, 2 * kPi, true); }

CGPoint boundsCentre(const UIView& view) {
  CGRect b = view.bounds();
  return {b.midX(), b.midY()};
}

/// Stroke fractions outside the circle are meaningless: keep them within it.
double clampFraction(double v) { return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0); }

/// Runs `body` with implicit layer actions switched off.
template <class Body>
void withoutActions(Body body) {
  CATransaction::begin();
  CATransaction::setDisableActions(true);
  body();
  CATransaction::commit();
}

}  // namespace

std::shared_ptr<ActivityIndicatorButton> ActivityIndicatorButton::create(const CGRect& frame) {
  auto button = std::shared_ptr<ActivityIndicatorButton>(new ActivityIndicatorButton());
  button->setFrame(frame);
  button->initialize();
  return button;
}

void ActivityIndicatorButton::initialize() {
  setUpViews();
  updateFillColors();
  updateStrokeColors();
  render(false);
  auto self = std::static_pointer_cast<ActivityIndicatorButton>(shared_from_this());
  addTarget<ActivityIndicatorButton>(self, "handleTouchUp:", UIControlEventTouchUpInside,
                                     [](ActivityIndicatorButton& b, UIControl&) { b.playHitAnimation(true); });
  addTarget<ActivityIndicatorButton>(self, "handleTouchDown:", UIControlEventTouchDown,
                                     [](ActivityIndicatorButton& b, UIControl&) { b.playHitAnimation(false); });
}

// Parts, created on first use and kept.

const std::shared_ptr<UIImageView>& ActivityIndicatorButton::imageView() {
  if (!imageView_) imageView_ = std::make_shared<UIImageView>();
  return imageView_;
}

const std::shared_ptr<CAShapeLayer>& ActivityIndicatorButton::imageViewMask() {
  if (!imageViewMask_) imageViewMask_ = CAShapeLayer::create();
  return imageViewMask_;
}

const std::shared_ptr<UIView>& ActivityIndicatorButton::backgroundView() {
  if (!backgroundView_) backgroundView_ = std::make_shared<BackgroundView>();
  return backgroundView_;
}

const std::shared_ptr<UIView>& ActivityIndicatorButton::progressView() {
  if (!progressView_) progressView_ = std::make_shared<ProgressView>();
  return progressView_;
}

CAShapeLayer& ActivityIndicatorButton::backgroundLayer() { return static_cast<CAShapeLayer&>(*backgroundView()->layer()); }
CAShapeLayer& ActivityIndicatorButton::progressLayer() { return static_cast<CAShapeLayer&>(*progressView()->layer()); }

// State.

void ActivityIndicatorButton::setActivityState(State state) { setActivityState(std::move(state), true); }

void ActivityIndicatorButton::setActivityState(State state, bool animated) {
  activityState_ = std::move(state);
  render(animated);
}

void ActivityIndicatorButton::changeActivityState(const std::function<void(State&)>& change) {
  if (change) change(activityState_);
  render(true);
}

void ActivityIndicatorButton::setImage(std::shared_ptr<UIImage> image) {
  changeActivityState([&](State& s) { s.image = std::move(image); });
}

UIColor ActivityIndicatorButton::currentTintColor() const {
  return activityState_.tintColor ? *activityState_.tintColor : tintColor();
}

UIColor ActivityIndicatorButton::currentTrackColor() const {
  return activityState_.trackColor ? *activityState_.trackColor : normalTrackColor_;
}

UIColor ActivityIndicatorButton::currentForegroundColor() const {
  return activityState_.foregroundColor ? *activityState_.foregroundColor : normalForegroundColor_;
}

// Property observers.

void ActivityIndicatorButton::redrawColours() {
  updateFillColors();
  updateStrokeColors();
}

void ActivityIndicatorButton::widthsChanged() {
  rebuildButtonConstraints();
  updatePaths();
}

void ActivityIndicatorButton::setNormalTrackColor(UIColor color) {
  normalTrackColor_ = std::move(color);
  redrawColours();
}

void ActivityIndicatorButton::setNormalForegroundColor(UIColor color) {
  normalForegroundColor_ = std::move(color);
  redrawColours();
}

void ActivityIndicatorButton::setStyle(ActivityIndicatorButtonStyle style) {
  style_ = style;
  redrawColours();
}

void ActivityIndicatorButton::setProgressBarWidth(CGFloat width) {
  progressBarWidth_ = width;
  widthsChanged();
}

void ActivityIndicatorButton::setTrackWidth(CGFloat width) {
  trackWidth_ = width;
  widthsChanged();
}

void ActivityIndicatorButton::setMinimumImagePadding(CGFloat padding) {
  minimumImagePadding_ = padding;
  widthsChanged();
}

// Saved states.

std::optional<ActivityIndicatorButtonState> ActivityIndicatorButton::savedState(const std::string& name) const {
  auto it = savedStates_.find(name);
  if (it == savedStates_.end()) return std::nullopt;
  return it->second;
}

void ActivityIndicatorButton::setSavedState(const std::string& name, std::optional<State> state) {
  if (state) savedStates_.insert_or_assign(name, std::move(*state));
  else savedStates_.erase(name);
}

void ActivityIndicatorButton::saveStates(const std::vector<State>& states) {
  // A state without a name has no key to be found under again: it is skipped.
  for (const auto& s : states)
    if (s.name()) savedStates_.insert_or_assign(*s.name(), s);
}

bool ActivityIndicatorButton::applySavedState(const std::string& name, bool animated) {
  auto state = savedState(name);
  if (!state) return false;
  setActivityState(std::move(*state), animated);
  return true;
}

// Control and view behaviour.

void ActivityIndicatorButton::setEnabled(bool enabled) {
  UIControl::setEnabled(enabled);
  redrawColours();
}

void ActivityIndicatorButton::tintColorDidChange() {
  UIControl::tintColorDidChange();
  // The base initialiser may report a tint before the parts exist.
  if (backgroundView_ && progressView_) redrawColours();
}

void ActivityIndicatorButton::layoutSubviews() {
  UIControl::layoutSubviews();
  updatePaths();
}

CGSize ActivityIndicatorButton::intrinsicContentSize() const {
  if (!activityState_.image) return {kMinimumSide, kMinimumSide};
  CGFloat pad = minimumImagePadding_ + trackWidth_ + progressBarWidth_ + kOuter;
  CGSize image = activityState_.image->size();
  return {2 * pad + std::max(image.width, kMinimumSide), 2 * pad + std::max(image.height, kMinimumSide)};
}

// Drawing.

void ActivityIndicatorButton::render(bool animated) {
  const State& state = activityState_;
  const auto kind = state.progressBarStyle.kind();
  // 1-2: target visibility of the disc and of the ring.
  bool showBackground = !(style_ == ActivityIndicatorButtonStyle::outline && kind == ProgressBarStyle::Kind::spinning);
  double backgroundTarget = showBackground ? 1.0 : 0.0;
  double progressTarget = kind == ProgressBarStyle::Kind::inactive ? 0.0 : 1.0;
  // 3: what is drawn now.
  CAShapeLayer& background = backgroundLayer();
  double backgroundOpacity = background.opacity();
  std::optional<UIColor> drawnColour =
      style_ == ActivityIndicatorButtonStyle::solid ? background.fillColor() : background.strokeColor();
  std::shared_ptr<UIImage> currentImage = imageView()->image();
  // 4: whether the image changed.
  bool imageChanged = animated && ((!currentImage != !state.image) || (currentImage && currentImage != state.image));
  // 5: the disc fades only when an animated change flips its visibility.
  bool flips = (backgroundTarget == 1.0 && backgroundOpacity <= 0.5) || (backgroundTarget == 0.0 && backgroundOpacity > 0.5);
  if (animated && flips) {
    fadeOpacity(background, backgroundTarget, 1.0 - backgroundTarget, animationDuration, animationTimingFunction);
  } else {
    withoutActions([&] { background.setOpacity(backgroundTarget); });
  }
  // 6: the ring shows or hides at once.
  withoutActions([&] { progressLayer().setOpacity(progressTarget); });
  // 7: colours, through the growing circle when the disc's colour changes.
  if (drawnColour != std::optional<UIColor>(currentTintColor()) && style_ == ActivityIndicatorButtonStyle::solid) {
    runColourChange();
  } else {
    redrawColours();
  }
  // 8-9: the image, revealed by a growing circle when it changed.
  bool sizeChanges = !currentImage != !state.image ||
                     (currentImage && state.image && currentImage->size() != state.image->size());
  imageView()->setImage(state.image);
  imageView()->sizeToFit();
  if (sizeChanges) invalidateIntrinsicContentSize();
  if (imageChanged) runImageReveal();
  else redrawColours();
  // 10-13.
  updateSpinning();
  double from = 0.0;
  if (renderedActivityState_) from = renderedActivityState_->progressBarStyle.percentageValue().value_or(0.0f);
  updateProgress(from, animated);
  rebuildButtonConstraints();
  renderedActivityState_ = activityState_;
}

void ActivityIndicatorButton::setUpViews() {
  for (UIView* v : {static_cast<UIView*>(imageView().get()), backgroundView().get(), progressView().get()}) {
    v->setTranslatesAutoresizingMaskIntoConstraints(false);
    v->setBackgroundColor(UIColor::clearColor());
    v->setUserInteractionEnabled(false);
  }
  setBackgroundColor(UIColor::clearColor());
  addSubview(backgroundView());
  addSubview(imageView());
  addSubview(progressView());
  const std::map<std::string, CGFloat> metrics{{"OUTER", kOuter}};
  const std::map<std::string, std::shared_ptr<UIView>> views{{"progress", progressView()}};
  for (const char* format : {"H:|-(OUTER)-[progress]-(OUTER)-|", "V:|-(OUTER)-[progress]-(OUTER)-|"}) {
    auto constraints = NSLayoutConstraint::constraintsWithVisualFormat(format, metrics, views);
    if (constraints) addConstraints(*constraints);
  }
  addConstraint(NSLayoutConstraint::constraintWithItem(imageView().get(), NSLayoutAttribute::CenterX,
                                                       NSLayoutRelation::Equal, this, NSLayoutAttribute::CenterX, 1.0, 0));
  addConstraint(NSLayoutConstraint::constraintWithItem(imageView().get(), NSLayoutAttribute::CenterY,
                                                       NSLayoutRelation::Equal, this, NSLayoutAttribute::CenterY, 1.0, 0));
  rebuildButtonConstraints();
  imageViewMask()->setFillColor(UIColor::whiteColor());
  imageView()->layer()->setMask(imageViewMask());
  layer()->setShadowOffset({0, 2.0});
  layer()->setShadowRadius(2.5);
  layer()->setShadowOpacity(0.5);
  layer()->setMasksToBounds(false);
}

void ActivityIndicatorButton::rebuildButtonConstraints() {
  removeConstraints(buttonConstraints_);
  buttonConstraints_.clear();
  // Only the track is centred on the disc's edge, so only half of it counts.
  const CGFloat inner = kOuter + progressBarWidth_ + trackWidth_ * 0.5;
  const std::map<std::string, CGFloat> metrics{{"INNER", inner}, {"IMAGE_PAD", inner + minimumImagePadding_}};
  const std::map<std::string, std::shared_ptr<UIView>> views{{"bg", backgroundView()}, {"image", imageView()}};
  for (const char* format : {"H:|-(INNER)-[bg]-(INNER)-|", "V:|-(INNER)-[bg]-(INNER)-|",
                             "H:|-(IMAGE_PAD)-[image]-(IMAGE_PAD)-|", "V:|-(IMAGE_PAD)-[image]-(IMAGE_PAD)-|"}) {
    auto constraints = NSLayoutConstraint::constraintsWithVisualFormat(format, metrics, views);
    if (constraints) buttonConstraints_.insert(buttonConstraints_.end(), constraints->begin(), constraints->end());
  }
  addConstraints(buttonConstraints_);
}

CGFloat ActivityIndicatorButton::backgroundRadius() const {
  // Before the first layout the views have no size: a circle of radius 0, never a negative one.
  CGRect f = backgroundView_->frame();
  return std::max(0.0, std::min(f.width(), f.height()) * 0.5);
}

UIBezierPath ActivityIndicatorButton::circlePath(const UIView& view) const {
  return circle(boundsCentre(view), backgroundRadius());
}

UIBezierPath ActivityIndicatorButton::backgroundPath() const { return circlePath(*backgroundView_); }
UIBezierPath ActivityIndicatorButton::imageMaskPath() const { return circlePath(*imageView_); }

void ActivityIndicatorButton::updatePaths() {
  progressLayer().setLineWidth(progressBarWidth_);
  backgroundLayer().setLineWidth(trackWidth_);
  CGRect pf = progressView()->frame();
  progressLayer().setPath(circle(boundsCentre(*progressView()),
                                 std::min(pf.width(), pf.height()) * 0.5 - progressBarWidth_ * 0.5));
  backgroundLayer().setPath(backgroundPath());
  imageViewMask()->setPath(imageMaskPath());
  layer()->setShadowPath(circle(boundsCentre(*this), backgroundRadius()));
}

void ActivityIndicatorButton::updateFillColors() {
  UIColor tint = currentTintColor(), foreground = currentForegroundColor();
  if (!isEnabled()) {
    tint = tint.withSaturation(kDisabledSaturation);
    foreground = foreground.withSaturation(kDisabledSaturation);
  }
  if (style_ == ActivityIndicatorButtonStyle::solid) {
    backgroundLayer().setFillColor(tint);
    imageView()->setTintColor(foreground);
    layer()->setShadowColor(shadowColor);
  } else {
    backgroundLayer().setFillColor(UIColor::clearColor());
    imageView()->setTintColor(tint);
    layer()->setShadowColor(UIColor::clearColor());
  }
}

void ActivityIndicatorButton::updateStrokeColors() {
  UIColor tint = currentTintColor();
  if (!isEnabled()) tint = tint.withSaturation(kDisabledSaturation);
  progressLayer().setStrokeColor(tint);
  progressLayer().setFillColor(UIColor::clearColor());
  backgroundLayer().setStrokeColor(currentTrackColor());
}

void ActivityIndicatorButton::fadeOpacity(CALayer& layer, double to, double from, double duration,
                                          const CAMediaTimingFunction& timing) {
  auto fade = CABasicAnimation::create("opacity");
  fade->fromValue = from;
  fade->toValue = to;
  fade->duration = duration;
  fade->timingFunction = timing;
  layer.addAnimation(fade, "opacity");
  layer.setOpacity(to);
}

void ActivityIndicatorButton::updateProgress(double from, bool animated) {
  auto value = activityState_.progressBarStyle.percentageValue();
  if (!value) return;
  double to = clampFraction(*value);
  if (animated) {
    auto progress = CABasicAnimation::create("strokeEnd");
    progress->fromValue = clampFraction(from);
    progress->toValue = to;
    progress->duration = animationDuration;
    progress->timingFunction = animationTimingFunction;
    progressLayer().addAnimation(progress, "progress");
    progressLayer().setStrokeEnd(to);
  } else {
    withoutActions([&] { progressLayer().setStrokeEnd(to); });
  }
}

void ActivityIndicatorButton::updateSpinning() {
  progressLayer().removeAnimation("spinning_stroke");
  progressLayer().removeAnimation("spinning_rotation");
  if (activityState_.progressBarStyle.kind() != ProgressBarStyle::Kind::spinning) return;
  // One cycle: the arc grows from the top to the full circle, holds, then its start catches up.
  struct Step {
    const char* keyPath;
    double from, to, begin, duration;
  };
  static const Step steps[] = {
      {"strokeStart", 0.0, 0.25, 0.0, 0.9},  {"strokeEnd", 0.0, 1.0, 0.0, 0.9},
      {"strokeStart", 0.25, 0.25, 0.9, 0.05}, {"strokeEnd", 1.0, 1.0, 0.9, 0.05},
      {"strokeStart", 0.25, 0.9, 0.95, 0.6}, {"strokeEnd", 1.0, 1.0, 0.95, 0.6},
      {"strokeStart", 0.9, 0.9, 1.55, 0.05}, {"strokeEnd", 1.0, 1.0, 1.55, 0.05},
      {"strokeStart", 0.9, 1.0, 1.6, 0.1},   {"strokeEnd", 1.0, 1.0, 1.6, 0.1},
  };
  auto group = CAAnimationGroup::create();
  for (const auto& s : steps) {
    auto a = CABasicAnimation::create(s.keyPath);
    a->fromValue = s.from;
    a->toValue = s.to;
    a->beginTime = s.begin;
    a->duration = s.duration;
    group->animations.push_back(a);
  }
  group->duration = 1.7;
  group->repeatCount = kRepeatForever;
  progressLayer().addAnimation(group, "spinning_stroke");

  auto rotation = CABasicAnimation::create("transform.rotation");
  rotation->fromValue = 0.0;
  rotation->toValue = 2 * kPi;
  rotation->duration = 3.0;
  rotation->repeatCount = kRepeatForever;
  progressLayer().addAnimation(rotation, "spinning_rotation");
}

void ActivityIndicatorButton::runColourChange() {
  auto circleLayer = CAShapeLayer::create();
  UIBezierPath path = backgroundPath();
  circleLayer->setPath(path);
  withoutActions([&] { circleLayer->setFillColor(currentTintColor()); });
  backgroundLayer().addSublayer(circleLayer);

  std::weak_ptr<UIView> weak = weak_from_this();
  std::weak_ptr<CALayer> weakLayer = circleLayer;
  CATransaction::begin();
  CATransaction::setCompletionBlock([weak, weakLayer] {
    if (auto l = weakLayer.lock()) l->removeFromSuperlayer();
    if (auto self = std::static_pointer_cast<ActivityIndicatorButton>(weak.lock())) self->redrawColours();
  });
  auto expand = CABasicAnimation::create("path");
  expand->fromValue = dot(path.bounds().center());
  expand->toValue = path;
  expand->duration = animationDuration;
  expand->timingFunction = animationTimingFunction;
  circleLayer->addAnimation(expand, "bg_expand");
  CATransaction::commit();
}

void ActivityIndicatorButton::runImageReveal() {
  UIBezierPath path = imageMaskPath();
  auto reveal = CABasicAnimation::create("path");
  reveal->fromValue = dot(path.bounds().center());
  reveal->toValue = path;
  reveal->duration = animationDuration;
  reveal->timingFunction = animationTimingFunction;
  imageViewMask()->addAnimation(reveal, "image_expand");
}

void ActivityIndicatorButton::playHitAnimation(bool touchUp) {
  const double duration = hitAnimationDuration;
  const CGFloat distance = hitAnimationDistance;
  const CAMediaTimingFunction timing(CAMediaTimingFunction::Name::EaseOut);
  auto ripple = CAShapeLayer::create();
  ripple->setFillColor(hitAnimationColor);
  ripple->setStrokeColor(UIColor::clearColor());
  layer()->insertSublayer(ripple, 0);

  CGPoint centre = boundsCentre(*this);
  CGRect b = bounds();
  CGFloat endRadius = distance + std::max(b.width(), b.height()) * 0.5;

  std::weak_ptr<CALayer> weakRipple = ripple;
  CATransaction::begin();
  CATransaction::setCompletionBlock([weakRipple] {
    if (auto l = weakRipple.lock()) l->removeFromSuperlayer();
  });
  auto grow = CABasicAnimation::create("path");
  grow->fromValue = dot(centre);
  grow->toValue = UIBezierPath::arc(centre, endRadius, 0, 2 * kPi, true);
  auto fade = CABasicAnimation::create("opacity");
  fade->fromValue = 1.0;
  fade->toValue = 0.0;
  animateHitScale(backgroundLayer(), touchUp, timing, duration);
  animateHitScale(*layer(), touchUp, timing, duration);
  auto group = CAAnimationGroup::create();
  group->animations = {grow, fade};
  group->duration = duration;
  group->timingFunction = timing;
  ripple->addAnimation(group, "ripple");
  CATransaction::commit();
}

void ActivityIndicatorButton::animateHitScale(CALayer& layer, bool touchUp, const CAMediaTimingFunction& timing,
                                              double duration) {
  const CATransform3D pressed = CATransform3D::makeScale(kPressedScale, kPressedScale, 1.0);
  const CATransform3D released = CATransform3D::identity();
  auto scale = CABasicAnimation::create("transform");
  scale->fromValue = touchUp ? pressed : released;
  scale->toValue = touchUp ? released : pressed;
  scale->duration = duration;
  scale->timingFunction = timing;
  layer.addAnimation(scale, "hit_scale");
  layer.setTransform(touchUp ? released : pressed);
}

}  // namespace fendrel
