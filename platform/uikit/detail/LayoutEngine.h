#pragma once
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/uikit/Geometry.h"
#include "platform/uikit/LayoutConstraint.h"
#include "platform/uikit/detail/Solver.h"

namespace uikit {
class UIView;
}

namespace uikit::detail {

/// The constraint system of one view tree, kept in an incremental solver between passes. Each
/// item taking part has four variables: its untransformed left, top, width and height in the
/// root's coordinates. Views that translate their frame into constraints, the root, intrinsic
/// sizes and the margin and safe-area guides contribute constraints of their own, refreshed when
/// what they come from changes.
class LayoutEngine {
 public:
  explicit LayoutEngine(UIView* root) : root_(root) {}
  ~LayoutEngine();
  LayoutEngine(const LayoutEngine&) = delete;
  LayoutEngine& operator=(const LayoutEngine&) = delete;

  /// Brings the solver up to date with the tree.
  void sync();
  /// The solved frame of `view` in its superview's coordinates (the root: at its own origin),
  /// when the view takes part and places itself by constraints.
  std::optional<CGRect> solvedFrame(const UIView* view) const;
  /// The content size a scroll view's content constraints give it, axis by axis: an axis is
  /// solved when a constraint ties a descendant to the scroll view's trailing, bottom or centre.
  std::pair<std::optional<CGFloat>, std::optional<CGFloat>> solvedContentSize(const UIView* scrollView) const;
  /// Takes a constraint out of the solver (it stays active, to join again at the next sync).
  void dropConstraint(NSLayoutConstraint* constraint);
  /// Takes a changed constant of a constraint in place when it can (optional constraints),
  /// else drops the constraint to be added again at the next sync.
  void constantChanged(NSLayoutConstraint* constraint);
  /// Forgets the items and constraints of a subtree leaving this tree.
  void forgetSubtree(UIView* view);
  /// Changes since this counter was last read mean another pass is due.
  std::uint64_t generation() const { return generation_; }
  std::size_t solverConstraintCount() const { return solver_.constraintCount(); }

 private:
  struct Vars {
    Solver::Variable x = 0, y = 0, w = 0, h = 0;
    std::vector<Solver::ConstraintId> fixed;
    std::optional<CGRect> fixedFrame;
    const void* fixedParent = nullptr;
    std::vector<Solver::ConstraintId> intrinsic;
    // Which axes the intrinsic constraints cover (width first, then height).
    bool intrinsicWidth = false, intrinsicHeight = false;
    std::optional<CGSize> intrinsicSize;
    UILayoutPriority intrinsicPriorities[4] = {};
    // A scroll view's content width and height, made when a constraint first needs them.
    std::optional<Solver::Variable> contentW, contentH;
  };
  bool markInvolved(UIView* view, std::vector<UIView*>& involved);
  Vars& varsFor(const LayoutItem* item);
  void syncFixed(UIView* view, Vars& vars);
  void syncIntrinsic(UIView* view, Vars& vars);
  void syncGuide(UIView* view, UILayoutGuide* guide);
  void setFixed(Vars& vars, const Vars* parent, const CGRect& frame);
  void addConstraint(NSLayoutConstraint* constraint);
  /// `content`: the item is a scroll view constrained to its own content, whose edges are those
  /// of the content area (its origin and its content size), not of the frame.
  bool termsFor(LayoutItem* item, NSLayoutAttribute attribute, double factor, std::vector<Solver::Term>& terms,
                double& constant, bool content = false);

  UIView* root_;
  Solver solver_;
  std::unordered_map<const LayoutItem*, Vars> items_;
  std::unordered_map<NSLayoutConstraint*, Solver::ConstraintId> constraints_;
  std::uint64_t generation_ = 0;
};

}  // namespace uikit::detail
