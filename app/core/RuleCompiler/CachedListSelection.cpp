#include "app/core/RuleCompiler/CachedListSelection.h"

#include "app/core/ListElement.h"

namespace fendrel {

std::vector<CachedRuleList> selectCachedLists(const std::set<std::string>& enabledIDs,
                                               const std::vector<std::shared_ptr<ListElement>>& catalogue) {
  std::vector<CachedRuleList> files;
  for (const auto& id : enabledIDs) {
    for (const auto& element : catalogue) {
      if (!element || element->obj().objectId() != id) continue;
      if (auto url = element->obj().existingAttachmentURL()) {
        files.push_back({std::move(*url), element->obj().objectId(), element->obj().name()});
      }
      break;
    }
  }
  return files;
}

}  // namespace fendrel
