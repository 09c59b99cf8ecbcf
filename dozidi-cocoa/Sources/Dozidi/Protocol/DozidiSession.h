#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "platform/foundation/UUID.h"
#include "platform/foundation/Value.h"

/// How a session ended; ok while it is open.
enum class DozidiSessionStatus : std::uint64_t { Ok = 0, Exited = 1, Crashed = 2, Abnormal = 3 };

/// One period of use of the app (release health): when it started, how many errors happened and
/// how it ended. Any thread may use it: every change and the serialisation run under the
/// session's own lock.
class DozidiSession {
 public:
  /// A new random id, started now (reporter's clock), status ok, no errors, sequence 1, the
  /// installation id as distinct id.
  static std::shared_ptr<DozidiSession> initDefault();
  /// The first report of a new session of `releaseName`: initDefault with the init flag set.
  static std::shared_ptr<DozidiSession> initWithReleaseName(std::string releaseName);
  /// Reads the session's dictionary; none when "sid", "started", "status", "seq", "errors" or
  /// "did" is missing or of the wrong kind. Optional entries of the wrong kind are left out.
  static std::shared_ptr<DozidiSession> initWithJSONObject(const foundation::Dictionary& json);

  /// A new session with the same fields (a copy of the user too).
  std::shared_ptr<DozidiSession> copy() const;

  std::optional<bool> flagInit() const;
  void setFlagInit();
  foundation::UUID sessionId() const { return sessionId_; }
  foundation::Date started() const { return started_; }
  DozidiSessionStatus status() const;
  std::uint64_t errors() const;
  std::uint64_t sequence() const;
  std::optional<std::string> distinctId() const;
  std::optional<foundation::Date> timestamp() const;
  std::optional<double> duration() const;
  std::optional<std::string> releaseName() const;
  std::optional<std::string> environment() const;
  void setEnvironment(std::optional<std::string> environment);
  std::shared_ptr<DozidiUser> user() const;
  /// Keeps a copy of `user`.
  void setUser(const std::shared_ptr<DozidiUser>& user);

  void endSessionExitedWithTimestamp(foundation::Date timestamp);
  void endSessionCrashedWithTimestamp(foundation::Date timestamp);
  void endSessionAbnormalWithTimestamp(foundation::Date timestamp);
  /// Sets the end and the duration from the start to it.
  void endSessionWithTimestamp(foundation::Date timestamp);
  /// Clears the init flag and raises the sequence: every report after the first.
  void changed();
  void incrementErrors();

  /// "sid", "errors", "started", "init" (when set), "status", "timestamp" (the end, else now),
  /// "duration", "seq", "attrs" (release and environment, when either is set) and "did".
  foundation::Dictionary serialize() const;

 private:
  DozidiSession(foundation::UUID sessionId, foundation::Date started)
      : sessionId_(sessionId), started_(started) {}
  void endWithStatus(DozidiSessionStatus status, foundation::Date timestamp);

  mutable std::recursive_mutex lock_;
  std::optional<bool> flagInit_;
  const foundation::UUID sessionId_;
  const foundation::Date started_;
  DozidiSessionStatus status_ = DozidiSessionStatus::Ok;
  std::uint64_t errors_ = 0;
  std::uint64_t sequence_ = 1;
  std::optional<std::string> distinctId_;
  std::optional<foundation::Date> timestamp_;
  std::optional<double> duration_;
  std::optional<std::string> releaseName_;
  std::optional<std::string> environment_;
  std::shared_ptr<DozidiUser> user_;
};
