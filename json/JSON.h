#pragma once
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "json/JSONError.h"
#include "json/JSONKey.h"
#include "json/JSONType.h"
#include "json/JSONWriting.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace json {

class JSON;
class Encoder;
class Decoder;

/// A dictionary of JSON values in the order of the stored map.
using JSONDictionary = std::vector<std::pair<std::string, JSON>>;

/// Any value that may stand in a list or dictionary literal: a JSON (its raw value is taken) or
/// anything a foundation::Value is made from (kept as it is, even of a kind JSON cannot hold).
class AnyValue {
 public:
  AnyValue(const JSON& json);
  template <class T>
    requires(std::constructible_from<foundation::Value, T &&> &&
             !std::same_as<std::remove_cvref_t<T>, JSON>)
  AnyValue(T&& value) : value_(std::forward<T>(value)) {}

  const foundation::Value& value() const& { return value_; }
  foundation::Value&& value() && { return std::move(value_); }

 private:
  foundation::Value value_;
};

/// A dynamic JSON value: the raw value the JSON reader produced (or that was set), the kind of
/// that value, and the error of the lookup that produced it, if any.
///
/// Lookups never fail loudly: a missing key, a wrong kind or an index out of range give the
/// null value carrying a JSONError, which rides through the rest of a path, so a chain of
/// lookups is tested once. Setters refuse silently. Copies are cheap: arrays and dictionaries
/// share storage until one copy changes. One thread at a time per value; copies may travel.
class JSON {
 public:
  // ------------------------------------------------------------------------------------------
  // Construction

  /// The null value: type null, no error.
  JSON() = default;
  /// Takes any value: data is parsed as JSON text without options (a failure gives the null
  /// value without error); anything else is stored as by setObject.
  explicit JSON(const foundation::Value& object);
  explicit JSON(foundation::Value&& object);
  /// Parses JSON text. A failure is the reader's own error (its domain and code, not a
  /// JSONError). Without FragmentsAllowed only an array or an object may stand at the top.
  static foundation::Result<JSON> fromData(
      std::string_view bytes, foundation::JSONReadingOptions options = foundation::JSONReadingOptions::None);
  static foundation::Result<JSON> fromData(
      const foundation::Data& data, foundation::JSONReadingOptions options = foundation::JSONReadingOptions::None);
  /// Parses UTF-8 text; text that is not JSON gives the null value without error.
  static JSON parseJSON(std::string_view text);
  /// The null value that constructors and lookups give.
  static JSON jsonNull() { return JSON(); }

  // Literals: strings, integers, booleans and floating-point numbers convert implicitly.
  /// A null pointer (or nullptr itself) gives the null value rather than text.
  JSON(const char* text) : JSON(text ? foundation::Value(text) : foundation::Value(nullptr)) {}
  JSON(std::nullptr_t) : JSON() {}
  JSON(std::string text) : JSON(foundation::Value(std::move(text))) {}
  JSON(std::string_view text) : JSON(foundation::Value(text)) {}
  template <class B>
    requires std::same_as<B, bool>
  JSON(B flag) : object_(flag), type_(Type::Bool) {}
  template <class I>
    requires(std::integral<I> && !std::same_as<I, bool>)
  JSON(I integer) : object_(integer), type_(Type::Number) {}
  template <class F>
    requires std::floating_point<F>
  JSON(F number) : object_(static_cast<double>(number)), type_(Type::Number) {}
  /// A list of values, stored as given (JSON members give their raw values).
  static JSON arrayLiteral(std::initializer_list<AnyValue> elements);
  /// Key and value pairs in order; of equal keys the last one wins.
  static JSON dictionaryLiteral(std::initializer_list<std::pair<std::string, AnyValue>> entries);

  /// The value `object` gives as a JSON, or none when it is of a kind JSON cannot hold.
  static std::optional<JSON> fromRawValue(const foundation::Value& rawValue);
  /// The raw content; the same as object().
  const foundation::Value& rawValue() const& { return object_; }
  foundation::Value rawValue() const&& { return object_; }

  // ------------------------------------------------------------------------------------------
  // The raw value, its kind and the error

