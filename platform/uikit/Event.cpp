#include "platform/uikit/Event.h"

#include "platform/uikit/View.h"

RUNTIME_CLASS(uikit::UITouch, runtime::Object, "UITouch");
RUNTIME_CLASS(uikit::UIEvent, runtime::Object, "UIEvent");

namespace uikit {

namespace {
// The event of the delivery under way on the main thread.
UIEvent* inDelivery = nullptr;
}  // namespace

std::shared_ptr<UIEvent> UIEvent::touchEvent(std::shared_ptr<UIView> view) {
  auto event = std::make_shared<UIEvent>();
  event->touches_.push_back(std::make_shared<UITouch>(std::move(view)));
  return event;
}

UIEventDelivery::UIEventDelivery(std::shared_ptr<UIEvent> event, UITouchPhase phase)
    : event_(std::move(event)), previous_(inDelivery) {
  if (event_) {
    for (auto& touch : event_->allTouches()) {
      previousPhases_.push_back(touch->phase());
      touch->setPhase(phase);
    }
  }
  inDelivery = event_.get();
}

UIEventDelivery::~UIEventDelivery() {
  // The touch stays in the phase of the last delivery, unless an outer one of it goes on.
  if (event_ && previous_ == event_.get()) {
    const auto& touches = event_->allTouches();
    for (std::size_t i = 0; i < touches.size() && i < previousPhases_.size(); ++i)
      touches[i]->setPhase(previousPhases_[i]);
  }
  inDelivery = previous_;
}

UIEvent* UIEventDelivery::current() { return inDelivery; }

}  // namespace uikit
