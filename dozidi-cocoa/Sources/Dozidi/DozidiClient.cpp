#include "dozidi-cocoa/Sources/Dozidi/DozidiClient.h"

#include <utility>

std::shared_ptr<DozidiClient> DozidiClient::initWithOptions(foundation::Dictionary options) {
  return std::shared_ptr<DozidiClient>(new DozidiClient(std::move(options)));
}
