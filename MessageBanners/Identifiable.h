#pragma once
#include <string>

namespace MessageBanners {

/// A message view with an identity of its own: the queue manager compares these texts to find
/// duplicates, to count them and to hide a message by its identity.
class Identifiable {
 public:
  virtual ~Identifiable() = default;
  virtual std::string id() const = 0;
};

}  // namespace MessageBanners
