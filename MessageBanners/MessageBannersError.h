#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"

namespace MessageBanners {

/// The domain of the library's errors as platform error objects.
inline constexpr const char* kMessageBannersErrorDomain = "MessageBanners.MessageBannersError";

/// The library's two failures. Operations that fail return them as `Result` errors through
/// `bridged()`: the domain above, the case's position as the code, and an empty user info, so
/// callers compare domain and code.
class MessageBannersError {
 public:
  enum class Code : std::int64_t {
    /// No view of the requested class could be loaded from the named nib.
    CannotLoadViewFromNib = 0,
    /// There is no window or root view controller to present a message in.
    NoRootViewController = 1,
  };

  static MessageBannersError cannotLoadViewFromNib(std::string nibName) {
    return MessageBannersError(Code::CannotLoadViewFromNib, std::move(nibName));
  }
  static MessageBannersError noRootViewController() { return MessageBannersError(Code::NoRootViewController, {}); }

  Code code() const { return code_; }
  /// The nib of a `CannotLoadViewFromNib`; empty for the other case.
  const std::string& nibName() const { return nibName_; }

  /// The platform error object for this error.
  foundation::Error bridged() const;
  operator foundation::Error() const { return bridged(); }
  /// The case of a bridged error, or nothing when `error` is not one of the library's. The nib
  /// name does not travel through the bridge, so it comes back empty.
  static std::optional<MessageBannersError> fromBridged(const foundation::Error& error);

  friend bool operator==(const MessageBannersError&, const MessageBannersError&) = default;

 private:
  MessageBannersError(Code code, std::string nibName) : code_(code), nibName_(std::move(nibName)) {}
  Code code_;
  std::string nibName_;
};

}  // namespace MessageBanners
