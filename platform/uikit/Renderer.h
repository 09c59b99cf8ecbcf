#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Result.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/Image.h"

typedef struct _cairo cairo_t;

namespace uikit {

class CALayer;
class UIView;

/// Draws view and layer trees with Cairo, as they look at one media time: every geometry and
/// appearance value is the layer's presentation value then, so running animations show where
/// they are. Draws backgrounds, corner radii, borders, shadows (shadow paths or the content's
/// outline), shape layers with their stroke range, masks, opacity, clipping, labels' text,
/// image views' images (tinted when the image is a template), page dots, switches, text fields
/// (text or placeholder, selection and caret), spinners and blurs (a blur of what was drawn
/// below, under a wash of its style's colour). Main thread only, like the tree.
class Renderer {
 public:
  /// Draws `view`'s bounds, as the view sees itself (its own position and transform left out),
  /// into a new image of the bounds' size at `scale` pixels per point (0: the view's display
  /// scale, or 1). `time` defaults to the current media time. Fails when the size is empty or
  /// too large for a bitmap.
  static foundation::Result<std::shared_ptr<UIImage>> renderView(const UIView& view, double scale = 0,
                                                                 std::optional<double> time = std::nullopt);
  /// renderView, written as a PNG file to `path` (atomically: a reader never sees half a file).
  static foundation::Result<void> renderViewToPNG(const UIView& view, const std::string& path, double scale = 0,
                                                  std::optional<double> time = std::nullopt);

  /// Draws `views` bottom first, each at its frame, into one new image of `size` points at
  /// `scale`: what a screen of windows shows, over black. A view drawn later sees the ones below
  /// it (a blur blurs them). Fails when the size is empty or too large for a bitmap.
  static foundation::Result<std::shared_ptr<UIImage>> renderScreen(const std::vector<std::shared_ptr<UIView>>& views,
                                                                   CGSize size, double scale, double time);
  /// Draws what renderScreen does into `cr`, whose user space is the screen's points: the way to
  /// draw frame after frame into one kept bitmap. Blurs need `cr` to draw into an image surface.
  static void drawScreen(cairo_t* cr, const std::vector<std::shared_ptr<UIView>>& views, double time);

  /// Draws `view`'s tree into `cr`, whose user space is the view's bounds coordinates. Shadows
  /// are blurred in memory, so they are drawn only when `cr` draws into an image surface.
  static void drawView(cairo_t* cr, const UIView& view, double time);
  /// Draws `layer` and its sublayers into `cr`, whose user space is the layer's superlayer's
  /// coordinates. Labels and image views are found through `root`, the view tree the layer
  /// belongs to (null: layers only).
  static void drawLayer(cairo_t* cr, const CALayer& layer, double time, const UIView* root = nullptr);
};

/// The PNG file of `image`; fails when the image has no pixels.
foundation::Result<foundation::Data> UIImagePNGRepresentation(const UIImage& image);
/// Writes the PNG file of `image` to `path` atomically.
foundation::Result<void> writePNG(const UIImage& image, const std::string& path);

}  // namespace uikit
