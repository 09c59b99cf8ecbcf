#pragma once
#include <memory>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"
#include "platform/foundation/Value.h"

/// A short report a user writes about one event, sent as its own "user_report" item. Built and
/// sent on one thread.
class DozidiUserFeedback {
 public:
  /// Feedback about the event `eventId`; name, email and comments are empty.
  static std::shared_ptr<DozidiUserFeedback> initWithEventId(DozidiId eventId);

  const DozidiId& eventId() const { return eventId_; }
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::string& email() const { return email_; }
  void setEmail(std::string email) { email_ = std::move(email); }
  const std::string& comments() const { return comments_; }
  void setComments(std::string comments) { comments_ = std::move(comments); }

  /// "event_id", "email", "name" and "comments", always all four.
  foundation::Dictionary serialize() const;

 private:
  explicit DozidiUserFeedback(DozidiId eventId) : eventId_(std::move(eventId)) {}
  DozidiId eventId_;
  std::string name_;
  std::string email_;
  std::string comments_;
};