  /// The raw value: a number, a string, a bool number, an array, a dictionary, or null (for the
  /// types null and unknown).
  /// Of a temporary JSON the raw value is a copy, so that a reference bound to it stays valid.
  const foundation::Value& object() const& { return object_; }
  foundation::Value object() const&& { return object_; }
  /// Stores `object` and derives the type from it; clears the error. A value of a kind outside
  /// JSON (data, date, URL, error, opaque object) gives type unknown with UnsupportedType and
  /// reads back as null. The kinds of a list's or map's members are not checked here.
  void setObject(foundation::Value object);
  /// Read-modify-write of object() in place (containers are not copied while changed).
  template <class F>
  void modifyObject(F&& change) {
    foundation::Value value = std::move(object_);
    object_ = foundation::Value(nullptr);
    change(value);
    setObject(std::move(value));
  }
  Type type() const { return type_; }
  std::optional<JSONError> error() const { return error_; }
  /// True exactly when the value carries no error.
  bool exists() const { return !error_.has_value(); }

  // ------------------------------------------------------------------------------------------
  // Subscripts and paths

  /// The element at an index of an array or the value at a key of a dictionary. A miss gives
  /// the null value carrying IndexOutOfBounds or NotExist; a receiver of another kind gives the
  /// receiver's own error, else WrongType.
  JSON operator[](const JSONKey& step) const { return get(step); }
  JSON get(const JSONKey& step) const;
  /// The fold of the steps; the error of the first failing step is the error of the result.
  /// An empty path gives a copy of this value.
  JSON get(std::span<const JSONKey> path) const;
  JSON get(std::initializer_list<JSONKey> path) const {
    return get(std::span<const JSONKey>(path.begin(), path.size()));
  }
  template <class... Steps>
    requires(sizeof...(Steps) >= 2 && (JSONSubscriptType<Steps> && ...))
  JSON get(const Steps&... steps) const {
    const JSONKey path[] = {JSONKey(steps)...};
    return get(std::span<const JSONKey>(path));
  }

  /// Stores `value`'s raw value into an existing position of an array or under a key of a
  /// dictionary (adding the key). Refused silently for a receiver of another kind, an index out
  /// of range (arrays never grow) or a `value` that carries an error.
  void set(const JSONKey& step, const JSON& value);
  /// Stores along a path, in place. A one-step path stores `value`'s raw value even when
  /// `value` carries an error (null and unknown store null); a longer path never creates a
  /// missing container and changes nothing when a step misses. An empty path writes nothing.
  void set(std::span<const JSONKey> path, const JSON& value);
  void set(std::initializer_list<JSONKey> path, const JSON& value) {
    set(std::span<const JSONKey>(path.begin(), path.size()), value);
  }
  /// Read-modify-write along a path: hands `change` the value at the path, then stores the
  /// result back with the path setter.
  template <class F>
  void modify(std::span<const JSONKey> path, F&& change) {
    JSON value = get(path);
    change(value);
    set(path, value);
  }
  template <class F>
  void modify(std::initializer_list<JSONKey> path, F&& change) {
    modify(std::span<const JSONKey>(path.begin(), path.size()), std::forward<F>(change));
  }

  // ------------------------------------------------------------------------------------------
  // Index and iteration: arrays yield ("0", element), ("1", element), ...; dictionaries yield
  // their entries in the map's order; every other value yields nothing.

  /// A position in a JSON value, valid only for the value that produced it while it is unchanged.
  class Index {
   public:
    enum class Kind : std::uint8_t { Array, Dictionary, Null };
    static Index array(std::int64_t position) { return Index(Kind::Array, position); }
    static Index dictionary(std::size_t position) {
      return Index(Kind::Dictionary, static_cast<std::int64_t>(position));
    }
    static Index null() { return Index(Kind::Null, 0); }
    Kind kind() const { return kind_; }
    std::int64_t position() const { return position_; }

    /// Equal when of the same case and position; two null indices are always equal.
    friend bool operator==(const Index& a, const Index& b) {
      return a.kind_ == b.kind_ && (a.kind_ == Kind::Null || a.position_ == b.position_);
    }
    /// Only two array or two dictionary indices are ordered; every other pair gives false.
    friend bool operator<(const Index& a, const Index& b) {
      return a.kind_ == b.kind_ && a.kind_ != Kind::Null && a.position_ < b.position_;
    }
    friend bool operator>(const Index& a, const Index& b) { return b < a; }
    friend bool operator<=(const Index& a, const Index& b) { return !(b < a); }
    friend bool operator>=(const Index& a, const Index& b) { return !(a < b); }

