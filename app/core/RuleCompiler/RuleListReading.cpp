#include "app/core/RuleCompiler/RuleListReading.h"

#include <simdjson.h>

#include <mutex>
#include <string>
#include <unordered_map>
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

bool isReadableRuleList(const foundation::URL& file) {
  struct Verdict {
    std::uint64_t size = 0;
    double modified = 0;
    bool readable = false;
  };
  static std::mutex mutex;
  static std::unordered_map<std::string, Verdict> verdicts;

  const std::string path = file.path();
  auto attributes = foundation::FileManager::defaultManager().attributesOfItem(path);
  if (!attributes || attributes->type != foundation::FileType::Regular) return false;
  const double modified = attributes->modificationDate.timeIntervalSince1970();
  {
    std::lock_guard lock(mutex);
    auto known = verdicts.find(path);
    if (known != verdicts.end() && known->second.size == attributes->size && known->second.modified == modified) {
      return known->second.readable;
    }
  }
  simdjson::padded_string text;
  bool readable = simdjson::padded_string::load(path).get(text) == simdjson::SUCCESS;
  if (readable) {
    // The validating parser only: no value is built.
    simdjson::dom::parser parser;
    simdjson::dom::element ignored;
    readable = parser.parse(text).get(ignored) == simdjson::SUCCESS;
  }
  std::lock_guard lock(mutex);
  verdicts[path] = {attributes->size, modified, readable};
  return readable;
}

}  // namespace fendrel
