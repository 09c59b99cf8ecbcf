#pragma once
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/URL.h"

namespace fendrel {

class ListElement;

/// One cached rule file and the list it belongs to.
struct CachedRuleList {
  foundation::URL file;
  std::string listID;
  std::string listName;
};

/// The first stage of a compilation: the cached rule files of the enabled lists, in the order in
/// which their rules go into each bucket. Identifiers are visited in sorted order, so the same
/// choice always gives the same file. An identifier the catalogue does not know, a list without
/// attachment and a list whose file is not cached contribute nothing; only the first catalogue
/// element carrying an identifier is used.
std::vector<CachedRuleList> selectCachedLists(const std::set<std::string>& enabledIDs,
                                               const std::vector<std::shared_ptr<ListElement>>& catalogue);

}  // namespace fendrel
