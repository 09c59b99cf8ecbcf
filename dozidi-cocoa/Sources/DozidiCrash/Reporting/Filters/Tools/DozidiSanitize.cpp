#include "dozidi-cocoa/Sources/DozidiCrash/Reporting/Filters/Tools/DozidiSanitize.h"

#include <charconv>
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiSimpleConstructor.h"

namespace {

using foundation::Value;

constexpr const char* kInconsistency = "NSInternalInconsistencyException";
constexpr const char* kInvalidArgument = "NSInvalidArgumentException";

// A dictionary key: the text itself, or a number's decimal text.
std::optional<std::string> dictionaryKey(const Value& key) {
  if (const std::string* text = key.string()) return *text;
  if (const foundation::Number* number = key.number()) return number->stringValue();
  return std::nullopt;
}

// An array index: a number's integer value, or the leading decimal digits of a text that is
// empty (index 0) or starts with a digit. Values outside 32 bits have no index.
std::optional<std::int64_t> integerKey(const Value& key) {
  if (const foundation::Number* number = key.number()) {
    const double value = number->doubleValue();
    if (!(value >= -2147483648.0 && value <= 2147483647.0)) return std::nullopt;
    return static_cast<std::int64_t>(value);
  }
  const std::string* text = key.string();
  if (text == nullptr) return std::nullopt;
  if (text->empty()) return 0;
  if ((*text)[0] < '0' || (*text)[0] > '9') return std::nullopt;
  std::int32_t index = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), index);
  (void)end;
  if (error != std::errc()) return std::nullopt;
  return index;
}

std::optional<std::size_t> arrayIndex(const Value& key, std::size_t size) {
  const std::optional<std::int64_t> index = integerKey(key);
  if (!index || *index < 0 || static_cast<std::size_t>(*index) >= size) return std::nullopt;
  return static_cast<std::size_t>(*index);
}

DozidiDeepKey splitKeyPath(std::string_view keyPath) {
  DozidiDeepKey keys;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = keyPath.find('/', start);
    keys.emplace_back(std::string(keyPath.substr(start, slash - start)));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return keys;
}

// The container at the first `count` keys, for changing it; null when one is missing.
Value* resolveMutable(Value& root, const DozidiDeepKey& deepKey, std::size_t count) {
  Value* current = &root;
  for (std::size_t i = 0; i < count && current != nullptr; ++i) {
    if (foundation::Dictionary* dictionary = current->mutableDictionary()) {
      const std::optional<std::string> key = dictionaryKey(deepKey[i]);
      current = key ? dictionary->findMutable(*key) : nullptr;
    } else if (foundation::Array* array = current->mutableArray()) {
      const std::optional<std::size_t> index = arrayIndex(deepKey[i], array->size());
      current = index ? array->mutableAt(*index) : nullptr;
    } else {
      current = nullptr;
    }
  }
  return current;
}

std::string describe(const DozidiDeepKey& keys) { return Value(foundation::Array(keys)).description(); }

std::string kindName(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Dictionary: return "NSDictionary";
    case Value::Kind::Array: return "NSArray";
    case Value::Kind::String: return "NSString";
    case Value::Kind::Number: return "NSNumber";
    case Value::Kind::Null: return "NSNull";
    case Value::Kind::Data: return "NSData";
    case Value::Kind::Date: return "NSDate";
    default: return "NSObject";
  }
}

enum class Change { Set, Remove };

// The parent of the last key, or the error that names it.
foundation::Result<Value*> findParent(Value& root, const DozidiDeepKey& deepKey) {
  Value* parent = resolveMutable(root, deepKey, deepKey.size() - 1);
  if (parent != nullptr) return parent;
  const DozidiDeepKey parentKey(deepKey.begin(), deepKey.end() - 1);
  return dozidiErrorWithDomain(kInconsistency, 0,
                               "Parent " + describe(parentKey) + " does not resolve to a valid object");
}

