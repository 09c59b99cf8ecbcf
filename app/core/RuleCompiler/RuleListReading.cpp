#include "app/core/RuleCompiler/RuleListReading.h"

#include <utility>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"

namespace fendrel {

RuleList readRuleList(const foundation::URL& file) {
  RuleList list;
  auto data = foundation::FileManager::defaultManager().readFile(file);
  if (!data) return list;
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(data->view());
  if (!parsed) return list;
  // The file's bytes are not needed past this point; the parsed rules are moved out one by one
  // so that each stays unshared and can be changed in place.
  *data = foundation::Data();
  if (auto* array = parsed->mutableArray()) {
    list.rules = array->takeValues();
  } else if (auto* dictionary = parsed->mutableDictionary()) {
    list.rules.reserve(dictionary->size());
    for (const auto& [key, value] : *dictionary) list.rules.push_back(value);
  }
  return list;
}

}  // namespace fendrel
