#include "walkthrough/WalkthroughPageViewController.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/uikit/Layer.h"
#include "platform/uikit/Log.h"

RUNTIME_CLASS(walkthrough::WalkthroughPageViewController, uikit::UIViewController, "WalkthroughPageViewController");

namespace walkthrough {

namespace {

/// An optional "+" or "-" and then one or more digits, within 64 bits.
std::optional<std::int64_t> parseTag(const std::string& piece) {
  std::size_t start = !piece.empty() && (piece[0] == '+' || piece[0] == '-') ? 1 : 0;
  if (start == piece.size()) return std::nullopt;
  for (std::size_t i = start; i < piece.size(); ++i)
    if (piece[i] < '0' || piece[i] > '9') return std::nullopt;
  // from_chars takes a "-" but not a "+".
  const char* begin = piece.data() + (piece[0] == '+' ? 1 : 0);
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(begin, piece.data() + piece.size(), value);
  if (error != std::errc() || end != piece.data() + piece.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<WalkthroughAnimationType> animationTypeFromRawValue(const std::string& raw) {
  if (raw == "Linear") return WalkthroughAnimationType::Linear;
  if (raw == "Curve") return WalkthroughAnimationType::Curve;
  if (raw == "Zoom") return WalkthroughAnimationType::Zoom;
  if (raw == "InOut") return WalkthroughAnimationType::InOut;
  return std::nullopt;
}

std::string rawValue(WalkthroughAnimationType type) {
  switch (type) {
    case WalkthroughAnimationType::Linear: return "Linear";
    case WalkthroughAnimationType::Curve: return "Curve";
    case WalkthroughAnimationType::Zoom: return "Zoom";
    case WalkthroughAnimationType::InOut: return "InOut";
  }
  return "Linear";
}

void WalkthroughPageViewController::setAnimationType(const std::string& raw) {
  if (auto type = animationTypeFromRawValue(raw)) {
    animation = *type;
    return;
  }
  uikit::UIKitLog::write("walkthrough page: unknown animation type \"" + raw + "\", keeping " + animationType());
}

std::string WalkthroughPageViewController::staticTags() const {
  std::string text;
  for (std::size_t i = 0; i < notAnimatableViews.size(); ++i) {
    if (i) text += ",";
    text += std::to_string(notAnimatableViews[i]);
  }
  return text;
}

void WalkthroughPageViewController::setStaticTags(const std::string& tags) {
  std::vector<std::int64_t> parsed;
  if (!tags.empty()) {
    std::size_t start = 0;
    while (true) {
      std::size_t comma = tags.find(',', start);
      std::string piece = tags.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      auto tag = parseTag(piece);
      if (!tag) {
        uikit::UIKitLog::write("walkthrough page: static tags \"" + tags + "\" hold \"" + piece +
                               "\", which is no integer; keeping " + staticTags());
        return;
      }
      parsed.push_back(*tag);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  notAnimatableViews = std::move(parsed);
}

bool WalkthroughPageViewController::isStatic(int tag) const {
  return std::find(notAnimatableViews.begin(), notAnimatableViews.end(), tag) != notAnimatableViews.end();
}

void WalkthroughPageViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  const auto& root = view();
  root->layer()->setMasksToBounds(true);
  subviewsSpeed.clear();
  for (std::size_t i = 0; i < root->subviews().size(); ++i) {
    speed.x += speedVariance.x;
    speed.y += speedVariance.y;
    subviewsSpeed.push_back(speed);
  }
}

void WalkthroughPageViewController::walkthroughDidScrollTo(double /*position*/, double offset) {
  if (subviewsSpeed.empty() || !isViewLoaded()) return;
  const double d = 1 - offset;
  // Rises to 1 at rest and falls again on the far side.
  const double t = offset <= 1 ? offset : (1 - offset) + 1;
  // Subviews removed since loading have no speed to use, and speeds beyond the subviews none to move.
  const auto subviews = view()->subviews();
  const std::size_t count = std::min(subviewsSpeed.size(), subviews.size());
  for (std::size_t i = 0; i < count; ++i) {
    const uikit::CGPoint s = subviewsSpeed[i];
    uikit::CATransform3D transform;
    switch (animation) {
      case WalkthroughAnimationType::Linear:
        transform = uikit::CATransform3D::makeTranslation(d * 100 * s.x, d * 100 * s.y, 0);
        break;
      case WalkthroughAnimationType::Curve: {
        const double c = d * 10;
        const double cube = std::pow(c, 3.0);
        transform = uikit::CATransform3D::makeTranslation((cube - 25 * c) * s.x, (cube - 20 * c) * s.y, 0);
        break;
      }
      case WalkthroughAnimationType::Zoom: {
        const double z = (t - 1) + 1;
        transform = uikit::CATransform3D::makeScale(z, z, 1);
        break;
      }
      case WalkthroughAnimationType::InOut:
        transform = uikit::CATransform3D::makeTranslation((1 - t) * s.x * 100, (1 - t) * s.y * 100, 0);
        break;
    }
    const auto& subview = subviews[i];
    if (!isStatic(subview->tag)) subview->layer()->setTransform(transform);
    if (animateAlpha) subview->setAlpha(t);
  }
}

}  // namespace walkthrough