foundation::Result<void> change(Value& root, const DozidiDeepKey& deepKey, Change kind, Value object) {
  if (deepKey.empty()) {
    if (kind == Change::Set) {
      return dozidiErrorWithDomain(kInvalidArgument, 0,
                                   "deepKey " + describe(deepKey) + " must contain at least one key");
    }
    return dozidiErrorWithDomain("NSRangeException", 0, "cannot take the last key of an empty deep key");
  }
  auto parent = findParent(root, deepKey);
  if (!parent) return parent.error();
  const Value& lastKey = deepKey.back();
  const bool setting = kind == Change::Set;

  if (foundation::Dictionary* dictionary = (*parent)->mutableDictionary()) {
    if (const std::optional<std::string> key = dictionaryKey(lastKey)) {
      if (setting) {
        dictionary->set(*key, std::move(object));
      } else {
        dictionary->remove(*key);
      }
      return {};
    }
  }
  const DozidiDeepKey parentKey(deepKey.begin(), deepKey.end() - 1);
  const std::string keyedName = setting ? "setObject:forKey:" : "removeObjectForKey:";
  const std::string indexedName = setting ? "replaceObjectAtIndex:withObject:" : "removeObjectAtIndex:";
  const std::string prefix = "Parent " + describe(parentKey) + " of type " + kindName(**parent);
  if (!integerKey(lastKey)) {
    return dozidiErrorWithDomain(kInconsistency, 0, prefix + " does not respond to \"" + keyedName + "\"");
  }
  foundation::Array* array = (*parent)->mutableArray();
  if (array == nullptr) {
    return dozidiErrorWithDomain(kInconsistency, 0,
                                 prefix + " does not respond to \"" + keyedName + "\" or \"" + indexedName + "\"");
  }
  const std::optional<std::size_t> index = arrayIndex(lastKey, array->size());
  if (!index) {
    return dozidiErrorWithDomain("NSRangeException", 0,
                                 "index " + lastKey.description() + " beyond bounds of array " + describe(parentKey));
  }
  if (setting) {
    array->set(*index, std::move(object));
  } else {
    array->erase(*index);
  }
  return {};
}

}  // namespace

Value dozidi_objectForDeepKey(const Value& root, const DozidiDeepKey& deepKey) {
  const Value* current = &root;
  for (const Value& key : deepKey) {
    if (const foundation::Dictionary* dictionary = current->dictionary()) {
      const std::optional<std::string> text = dictionaryKey(key);
      current = text ? dictionary->find(*text) : nullptr;
    } else if (const foundation::Array* array = current->array()) {
      const std::optional<std::size_t> index = arrayIndex(key, array->size());
      current = index ? array->at(*index) : nullptr;
    } else {
      current = nullptr;
    }
    if (current == nullptr) return Value();
  }
  return *current;
}

Value dozidi_objectForKeyPath(const Value& root, std::string_view keyPath) {
  while (!keyPath.empty() && keyPath.front() == '/') keyPath.remove_prefix(1);
  return dozidi_objectForDeepKey(root, splitKeyPath(keyPath));
}

foundation::Result<void> dozidi_setObjectForDeepKey(Value& root, Value object, const DozidiDeepKey& deepKey) {
  return change(root, deepKey, Change::Set, std::move(object));
}

foundation::Result<void> dozidi_setObjectForKeyPath(Value& root, Value object, std::string_view keyPath) {
  return change(root, splitKeyPath(keyPath), Change::Set, std::move(object));
}

foundation::Result<void> dozidi_removeObjectForDeepKey(Value& root, const DozidiDeepKey& deepKey) {
  return change(root, deepKey, Change::Remove, Value());
}

foundation::Result<void> dozidi_removeObjectForKeyPath(Value& root, std::string_view keyPath) {
  return change(root, splitKeyPath(keyPath), Change::Remove, Value());
}
