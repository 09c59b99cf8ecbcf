#pragma once
#include <functional>
#include <memory>
#include <optional>

#include "platform/uikit/BezierPath.h"
#include "platform/uikit/Color.h"
#include "platform/uikit/Image.h"

typedef struct _cairo cairo_t;

namespace uikit {

class UIView;

/// How a filled path decides what is inside.
enum class CGPathFillRule { Winding, EvenOdd };

/// The drawing state handed to an image renderer's actions: a fill and a stroke colour, a line
/// width, and drawing calls in points with the origin at the top left.
class UIGraphicsImageRendererContext {
 public:
  explicit UIGraphicsImageRendererContext(cairo_t* cr) : cr_(cr) {}

  void setFillColor(const UIColor& color) { fill_ = color; }
  void setStrokeColor(const UIColor& color) { stroke_ = color; }
  void setLineWidth(double width) { lineWidth_ = width; }
  void fillRect(const CGRect& rect);
  void fillPath(const UIBezierPath& path, CGPathFillRule rule = CGPathFillRule::Winding);
  void strokePath(const UIBezierPath& path);
  /// Draws `image` scaled into `rect`.
  void drawImage(const UIImage& image, const CGRect& rect);
  /// Fills `rect` with copies of `image` side by side from the origin of the context.
  void drawImageAsPattern(const UIImage& image, const CGRect& rect);
  /// Draws `view`'s tree, as it looks at the current media time, scaled into `rect`. False when
  /// the view has an empty size.
  bool drawViewHierarchy(const UIView& view, const CGRect& rect);
  /// The Cairo context, for drawing the calls above do not cover.
  cairo_t* cgContext() const { return cr_; }

 private:
  cairo_t* cr_;
  UIColor fill_ = UIColor::blackColor();
  UIColor stroke_ = UIColor::blackColor();
  double lineWidth_ = 1.0;
};

/// Makes images by drawing: each image() call runs the actions on a cleared bitmap of the
/// renderer's size in points at its scale and returns the result.
class UIGraphicsImageRenderer {
 public:
  /// `scale` pixels per point (0 counts as 1).
  explicit UIGraphicsImageRenderer(CGSize size, double scale = 1.0);

  /// The drawn image; null when the size is empty or too large for a bitmap.
  std::shared_ptr<UIImage> image(const std::function<void(UIGraphicsImageRendererContext&)>& actions) const;

 private:
  CGSize size_;
  double scale_;
};

}  // namespace uikit
