#pragma once
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/Control.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Layer.h"
#include "platform/uikit/MediaTimingFunction.h"

namespace fendrel {

/// How the button's disc is drawn.
enum class ActivityIndicatorButtonStyle {
  /// A ring in the track colour around a clear disc; the image takes the tint colour; no shadow.
  outline,
  /// A disc in the tint colour; the image takes the foreground colour; a drop shadow.
  solid,
};

/// What the progress ring shows.
class ActivityIndicatorButtonProgressBarStyle {
 public:
  enum class Kind { percentage, inactive, spinning };
  /// The ring filled to `value`, a fraction of the circle.
  static ActivityIndicatorButtonProgressBarStyle percentage(float value) { return {Kind::percentage, value}; }
  /// No ring.
  static ActivityIndicatorButtonProgressBarStyle inactive() { return {Kind::inactive, 0}; }
  /// The endless spinner.
  static ActivityIndicatorButtonProgressBarStyle spinning() { return {Kind::spinning, 0}; }

  Kind kind() const { return kind_; }
  /// The fraction of a percentage style; nothing for the others.
  std::optional<float> percentageValue() const {
    return kind_ == Kind::percentage ? std::optional<float>(value_) : std::nullopt;
  }
  friend bool operator==(const ActivityIndicatorButtonProgressBarStyle& a, const ActivityIndicatorButtonProgressBarStyle& b) {
    return a.kind_ == b.kind_ && (a.kind_ != Kind::percentage || a.value_ == b.value_);
  }

 private:
  ActivityIndicatorButtonProgressBarStyle(Kind kind, float value) : kind_(kind), value_(value) {}
  Kind kind_;
  float value_;
};

/// One look of the button. Two states are equal when their tint and track colours, image (the
/// same object) and progress style are; the name and the foreground colour take no part.
class ActivityIndicatorButtonState {
 public:
  ActivityIndicatorButtonState() = default;
  ActivityIndicatorButtonState(std::optional<std::string> name, std::optional<uikit::UIColor> tintColor,
                               std::optional<uikit::UIColor> trackColor,
                               std::optional<uikit::UIColor> foregroundColor, std::shared_ptr<uikit::UIImage> image,
                               ActivityIndicatorButtonProgressBarStyle progressBarStyle)
      : tintColor(std::move(tintColor)), trackColor(std::move(trackColor)),
        foregroundColor(std::move(foregroundColor)), image(std::move(image)), progressBarStyle(progressBarStyle),
        name_(std::move(name)) {}

  /// The key the state is saved under; fixed at creation.
  const std::optional<std::string>& name() const { return name_; }
  std::optional<uikit::UIColor> tintColor;
  std::optional<uikit::UIColor> trackColor;
  std::optional<uikit::UIColor> foregroundColor;
  std::shared_ptr<uikit::UIImage> image;
  ActivityIndicatorButtonProgressBarStyle progressBarStyle = ActivityIndicatorButtonProgressBarStyle::inactive();

  void setProgress(float value) { progressBarStyle = ActivityIndicatorButtonProgressBarStyle::percentage(value); }

  friend bool operator==(const ActivityIndicatorButtonState& a, const ActivityIndicatorButtonState& b) {
    return a.tintColor == b.tintColor && a.trackColor == b.trackColor && a.image == b.image &&
           a.progressBarStyle == b.progressBarStyle;
  }

 private:
  std::optional<std::string> name_;
};

/// The round download button: a disc or ring with an image in the middle, a progress ring that
/// fills or spins, a ripple and a press-in on touch, and a drop shadow. It draws whatever state
/// it is given; every property assignment redraws at once, also when the value is unchanged.
/// Main thread only.
class ActivityIndicatorButton : public uikit::UIControl {
 public:
  using State = ActivityIndicatorButtonState;
  using ProgressBarStyle = ActivityIndicatorButtonProgressBarStyle;

  static std::shared_ptr<ActivityIndicatorButton> create(const uikit::CGRect& frame = {});
  std::string className() const override { return "ActivityIndicatorButton"; }

  // The state.
  const State& activityState() const { return activityState_; }
  /// Stores the state and draws it with animation.
  void setActivityState(State state);
  /// Stores the state and draws it, animated or not.
  void setActivityState(State state, bool animated);
  /// Changes the state in place (one field, as a cell does) and draws it with animation.
  void changeActivityState(const std::function<void(State&)>& change);
  /// The state last drawn; absent before the first render.
  const std::optional<State>& renderedActivityState() const { return renderedActivityState_; }

