#pragma once
// One page of the walkthrough that moves, scales and optionally fades the direct subviews of
// its view as the pages scroll, each subview by its own speed. Main thread only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/Geometry.h"
#include "walkthrough/WalkthroughViewController.h"

namespace walkthrough {

enum class WalkthroughAnimationType { Linear, Curve, Zoom, InOut };
/// The case whose raw string equals `raw` exactly ("Linear", "Curve", "Zoom", "InOut").
std::optional<WalkthroughAnimationType> animationTypeFromRawValue(const std::string& raw);
std::string rawValue(WalkthroughAnimationType type);

class WalkthroughPageViewController : public uikit::UIViewController, public WalkthroughPage {
 public:
  std::string className() const override { return "WalkthroughPageViewController"; }

  WalkthroughAnimationType animation = WalkthroughAnimationType::Linear;
  /// The speed of each direct subview of the view, in subview order, fixed when the view loads.
  /// Subviews whose tags are static have an entry too, so every other subview keeps its own.
  std::vector<uikit::CGPoint> subviewsSpeed;
  /// Tags of subviews that never get a transform (they still fade).
  std::vector<std::int64_t> notAnimatableViews;
  /// The base speed; advanced by speedVariance once per subview when the view loads.
  uikit::CGPoint speed;
  uikit::CGPoint speedVariance;
  bool animateAlpha = false;

  /// The raw string of `animation`. Setting a string that names no type keeps the type (logged).
  std::string animationType() const { return rawValue(animation); }
  void setAnimationType(const std::string& raw);
  /// notAnimatableViews as decimal numbers joined by ",". Setting splits at every "," and reads
  /// each piece as an optionally signed base-10 integer; the empty string clears the list, and a
  /// string with any other piece keeps the list (logged).
  std::string staticTags() const;
  void setStaticTags(const std::string& tags);

  void viewDidLoad() override;
  /// Only the relative offset counts: at 1 every subview is at rest.
  void walkthroughDidScrollTo(double position, double offset) override;

 private:
  bool isStatic(int tag) const;
};

}  // namespace walkthrough
