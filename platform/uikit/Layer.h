#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/Animation.h"
#include "platform/uikit/AnimationValue.h"
#include "platform/uikit/BezierPath.h"
#include "platform/uikit/Color.h"
#include "platform/uikit/Geometry.h"

namespace uikit {
namespace detail { class AnimationTracker; }

/// A node of the drawn tree: geometry, appearance, sublayers, an optional mask and the
/// animations running on it. Model values change at once; animations are records that end on
/// the clock and from which presentation values are computed on demand. Main thread only.
class CALayer : public std::enable_shared_from_this<CALayer> {
 public:
  static std::shared_ptr<CALayer> create();
  virtual ~CALayer() = default;

  // Geometry: the bounds rectangle is placed so that its anchor point sits at `position` in
  // the superlayer, with `transform` applied around the anchor point.
  CGRect bounds() const { return bounds_; }
  void setBounds(const CGRect& bounds) { bounds_ = bounds; }
  CGPoint position() const { return position_; }
  void setPosition(CGPoint position) { position_ = position; }
  CGPoint anchorPoint() const { return anchorPoint_; }
  void setAnchorPoint(CGPoint anchor) { anchorPoint_ = anchor; }
  CATransform3D transform() const { return transform_; }
  void setTransform(const CATransform3D& t) { transform_ = t; }
  CGAffineTransform affineTransform() const { return transform_.affine(); }
  void setAffineTransform(const CGAffineTransform& t) { transform_ = CATransform3D::makeAffine(t); }
  /// The bounding box of the transformed bounds in the superlayer.
  CGRect frame() const;
  /// Sets position and bounds size so the untransformed layer fills `frame`.
  void setFrame(const CGRect& frame);

