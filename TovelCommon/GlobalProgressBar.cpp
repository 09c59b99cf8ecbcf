#include "TovelCommon/GlobalProgressBar.h"

#include <cmath>
#include <string>

#include "platform/uikit/Application.h"
#include "platform/uikit/BezierPath.h"
#include "platform/uikit/ImageRenderer.h"
#include "platform/uikit/Log.h"
#include "platform/uikit/ViewController.h"

namespace tovel {

namespace {

/// Screens have scales of 1 to 3; far beyond that the frame count (12 per point of scale) would
/// only waste memory, so such a scale is refused as a mistake.
constexpr double kLargestScreenScale = 16.0;

/// The tile width in pixels for `scale`, which is also the number of frames; none (with a log
/// line) when the scale is not a usable screen scale.
std::optional<int> tilePixelWidth(double scale) {
  const double pixels = std::floor(scale * GlobalProgressBar::kPieceSize.width);
  if (!std::isfinite(scale) || !(scale > 0) || scale > kLargestScreenScale || pixels < 1) {
    uikit::UIKitLog::write("GlobalProgressBar: screen scale " + std::to_string(scale) + " gives no frames");
    return std::nullopt;
  }
  return static_cast<int>(pixels);
}

}  // namespace

GlobalProgressBar::GlobalProgressBar(std::weak_ptr<uikit::UIViewController> viewController, uikit::UIColor accentColor)
    : viewController_(std::move(viewController)), accentColor_(accentColor) {}

std::shared_ptr<GlobalProgressBar> GlobalProgressBar::create(
    const std::shared_ptr<uikit::UIViewController>& viewController, uikit::UIColor accentColor) {
  auto bar = std::shared_ptr<GlobalProgressBar>(new GlobalProgressBar(viewController, accentColor));
  bar->setupLayout();
  return bar;
}

std::shared_ptr<uikit::UIView> GlobalProgressBar::hostView() const {
  auto controller = viewController_.lock();
  return controller ? controller->view() : nullptr;
}

void GlobalProgressBar::setupLayout() {
  auto host = hostView();
  if (!host) return;
  setTranslatesAutoresizingMaskIntoConstraints(false);
  // Behind every other subview for now; layout and start bring it to the front.
  host->insertSubview(shared_from_this(), 0);
  topConstraint_ = topAnchor().constraintEqualTo(host->topAnchor());
  topConstraint_->setActive(true);
  uikit::NSLayoutConstraint::activateConstraints({
      centerXAnchor().constraintEqualTo(host->centerXAnchor()),
      widthAnchor().constraintEqualTo(host->widthAnchor()),
      heightAnchor().constraintEqualToConstant(kPieceSize.height),
  });
}

void GlobalProgressBar::layoutSubviews() {
  uikit::UIImageView::layoutSubviews();
  if (auto host = hostView()) host->bringSubviewToFront(this);
  updateAnimationImages();
}

void GlobalProgressBar::startAnimating() {
  uikit::UIImageView::startAnimating();
  setHidden(false);
  if (auto host = hostView()) host->bringSubviewToFront(this);
  isAnimating_ = true;
}

void GlobalProgressBar::stopAnimating() {
  uikit::UIImageView::stopAnimating();
  setHidden(true);
  isAnimating_ = false;
}

const std::shared_ptr<uikit::UIImage>& GlobalProgressBar::pieceImage() {
  if (!pieceImage_) {
    // One band, half the tile wide at each edge, leaning right from bottom to top.
    const double w = kPieceSize.width;
    const double h = kPieceSize.height;
    uikit::UIBezierPath band;
    band.moveTo({0, h});
    band.addLineTo({w / 3, 0});
    band.addLineTo({5 * w / 6, 0});
    band.addLineTo({w / 2, h});
    band.addLineTo({0, h});
    const uikit::UIColor color = accentColor_;
    pieceImage_ = uikit::UIGraphicsImageRenderer(kPieceSize, uikit::UIScreen::main().scale())
                      .image([&](uikit::UIGraphicsImageRendererContext& context) {
                        context.setFillColor(color);
                        context.fillPath(band, uikit::CGPathFillRule::Winding);
                      });
  }
  return pieceImage_;
}

void GlobalProgressBar::updateAnimationImages() {
  const double barWidth = bounds().size.width;
  if (barWidth == lastImagesWidth_) return;
  lastImagesWidth_ = barWidth;

  const double scale = uikit::UIScreen::main().scale();
  auto tilePixels = tilePixelWidth(scale);
  if (!tilePixels) return;
  const auto& tile = pieceImage();
  if (!tile) return;
  // Two tiles wider than the bar, so that every frame, shifted by up to one tile, is covered.
  const uikit::CGSize stripSize{(barWidth / kPieceSize.width + 2) * kPieceSize.width, kPieceSize.height};
  auto strip = uikit::UIGraphicsImageRenderer(stripSize, scale).image([&](uikit::UIGraphicsImageRendererContext& context) {
    context.drawImageAsPattern(*tile, {{0, 0}, stripSize});
  });
  if (!strip || !strip->cgImage()) return;

  // Frame k shows the stripes shifted left by k pixels; after one tile's width of pixels the
  // pattern repeats, so the loop is seamless.
  std::vector<std::shared_ptr<uikit::UIImage>> frames;
  frames.reserve(static_cast<std::size_t>(*tilePixels));
  const double barHeight = bounds().size.height;
  for (int k = 0; k < *tilePixels; ++k) {
    auto crop = uikit::CGImageCreateWithImageInRect(
        strip->cgImage(), {static_cast<double>(k), 0, barWidth * scale, barHeight * scale});
    if (auto frame = uikit::UIImage::createWithCGImage(std::move(crop), scale)) frames.push_back(std::move(frame));
  }
  animationImages = std::move(frames);
  animationDuration = kAnimationDuration;
  if (isAnimating_) {
    startAnimating();
  } else {
    stopAnimating();
  }
}

}  // namespace tovel