  // Colours and sizes.
  const uikit::UIColor& normalTrackColor() const { return normalTrackColor_; }
  void setNormalTrackColor(uikit::UIColor color);
  const uikit::UIColor& normalForegroundColor() const { return normalForegroundColor_; }
  void setNormalForegroundColor(uikit::UIColor color);
  double animationDuration = 0.2;
  uikit::CAMediaTimingFunction animationTimingFunction{uikit::CAMediaTimingFunction::Name::EaseOut};
  uikit::CGFloat hitAnimationDistance = 5.0;
  double hitAnimationDuration = 0.5;
  uikit::UIColor hitAnimationColor = uikit::UIColor::grayColor().withAlphaComponent(0.5);
  /// Used at the next colour update.
  uikit::UIColor shadowColor = uikit::UIColor::blackColor();
  ActivityIndicatorButtonStyle style() const { return style_; }
  void setStyle(ActivityIndicatorButtonStyle style);
  uikit::CGFloat progressBarWidth() const { return progressBarWidth_; }
  void setProgressBarWidth(uikit::CGFloat width);
  uikit::CGFloat trackWidth() const { return trackWidth_; }
  void setTrackWidth(uikit::CGFloat width);
  uikit::CGFloat minimumImagePadding() const { return minimumImagePadding_; }
  void setMinimumImagePadding(uikit::CGFloat padding);

  /// The state's image; setting it changes the state in place.
  std::shared_ptr<uikit::UIImage> image() const { return activityState_.image; }
  void setImage(std::shared_ptr<uikit::UIImage> image);
  uikit::UIColor currentTintColor() const;
  uikit::UIColor currentTrackColor() const;
  uikit::UIColor currentForegroundColor() const;

  // Saved states, by name.
  std::optional<State> savedState(const std::string& name) const;
  /// Stores `state` under `name`, or removes the entry when it is absent.
  void setSavedState(const std::string& name, std::optional<State> state);
  /// Stores each state under its own name, in order; a state without a name is skipped.
  void saveStates(const std::vector<State>& states);
  /// Draws the state saved under `name`; false, changing nothing, when there is none.
  bool applySavedState(const std::string& name, bool animated);
  std::size_t savedStateCount() const { return savedStates_.size(); }

  // The parts, for the cell and for inspection.
  const std::shared_ptr<uikit::UIImageView>& imageView();
  const std::shared_ptr<uikit::CAShapeLayer>& imageViewMask();
  const std::shared_ptr<uikit::UIView>& backgroundView();
  const std::shared_ptr<uikit::UIView>& progressView();
  const std::vector<std::shared_ptr<uikit::NSLayoutConstraint>>& buttonConstraints() const { return buttonConstraints_; }
  uikit::CAShapeLayer& backgroundLayer();
  uikit::CAShapeLayer& progressLayer();

  // Control and view behaviour.
  void setEnabled(bool enabled) override;
  void tintColorDidChange() override;
  void layoutSubviews() override;
  uikit::CGSize intrinsicContentSize() const override;

 private:
  ActivityIndicatorButton() = default;
  void initialize();
  void render(bool animated);
  void setUpViews();
  void rebuildButtonConstraints();
  void updatePaths();
  void updateFillColors();
  void updateStrokeColors();
  void fadeOpacity(uikit::CALayer& layer, double to, double from, double duration,
                   const uikit::CAMediaTimingFunction& timing);
  void updateProgress(double from, bool animated);
  void updateSpinning();
  void runColourChange();
  void runImageReveal();
  void playHitAnimation(bool touchUp);
  void animateHitScale(uikit::CALayer& layer, bool touchUp, const uikit::CAMediaTimingFunction& timing, double duration);
  uikit::UIBezierPath backgroundPath() const;
  uikit::UIBezierPath imageMaskPath() const;
  uikit::UIBezierPath circlePath(const uikit::UIView& view) const;
  uikit::CGFloat backgroundRadius() const;
  void redrawColours();
  void widthsChanged();

  State activityState_;
  uikit::UIColor normalTrackColor_ = uikit::UIColor::lightGrayColor();
  uikit::UIColor normalForegroundColor_ = uikit::UIColor::whiteColor();
  ActivityIndicatorButtonStyle style_ = ActivityIndicatorButtonStyle::solid;
  uikit::CGFloat progressBarWidth_ = 3.0;
  uikit::CGFloat trackWidth_ = 0.0;
  uikit::CGFloat minimumImagePadding_ = 5.0;
  std::map<std::string, State> savedStates_;
  std::optional<State> renderedActivityState_;
  std::shared_ptr<uikit::UIImageView> imageView_;
  std::shared_ptr<uikit::CAShapeLayer> imageViewMask_;
  std::shared_ptr<uikit::UIView> backgroundView_;
  std::shared_ptr<uikit::UIView> progressView_;
  std::vector<std::shared_ptr<uikit::NSLayoutConstraint>> buttonConstraints_;
};

}  // namespace fendrel