   private:
    Index(Kind kind, std::int64_t position) : kind_(kind), position_(position) {}
    Kind kind_;
    std::int64_t position_;
  };
  using Element = std::pair<std::string, JSON>;

  Index startIndex() const;
  Index endIndex() const;
  Index indexAfter(const Index& index) const;
  /// The element at a valid index: (decimal position, element) for an array, (key, value) for
  /// a dictionary, ("", null value) for any other value. An index that does not belong to this
  /// value gives ("", null value) rather than undefined behaviour.
  Element operator[](const Index& index) const;
  std::int64_t count() const;
  bool isEmpty() const;

  class Iterator {
   public:
    using value_type = Element;
    using difference_type = std::ptrdiff_t;
    Iterator() = default;
    Element operator*() const { return (*json_)[index_]; }
    Iterator& operator++() {
      index_ = json_->indexAfter(index_);
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.index_ == b.index_; }

   private:
    friend class JSON;
    Iterator(const JSON* json, Index index) : json_(json), index_(index) {}
    const JSON* json_ = nullptr;
    Index index_ = Index::null();
  };
  Iterator begin() const { return Iterator(this, startIndex()); }
  Iterator end() const { return Iterator(this, endIndex()); }

  // ------------------------------------------------------------------------------------------
  // Serialisation

  /// The platform writer's bytes. InvalidJSON when the value is not an array or dictionary
  /// holding only JSON kinds; a refusal of the writer itself is passed on unchanged.
  foundation::Result<foundation::Data> rawData(
      foundation::JSONWritingOptions options = foundation::JSONWritingOptions::None) const;
  /// Scalars as plain text (a string exactly as stored, no quotes); arrays and dictionaries
  /// through the platform writer with `options`, decoded with `encoding`. None on any failure.
  std::optional<std::string> rawString(
      StringEncoding encoding = StringEncoding::UTF8,
      foundation::JSONWritingOptions options = foundation::JSONWritingOptions::PrettyPrinted) const;
  /// As above, configured by an option map; with CastNilToNSNull true, arrays and dictionaries
  /// are written by the module's own compact writer, bounded by MaxObjextDepth. A nesting limit
  /// below 1 prints "Could not serialize object to JSON because: JSON is invalid." and gives none.
  std::optional<std::string> rawString(const WritingOptionsMap& options) const;
  /// Pretty-printed UTF-8 text, or "unknown" when there is none.
  std::string description() const;
  std::string debugDescription() const { return description(); }

  // ------------------------------------------------------------------------------------------
  // Typed accessors. Optional forms give a value only when the type fits; the ...Value forms
  // never fail and fall back to an empty or zero value. Every setter goes through setObject,
  // so it re-derives the type and clears the error; an empty optional stores null.

  std::optional<std::vector<JSON>> array() const;
  std::vector<JSON> arrayValue() const;
  /// The stored array itself (shared, not copied), or none for another type.
  std::optional<foundation::Array> arrayObject() const;
  void setArrayObject(std::optional<foundation::Array> array);
  std::optional<JSONDictionary> dictionary() const;
  JSONDictionary dictionaryValue() const;
  std::optional<foundation::Dictionary> dictionaryObject() const;
  void setDictionaryObject(std::optional<foundation::Dictionary> dictionary);

  /// Only type bool gives a value (a number 0 or 1 and the text "true" give none).
  std::optional<bool> asBool() const;
  void setBool(std::optional<bool> flag);
  /// A number is true when non-zero; a text when it is "true", "y", "t", "yes" or "1" in any case.
  bool boolValue() const;
  void setBoolValue(bool flag);
  std::optional<std::string> string() const;
  void setString(std::optional<std::string> text);
  /// Numbers in decimal text, bools as "true" or "false", "" for every other type.
  std::string stringValue() const;
  void setStringValue(std::string text);
  /// Type number, or a bool as the integer 1 or 0; text is not converted.
  std::optional<foundation::Number> number() const;
  void setNumber(std::optional<foundation::Number> number);
  /// As number(), and text read as a decimal number (zero when it is none); 0.0 otherwise.
  foundation::Number numberValue() const;
  void setNumberValue(foundation::Number number);
  std::optional<foundation::Null> null() const;
  /// Whatever is given, the value becomes the null value.
  void setNull();
  /// Text taken as already escaped when it holds a percent escape, else percent-encoded first.
  std::optional<foundation::URL> url() const;
  void setURL(const std::optional<foundation::URL>& url);

