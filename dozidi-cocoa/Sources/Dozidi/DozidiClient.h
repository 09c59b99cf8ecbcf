#pragma once
#include <memory>

#include "platform/foundation/Value.h"

/// The object that prepares and sends events. For now it carries only the options it was started
/// with; a hub "has a client" exactly when the reporter has been started.
class DozidiClient {
 public:
  static std::shared_ptr<DozidiClient> initWithOptions(foundation::Dictionary options);

  const foundation::Dictionary& options() const { return options_; }

 private:
  explicit DozidiClient(foundation::Dictionary options) : options_(std::move(options)) {}
  foundation::Dictionary options_;
};
