#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiUserFeedback.h"

std::shared_ptr<DozidiUserFeedback> DozidiUserFeedback::initWithEventId(DozidiId eventId) {
  return std::shared_ptr<DozidiUserFeedback>(new DozidiUserFeedback(std::move(eventId)));
}

foundation::Dictionary DozidiUserFeedback::serialize() const {
  return foundation::Dictionary{
      {"event_id", eventId_.dozidiIdString()}, {"email", email_}, {"name", name_}, {"comments", comments_}};
}
