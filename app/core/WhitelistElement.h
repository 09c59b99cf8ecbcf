#pragma once
#include <cstdint>
#include <string>

namespace fendrel {

/// One entry of the user's whitelist: a site on which nothing is blocked.
struct WhitelistElement {
  /// The site text as the whitelist screen hands it over.
  std::string url;
  /// Whether the entry takes part in compilations.
  bool enabled = true;
  /// The entry's position in the whole list as read (not stored; given again at every read).
  std::int64_t index = 0;

  friend bool operator==(const WhitelistElement&, const WhitelistElement&) = default;
};

}  // namespace fendrel
