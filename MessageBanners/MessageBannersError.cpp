#include "MessageBanners/MessageBannersError.h"

namespace MessageBanners {

foundation::Error MessageBannersError::bridged() const {
  return foundation::Error(kMessageBannersErrorDomain, static_cast<std::int64_t>(code_));
}

std::optional<MessageBannersError> MessageBannersError::fromBridged(const foundation::Error& error) {
  if (error.domain() != kMessageBannersErrorDomain) return std::nullopt;
  switch (error.code()) {
    case static_cast<std::int64_t>(Code::CannotLoadViewFromNib):
      return cannotLoadViewFromNib({});
    case static_cast<std::int64_t>(Code::NoRootViewController):
      return noRootViewController();
    default:
      return std::nullopt;
  }
}

}  // namespace MessageBanners