  // Fixed-width numbers: the optional form reads number(), the other form numberValue(), with
  // the platform's conversions: integers wrap to the width; floating values truncate toward zero
  // and saturate at the width's range, NaN reading as 0.
  std::optional<double> asDouble() const;
  double doubleValue() const;
  void setDouble(std::optional<double> value);
  void setDoubleValue(double value);
  std::optional<float> asFloat() const;
  float floatValue() const;
  void setFloat(std::optional<float> value);
  void setFloatValue(float value);
  std::optional<std::int64_t> asInt() const;
  std::int64_t intValue() const;
  void setInt(std::optional<std::int64_t> value);
  void setIntValue(std::int64_t value);
  std::optional<std::uint64_t> uInt() const;
  std::uint64_t uIntValue() const;
  void setUInt(std::optional<std::uint64_t> value);
  void setUIntValue(std::uint64_t value);
  std::optional<std::int8_t> int8() const;
  std::int8_t int8Value() const;
  void setInt8(std::optional<std::int8_t> value);
  void setInt8Value(std::int8_t value);
  std::optional<std::uint8_t> uInt8() const;
  std::uint8_t uInt8Value() const;
  void setUInt8(std::optional<std::uint8_t> value);
  void setUInt8Value(std::uint8_t value);
  std::optional<std::int16_t> int16() const;
  std::int16_t int16Value() const;
  void setInt16(std::optional<std::int16_t> value);
  void setInt16Value(std::int16_t value);
  std::optional<std::uint16_t> uInt16() const;
  std::uint16_t uInt16Value() const;
  void setUInt16(std::optional<std::uint16_t> value);
  void setUInt16Value(std::uint16_t value);
  std::optional<std::int32_t> int32() const;
  std::int32_t int32Value() const;
  void setInt32(std::optional<std::int32_t> value);
  void setInt32Value(std::int32_t value);
  std::optional<std::uint32_t> uInt32() const;
  std::uint32_t uInt32Value() const;
  void setUInt32(std::optional<std::uint32_t> value);
  void setUInt32Value(std::uint32_t value);
  std::optional<std::int64_t> int64() const;
  std::int64_t int64Value() const;
  void setInt64(std::optional<std::int64_t> value);
  void setInt64Value(std::int64_t value);
  std::optional<std::uint64_t> uInt64() const;
  std::uint64_t uInt64Value() const;
  void setUInt64(std::optional<std::uint64_t> value);
  void setUInt64Value(std::uint64_t value);

  // ------------------------------------------------------------------------------------------
  // Merging and coding

  /// Merges `other` into this value: dictionaries key by key (recursively, where a member of
  /// another type replaces the old one), arrays by concatenation, anything else is replaced by a
  /// copy of `other`. WrongType, and no change, when the two differ in type at the top.
  foundation::Result<void> merge(const JSON& other);
  /// A merged copy; this value stays unchanged.
  foundation::Result<JSON> merged(const JSON& other) const;

  /// Writes the value into the encoder's single-value container: nil, a signed or unsigned
  /// integer (3.0 is the integer 3), a double, a bool (never the integer 1), text, a list or a
  /// map. Errors of the container are passed on.
  foundation::Result<void> encode(Encoder& encoder) const;
  /// Reads a value from the decoder's single-value container; every failure gives the null value.
  static JSON fromDecoder(Decoder& decoder);

 private:
  JSON(foundation::Value object, Type type) : object_(std::move(object)), type_(type) {}
  static JSON carrying(JSONError error);
  friend struct PathWriter;

  foundation::Value object_{nullptr};
  Type type_ = Type::Null;
  std::optional<JSONError> error_;
};

// Comparisons, defined pair by pair of types. Values of different types, and two values of
// type unknown, are never equal or ordered; bools, arrays, dictionaries and nulls are never
// less than one another. These do not form a total order: never sort by them.
bool operator==(const JSON& a, const JSON& b);
bool operator<(const JSON& a, const JSON& b);
bool operator<=(const JSON& a, const JSON& b);
bool operator>=(const JSON& a, const JSON& b);
bool operator>(const JSON& a, const JSON& b);

}  // namespace json
