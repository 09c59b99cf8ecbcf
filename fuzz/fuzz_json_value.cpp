// Feeds arbitrary bytes to the JSON value type: parsing, then path reads and writes built from
// the keys the input itself holds, iteration, merging, comparison, coding and every writer.
// Nothing may crash, hang or leave a value whose text does not read back.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "json/JSON.h"
#include "json/JSONCoding.h"

namespace {

using json::JSON;
using json::JSONKey;

[[noreturn]] void fail(const char* what, std::size_t size) {
  std::fprintf(stderr, "fuzz_json_value: %s for input of %zu bytes\n", what, size);
  std::abort();
}

/// A path of up to three steps, taken from the first entries of each level.
std::vector<JSONKey> pathInto(const JSON& value) {
  std::vector<JSONKey> path;
  JSON current = value;
  while (path.size() < 3 && !current.isEmpty()) {
    auto [key, element] = current[current.startIndex()];
    if (current.type() == json::Type::Array) {
      path.emplace_back(std::int64_t{0});
    } else {
      path.emplace_back(key);
    }
    current = element;
  }
  return path;
}

void exercise(const JSON& value, std::size_t size) {
  const std::vector<JSONKey> path = pathInto(value);
  JSON copy = value;
  const JSON found = copy.get(path);
  if (!path.empty() && !found.exists()) fail("a path taken from the value itself missed", size);

  copy.set(path, JSON::arrayLiteral({"x", true, 1.5}));
  if (!path.empty() && copy.get(path).type() != json::Type::Array) fail("a path store was lost", size);
  copy.set({"trigger", "unless-domain"}, JSON("a.com"));
  copy.set({-1}, JSON(1));
  copy.set(path.empty() ? JSONKey("k") : path.front(), found);
  (void)value.get({"trigger", "if-domain", 0, "x"});

  for (const auto& [key, element] : copy) (void)element.stringValue();
  (void)copy.merged(value);
  (void)(copy == value);
  (void)(copy < value);

  json::ValueEncoder encoder;
  if (copy.encode(encoder).ok()) {
    json::ValueDecoder decoder(encoder.value());
    (void)JSON::fromDecoder(decoder);
  }

  const json::WritingOptionsMap own{{json::writingOptionsKeys::CastNilToNSNull, foundation::Value(true)},
                                    {json::writingOptionsKeys::MaxObjextDepth, foundation::Value(600)}};
  if (auto text = copy.rawString(own); text && copy.count() > 0) {
    if (!JSON::fromData(*text).ok()) fail("the module's own writer wrote text that does not read back", size);
  }
  if (auto bytes = copy.rawData(); bytes) {
    if (!JSON::fromData(*bytes).ok()) fail("rawData wrote text that does not read back", size);
  }
  (void)copy.description();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  exercise(JSON(foundation::Value(foundation::Data::fromView(input))), size);
  if (auto fragment = JSON::fromData(input, foundation::JSONReadingOptions::FragmentsAllowed)) {
    exercise(*fragment, size);
  }
  return 0;
}