  // Appearance.
  double opacity() const { return opacity_; }
  void setOpacity(double opacity) { opacity_ = opacity; }
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { hidden_ = hidden; }
  bool masksToBounds() const { return masksToBounds_; }
  void setMasksToBounds(bool masks) { masksToBounds_ = masks; }
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius) { cornerRadius_ = radius; }
  double borderWidth() const { return borderWidth_; }
  void setBorderWidth(double width) { borderWidth_ = width; }
  std::optional<UIColor> borderColor() const { return borderColor_; }
  void setBorderColor(std::optional<UIColor> color) { borderColor_ = std::move(color); }
  std::optional<UIColor> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<UIColor> color) { backgroundColor_ = std::move(color); }
  std::optional<UIColor> shadowColor() const { return shadowColor_; }
  void setShadowColor(std::optional<UIColor> color) { shadowColor_ = std::move(color); }
  double shadowOpacity() const { return shadowOpacity_; }
  void setShadowOpacity(double opacity) { shadowOpacity_ = opacity; }
  CGSize shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(CGSize offset) { shadowOffset_ = offset; }
  double shadowRadius() const { return shadowRadius_; }
  void setShadowRadius(double radius) { shadowRadius_ = radius; }
  const std::optional<UIBezierPath>& shadowPath() const { return shadowPath_; }
  void setShadowPath(std::optional<UIBezierPath> path) { shadowPath_ = std::move(path); }
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }

  /// The layer whose alpha cuts this one; it is not a sublayer.
  std::shared_ptr<CALayer> mask() const { return mask_; }
  void setMask(std::shared_ptr<CALayer> mask) { mask_ = std::move(mask); }

  // The tree. A layer added elsewhere first leaves its old superlayer.
  const std::vector<std::shared_ptr<CALayer>>& sublayers() const { return sublayers_; }
  std::shared_ptr<CALayer> superlayer() const { return superlayer_.lock(); }
  void addSublayer(const std::shared_ptr<CALayer>& layer);
  /// Inserts at `index` (clamped to the number of sublayers).
  void insertSublayer(const std::shared_ptr<CALayer>& layer, std::size_t index);
  void insertSublayerBelow(const std::shared_ptr<CALayer>& layer, const CALayer* sibling);
  void insertSublayerAbove(const std::shared_ptr<CALayer>& layer, const CALayer* sibling);
  void removeFromSuperlayer();

  /// Maps between the bounds coordinates of two layers of one tree through every position,
  /// anchor and transform on the way. A null `layer` means the root of this layer's tree.
  CGPoint convertPointToLayer(CGPoint point, const CALayer* layer) const;
  CGPoint convertPointFromLayer(CGPoint point, const CALayer* layer) const;
  CGRect convertRectToLayer(const CGRect& rect, const CALayer* layer) const;
  CGRect convertRectFromLayer(const CGRect& rect, const CALayer* layer) const;
  /// From this layer's bounds coordinates to its superlayer's.
  CGAffineTransform transformToSuperlayer() const;

  // Animations, kept in the order they were added.
  /// Adds a copy of `animation` under `key` (an empty key gets a private one), replacing and
  /// removing (finished = false) any animation under the same key. An animation with beginTime 0
  /// starts now. The copy joins every open transaction and view-animation block.
  void addAnimation(const std::shared_ptr<CAAnimation>& animation, const std::string& key);
  void removeAnimation(const std::string& key);
  void removeAllAnimations();
  std::vector<std::string> animationKeys() const;
  /// The running copy under `key`, or null.
  std::shared_ptr<const CAAnimation> animationForKey(const std::string& key) const;
  /// The absolute media time at which the animation under `key` started, when there is one.
  std::optional<double> animationStartTime(const std::string& key) const;

  /// The model value of a key path ("opacity", "position", "bounds.size", "transform",
  /// "transform.rotation", "path", "strokeEnd", "fillColor", …); empty for unknown paths.
  virtual AnimationValue valueForKeyPath(const std::string& keyPath) const;
  /// The value drawn at media time `time`: the model value with the running animations applied
  /// in the order they were added.
  AnimationValue presentationValue(const std::string& keyPath, double time) const;

 protected:
  CALayer() = default;

 private:
  struct Record {
    std::string key;
    std::shared_ptr<CAAnimation> animation;
    double start = 0;
    std::uint64_t serial = 0;
    std::vector<std::shared_ptr<detail::AnimationTracker>> trackers;
  };
  void animationEnded(std::uint64_t serial);
  static void reportStop(Record record, bool finished);
  std::size_t indexOf(const CALayer* sublayer) const;

  CGRect bounds_;
  CGPoint position_;
  CGPoint anchorPoint_{0.5, 0.5};
  CATransform3D transform_;
  double opacity_ = 1.0;
  bool hidden_ = false;
  bool masksToBounds_ = false;
  double cornerRadius_ = 0;
  double borderWidth_ = 0;
  std::optional<UIColor> borderColor_ = UIColor::blackColor();
  std::optional<UIColor> backgroundColor_;
  std::optional<UIColor> shadowColor_ = UIColor::blackColor();
  double shadowOpacity_ = 0;
  CGSize shadowOffset_{0, -3};
  double shadowRadius_ = 3;
  std::optional<UIBezierPath> shadowPath_;
  std::string name_;
  std::shared_ptr<CALayer> mask_;
  std::vector<std::shared_ptr<CALayer>> sublayers_;
  std::weak_ptr<CALayer> superlayer_;
  std::vector<Record> records_;
  std::uint64_t nextSerial_ = 1;
};

/// A layer that draws a path: filled, stroked, and stroked only between two fractions of its
/// length.
class CAShapeLayer : public CALayer {
 public:
  static std::shared_ptr<CAShapeLayer> create();

  const std::optional<UIBezierPath>& path() const { return path_; }
  void setPath(std::optional<UIBezierPath> path) { path_ = std::move(path); }
  std::optional<UIColor> fillColor() const { return fillColor_; }
  void setFillColor(std::optional<UIColor> color) { fillColor_ = std::move(color); }
  std::optional<UIColor> strokeColor() const { return strokeColor_; }
  void setStrokeColor(std::optional<UIColor> color) { strokeColor_ = std::move(color); }
  double lineWidth() const { return lineWidth_; }
  void setLineWidth(double width) { lineWidth_ = width; }
  double strokeStart() const { return strokeStart_; }
  void setStrokeStart(double value) { strokeStart_ = value; }
  double strokeEnd() const { return strokeEnd_; }
  void setStrokeEnd(double value) { strokeEnd_ = value; }

  AnimationValue valueForKeyPath(const std::string& keyPath) const override;

 protected:
  CAShapeLayer() = default;

 private:
  std::optional<UIBezierPath> path_;
  std::optional<UIColor> fillColor_ = UIColor::blackColor();
  std::optional<UIColor> strokeColor_;
  double lineWidth_ = 1.0;
  double strokeStart_ = 0.0;
  double strokeEnd_ = 1.0;
};

}  // namespace uikit
