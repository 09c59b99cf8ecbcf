#include "json/JSON.h"

#include <string>

namespace json {

using foundation::Value;

AnyValue::AnyValue(const JSON& json) : value_(json.object()) {}

// ---------------------------------------------------------------------------------------------
// Construction and the raw value

JSON::JSON(const Value& object) {
  if (const foundation::Data* data = object.data()) {
    if (auto parsed = fromData(data->view())) *this = std::move(*parsed);
    return;
  }
  setObject(object);
}

JSON::JSON(Value&& object) {
  if (object.data()) {
    *this = JSON(static_cast<const Value&>(object));
    return;
  }
  setObject(std::move(object));
}

foundation::Result<JSON> JSON::fromData(std::string_view bytes, foundation::JSONReadingOptions options) {
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(bytes, options);
  if (!parsed) return parsed.error();
  JSON json;
  json.setObject(std::move(*parsed));
  return json;
}

foundation::Result<JSON> JSON::fromData(const foundation::Data& data, foundation::JSONReadingOptions options) {
  return fromData(data.view(), options);
}

JSON JSON::parseJSON(std::string_view text) { return JSON(Value(foundation::Data::fromView(text))); }

JSON JSON::arrayLiteral(std::initializer_list<AnyValue> elements) {
  std::vector<Value> values;
  values.reserve(elements.size());
  for (const AnyValue& element : elements) values.push_back(element.value());
  return JSON(Value(foundation::Array(std::move(values))));
}

JSON JSON::dictionaryLiteral(std::initializer_list<std::pair<std::string, AnyValue>> entries) {
  foundation::Dictionary map;
  map.reserve(entries.size());
  // A pair that holds no value keeps its key, reading as null: the map would drop the key (and
  // an earlier pair of the same key) if the absent value went in as it is.
  for (const auto& [key, value] : entries) {
    map.set(key, value.value().isAbsent() ? Value(nullptr) : value.value());
  }
  return JSON(Value(std::move(map)));
}

std::optional<JSON> JSON::fromRawValue(const Value& rawValue) {
  JSON json(rawValue);
  if (json.type() == Type::Unknown) return std::nullopt;
  return json;
}

void JSON::setObject(Value object) {
  error_.reset();
  switch (object.kind()) {
    case Value::Kind::Number:
      type_ = object.isBool() ? Type::Bool : Type::Number;
      object_ = std::move(object);
      return;
    case Value::Kind::String: type_ = Type::String; object_ = std::move(object); return;
    case Value::Kind::Array: type_ = Type::Array; object_ = std::move(object); return;
    case Value::Kind::Dictionary: type_ = Type::Dictionary; object_ = std::move(object); return;
    case Value::Kind::Absent:
    case Value::Kind::Null: type_ = Type::Null; object_ = Value(nullptr); return;
    case Value::Kind::Data:
    case Value::Kind::Date:
    case Value::Kind::URL:
    case Value::Kind::Error:
    case Value::Kind::Opaque: break;
  }
  type_ = Type::Unknown;
  error_ = JSONError::UnsupportedType;
  object_ = Value(nullptr);
}

JSON JSON::carrying(JSONError error) {
  JSON json;
  json.error_ = error;
  return json;
}

// ---------------------------------------------------------------------------------------------
// Subscripts and paths

namespace {

/// The error a raw element gives when it is wrapped as a JSON without parsing: unsupported
/// kinds carry UnsupportedType, everything else carries nothing.
std::optional<JSONError> wrappedError(const Value& element) {
  switch (element.kind()) {
    case Value::Kind::Date:
    case Value::Kind::URL:
    case Value::Kind::Error:
    case Value::Kind::Opaque: return JSONError::UnsupportedType;
    default: return std::nullopt;
  }
}

/// The element one step below `container`, or the error of the missed step.
const Value* stepInto(const Value& container, const std::optional<JSONError>& containerError,
                      const JSONKey& step, JSONError& failure) {
  if (step.isIndex()) {
    const foundation::Array* array = container.array();
    if (!array) {
      failure = containerError.value_or(JSONError::WrongType);
      return nullptr;
    }
    const std::int64_t index = step.index();
    if (index < 0 || static_cast<std::uint64_t>(index) >= array->size()) {
      failure = JSONError::IndexOutOfBounds;
      return nullptr;
    }
    return array->at(static_cast<std::size_t>(index));
  }
  const foundation::Dictionary* dictionary = container.dictionary();
  if (!dictionary) {
    failure = containerError.value_or(JSONError::WrongType);
    return nullptr;
  }
  const Value* value = dictionary->find(*step.key());
  if (!value) failure = JSONError::NotExist;
  return value;
}

}  // namespace

JSON JSON::get(const JSONKey& step) const { return get(std::span<const JSONKey>(&step, 1)); }

JSON JSON::get(std::span<const JSONKey> path) const {
  if (path.empty()) return *this;
  // Walks the raw values without wrapping each level; only a data element on the way is parsed
  // into a JSON of its own, as wrapping it would.
  std::optional<JSON> parsed;
  const Value* current = &object_;
  std::optional<JSONError> currentError = error_;
  for (std::size_t s = 0; s < path.size(); ++s) {
    JSONError failure = JSONError::WrongType;
    const Value* element = stepInto(*current, currentError, path[s], failure);
    if (!element) return carrying(failure);
    if (s + 1 == path.size()) return JSON(*element);
    if (element->data()) {
      JSON next(*element);
      parsed = std::move(next);
      current = &parsed->object_;
      currentError = parsed->error_;
    } else {
      current = element;
      currentError = wrappedError(*element);
    }
  }
  return *this;  // not reached: the loop returns at the last step
}

namespace {

/// Stores `raw` at one step of `container`: any key of a dictionary, an existing position of an
/// array. Anything else is refused.
void storeAt(Value& container, const JSONKey& step, const Value& raw) {
  if (step.isIndex()) {
    foundation::Array* array = container.mutableArray();
    const std::int64_t index = step.index();
    if (!array || index < 0) return;
    array->set(static_cast<std::size_t>(index), raw);
    return;
  }
  if (foundation::Dictionary* dictionary = container.mutableDictionary()) dictionary->set(*step.key(), raw);
}

/// The existing element one step below `container`, writable (its storage detached), or nullptr.
Value* mutableElement(Value& container, const JSONKey& step) {
  if (step.isIndex()) {
    foundation::Array* array = container.mutableArray();
    const std::int64_t index = step.index();
    if (!array || index < 0 || static_cast<std::uint64_t>(index) >= array->size()) return nullptr;
    return array->mutableAt(static_cast<std::size_t>(index));
  }
  foundation::Dictionary* dictionary = container.mutableDictionary();
  return dictionary ? dictionary->findMutable(*step.key()) : nullptr;
}

}  // namespace

/// The path setter, working in place on the raw values: each level's element is changed where
/// it lies instead of being copied out and stored back, which gives the same result because a
/// store-back is refused exactly when the copy would carry an error.
struct PathWriter {
  static void set(Value& receiver, std::span<const JSONKey> path, const JSON& value) {
    if (path.size() == 1) {
      storeAt(receiver, path[0], value.object_);
      return;
    }
    Value* element = mutableElement(receiver, path[0]);
    if (!element) return;
    const auto rest = path.subspan(1);
    switch (element->kind()) {
      case Value::Kind::Array:
      case Value::Kind::Dictionary: set(*element, rest, value); return;
      case Value::Kind::Data: {
        // A data element reads as the JSON parsed from it; the changed value is stored back.
        JSON parsed(*element);
        parsed.set(rest, value);
        *element = parsed.object_;
        return;
      }
      case Value::Kind::Absent: *element = Value(nullptr); return;
      default: return;  // scalars store back unchanged; unknown kinds refuse the store-back
    }
  }
};

void JSON::set(const JSONKey& step, const JSON& value) {
  if (value.error_) return;
  storeAt(object_, step, value.object_);
}

void JSON::set(std::span<const JSONKey> path, const JSON& value) {
  if (path.empty()) return;
  if (&value == this && path.size() > 1) {
    // The path writer changes this value's storage in place; a value written into itself would
    // then hold its own storage. A copy shares the old storage, so the first changed level is
    // detached and the copy keeps the value as it was before the write.
    const JSON before = value;
    PathWriter::set(object_, path, before);
    return;
  }
  PathWriter::set(object_, path, value);
}

// ---------------------------------------------------------------------------------------------
// Index and iteration

JSON::Index JSON::startIndex() const {
  if (type_ == Type::Array) return Index::array(0);
  if (type_ == Type::Dictionary) return Index::dictionary(0);
  return Index::null();
}

JSON::Index JSON::endIndex() const {
  if (type_ == Type::Array) return Index::array(static_cast<std::int64_t>(object_.array()->size()));
  if (type_ == Type::Dictionary) return Index::dictionary(object_.dictionary()->size());
  return Index::null();
}

JSON::Index JSON::indexAfter(const Index& index) const {
  switch (index.kind()) {
    case Index::Kind::Array: return Index::array(index.position() + 1);
    case Index::Kind::Dictionary: return Index::dictionary(static_cast<std::size_t>(index.position()) + 1);
    case Index::Kind::Null: break;
  }
  return Index::null();
}

JSON::Element JSON::operator[](const Index& index) const {
  const std::int64_t position = index.position();
  if (index.kind() == Index::Kind::Array && type_ == Type::Array) {
    if (const Value* element = object_.array()->at(static_cast<std::size_t>(position)); element && position >= 0) {
      return {std::to_string(position), JSON(*element)};
    }
  } else if (index.kind() == Index::Kind::Dictionary && type_ == Type::Dictionary) {
    const foundation::Dictionary& map = *object_.dictionary();
    if (position >= 0 && static_cast<std::size_t>(position) < map.size()) {
      const auto& entry = map.begin()[position];
      return {entry.first, JSON(entry.second)};
    }
  }
  return {std::string(), JSON()};
}

std::int64_t JSON::count() const {
  if (type_ == Type::Array) return static_cast<std::int64_t>(object_.array()->size());
  if (type_ == Type::Dictionary) return static_cast<std::int64_t>(object_.dictionary()->size());
  return 0;
}

bool JSON::isEmpty() const { return count() == 0; }

}  // namespace json
