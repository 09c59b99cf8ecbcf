#include "platform/uikit/Transaction.h"

#include "platform/uikit/detail/AnimationTracker.h"

namespace uikit {
namespace {

struct OpenTransaction {
  std::shared_ptr<std::function<void()>> completion = std::make_shared<std::function<void()>>();
  std::shared_ptr<detail::AnimationTracker> tracker;
  bool disableActions = false;
  double duration = 0.25;
  std::optional<CAMediaTimingFunction> timing;
};

std::vector<OpenTransaction>& stack() {
  thread_local std::vector<OpenTransaction> transactions;
  return transactions;
}

}  // namespace

void CATransaction::begin() {
  OpenTransaction t;
  auto completion = t.completion;
  t.tracker = std::make_shared<detail::AnimationTracker>([completion](bool) {
    if (*completion) (*completion)();
  });
  if (!stack().empty()) {
    t.disableActions = stack().back().disableActions;
    t.duration = stack().back().duration;
    t.timing = stack().back().timing;
  }
  stack().push_back(std::move(t));
}

void CATransaction::commit() {
  if (stack().empty()) return;
  auto tracker = stack().back().tracker;
  stack().pop_back();
  tracker->close();
}

void CATransaction::setCompletionBlock(std::function<void()> block) {
  if (!stack().empty()) *stack().back().completion = std::move(block);
}

void CATransaction::setDisableActions(bool disable) {
  if (!stack().empty()) stack().back().disableActions = disable;
}

bool CATransaction::disableActions() { return !stack().empty() && stack().back().disableActions; }

void CATransaction::setAnimationDuration(double seconds) {
  if (!stack().empty()) stack().back().duration = seconds;
}

double CATransaction::animationDuration() { return stack().empty() ? 0.25 : stack().back().duration; }

void CATransaction::setAnimationTimingFunction(std::optional<CAMediaTimingFunction> function) {
  if (!stack().empty()) stack().back().timing = function;
}

std::optional<CAMediaTimingFunction> CATransaction::animationTimingFunction() {
  return stack().empty() ? std::nullopt : stack().back().timing;
}

std::vector<std::shared_ptr<detail::AnimationTracker>> CATransaction::openTrackers() {
  std::vector<std::shared_ptr<detail::AnimationTracker>> out;
  for (const auto& t : stack()) out.push_back(t.tracker);
  return out;
}

}  // namespace uikit
