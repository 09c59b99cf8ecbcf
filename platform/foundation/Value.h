#pragma once
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/ValueFwd.h"

namespace foundation {

namespace detail {
class ValueTreeBuilder;
}

/// The null value (the platform's NSNull): present, but holding nothing.
struct Null {
  friend bool operator==(Null, Null) { return true; }
};

/// Any other object carried through a dynamic value without being understood (what makes a JSON
/// value of unknown type). `typeName` names the object's type for descriptions.
struct Opaque {
  std::shared_ptr<const void> object;
  std::string typeName;
};

/// Copy-on-write array of values. Copies share storage until one of them is changed.
class Array {
 public:
  Array() = default;
  Array(std::initializer_list<Value> values);
  explicit Array(std::vector<Value> values);
  Array(const Array& other) noexcept;
  Array(Array&& other) noexcept : storage_(other.storage_) { other.storage_ = nullptr; }
  Array& operator=(const Array& other) noexcept;
  Array& operator=(Array&& other) noexcept;
  ~Array();

  std::size_t size() const;
  bool empty() const { return size() == 0; }
  // Lookups into a temporary array give copies (or, as pointers, do not compile): a reference
  // into it would dangle once the full expression ends.
  /// The element at `index`, or nullptr when out of range.
  const Value* at(std::size_t index) const&;
  const Value* at(std::size_t index) const&& = delete;
  /// The element at `index`, or the absent value when out of range (never inserts).
  const Value& operator[](std::size_t index) const&;
  Value operator[](std::size_t index) const&&;
  const Value* begin() const;
  const Value* end() const;
  /// The elements as a vector (a copy).
  std::vector<Value> toVector() const;

  void push_back(Value value);
  /// Replaces an existing element; false (and no change) when out of range.
  bool set(std::size_t index, Value value);
  bool erase(std::size_t index);
  void reserve(std::size_t capacity);
  void clear();
  /// Writable access to an existing element (detaches from shared storage first), nullptr when
  /// out of range. The pointer lives until the next change of this array. A copy of a value that
  /// encloses this array, stored through the pointer, must be taken before the pointer is: taken
  /// after, it shares the storage being changed and the value would contain itself.
  Value* mutableAt(std::size_t index);
  /// Moves the elements out into a vector and leaves the array empty.
  std::vector<Value> takeValues();

  friend bool operator==(const Array& a, const Array& b);

 private:
  friend class detail::ValueTreeBuilder;
  // Elements live in one block with their reference count (one allocation per array).
  struct Storage;
  Storage& mutableStorage(std::size_t minimumCapacity);
  Storage* storage_ = nullptr;
};

/// Copy-on-write dictionary with string keys. Keeps insertion order (parsed JSON keeps document
/// order), looks keys up by hash once it has more than a handful of entries.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Value>;

  Dictionary() = default;
  /// Later duplicates of a key replace the earlier value, keeping the first position.
  Dictionary(std::initializer_list<Entry> entries);

  std::size_t size() const;
  bool empty() const { return size() == 0; }
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  // Lookups into a temporary dictionary give copies (or, as pointers, do not compile).
  /// The value for `key`, or nullptr when missing.
  const Value* find(std::string_view key) const&;
  const Value* find(std::string_view key) const&& = delete;
  /// The value for `key`, or the absent value when missing (never inserts).
  const Value& operator[](std::string_view key) const&;
  Value operator[](std::string_view key) const&&;
  const Entry* begin() const;
  const Entry* end() const;
  std::vector<std::string> keys() const;

  /// Sets `key` to `value`, keeping the key's position when it exists; an absent value removes it.
  void set(std::string key, Value value);
  bool remove(std::string_view key);
  void reserve(std::size_t capacity);
  void clear();
  /// Writable access to the value of an existing key (detaches first), nullptr when missing.
  /// The same lifetime and copy-first rule as Array::mutableAt holds.
  Value* findMutable(std::string_view key);

  /// Equal when both have the same keys with equal values, in any order.
  friend bool operator==(const Dictionary& a, const Dictionary& b);

  Dictionary(const Dictionary& other) noexcept;
  Dictionary(Dictionary&& other) noexcept : storage_(other.storage_) { other.storage_ = nullptr; }
  Dictionary& operator=(const Dictionary& other) noexcept;
  Dictionary& operator=(Dictionary&& other) noexcept;
  ~Dictionary();

 private:
  friend class detail::ValueTreeBuilder;
  // Entries live in one block with their reference count (one allocation per dictionary, which
  // matters when a parsed document holds hundreds of thousands of small objects).
  struct Storage;
  Storage& mutableStorage(std::size_t minimumCapacity);
  Storage* storage_ = nullptr;
};

/// The one dynamic value of the system: absent, null, number, string, data, date, URL, array,
/// dictionary, error or an opaque object. Cheap to copy (containers are shared until changed).
/// Reading never changes a value; a missing key or index reads as the absent value.
class Value {
 public:
  enum class Kind : std::uint8_t {
    Absent, Null, Number, String, Data, Date, URL, Array, Dictionary, Error, Opaque
  };

  Value() noexcept {}  ///< absent
  Value(std::nullptr_t) : kind_(Kind::Null) {}
  Value(Null) : kind_(Kind::Null) {}
  Value(Number n) : number_(n), kind_(Kind::Number) {}
  template <class B>
    requires std::same_as<B, bool>
  Value(B b) : number_(Number::fromBool(b)), kind_(Kind::Number) {}
  template <class I>
    requires(std::integral<I> && !std::same_as<I, bool> && std::is_signed_v<I>)
  Value(I i) : number_(Number::fromInt64(i)), kind_(Kind::Number) {}
  template <class I>
    requires(std::integral<I> && !std::same_as<I, bool> && std::is_unsigned_v<I>)
  Value(I i) : number_(Number::fromUInt64(i)), kind_(Kind::Number) {}
  Value(float f) : number_(Number::fromFloat(f)), kind_(Kind::Number) {}
  Value(double d) : number_(Number::fromDouble(d)), kind_(Kind::Number) {}
  Value(std::string s) : string_(std::move(s)), kind_(Kind::String) {}
  Value(std::string_view s) : string_(s), kind_(Kind::String) {}
  Value(const char* s) : string_(s), kind_(Kind::String) {}
  Value(Data d);
  Value(Date d) : date_(d), kind_(Kind::Date) {}
  Value(const URL& url);
  Value(Array a) : array_(std::move(a)), kind_(Kind::Array) {}
  Value(Dictionary d) : dictionary_(std::move(d)), kind_(Kind::Dictionary) {}
  Value(const Error& e);
  Value(Opaque o);

  Value(const Value& other) { copyFrom(other); }
  /// Leaves `other` absent.
  Value(Value&& other) noexcept { moveFrom(other); }
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept;
  ~Value() {
    if (!holdsPlainBytes(kind_)) destroy();
  }

  Kind kind() const { return kind_; }
  bool isAbsent() const { return kind() == Kind::Absent; }
  bool isNull() const { return kind() == Kind::Null; }
  bool isBool() const { return kind() == Kind::Number && number_.isBool(); }

  // Typed views: a pointer to the held value of that kind, else nullptr.
  const Number* number() const { return kind_ == Kind::Number ? &number_ : nullptr; }
  const std::string* string() const { return kind_ == Kind::String ? &string_ : nullptr; }
  const Data* data() const { return kind_ == Kind::Data ? data_.get() : nullptr; }
  const Date* date() const { return kind_ == Kind::Date ? &date_ : nullptr; }
  const URL* url() const { return kind_ == Kind::URL ? url_.get() : nullptr; }
  const Array* array() const { return kind_ == Kind::Array ? &array_ : nullptr; }
  const Dictionary* dictionary() const { return kind_ == Kind::Dictionary ? &dictionary_ : nullptr; }
  const Error* error() const { return kind_ == Kind::Error ? error_.get() : nullptr; }
  const Opaque* opaque() const { return kind_ == Kind::Opaque ? opaque_.get() : nullptr; }
  Array* mutableArray() { return kind_ == Kind::Array ? &array_ : nullptr; }
  Dictionary* mutableDictionary() { return kind_ == Kind::Dictionary ? &dictionary_ : nullptr; }
  std::string* mutableString() { return kind_ == Kind::String ? &string_ : nullptr; }

  // Strict conversions: a value only for the matching kind (a bool never reads as 1).
  std::optional<bool> asBool() const;
  std::optional<std::int64_t> asInt64() const;
  std::optional<std::uint64_t> asUInt64() const;
  std::optional<double> asDouble() const;  ///< any non-bool number
  std::optional<std::string> asString() const;
  template <class T>
  T valueOr(std::string_view key, T fallback) const;

  /// Lookups that never insert: absent for a missing key, an index out of range or another kind.
  /// A lookup into a temporary gives a copy (containers are shared, so it is cheap), so that
  /// `const Value& v = make()["k"];` holds a value of its own instead of a dangling reference.
  const Value& operator[](std::string_view key) const&;
  const Value& operator[](const char* key) const& { return (*this)[std::string_view(key)]; }
  const Value& operator[](std::size_t index) const&;
  template <class I>
    requires(std::integral<I> && !std::same_as<I, std::size_t> && !std::same_as<I, bool>)
  const Value& operator[](I index) const& {
    if (index < 0) return absent();
    return (*this)[static_cast<std::size_t>(index)];
  }
  Value operator[](std::string_view key) const&& { return (*this)[key]; }
  Value operator[](const char* key) const&& { return (*this)[std::string_view(key)]; }
  Value operator[](std::size_t index) const&& { return (*this)[index]; }
  template <class I>
    requires(std::integral<I> && !std::same_as<I, std::size_t> && !std::same_as<I, bool>)
  Value operator[](I index) const&& {
    return (*this)[index];
  }

  /// Human-readable text of the value, in the platform's description style (for logs).
  std::string description() const;

  /// Deep equality with the platform's isEqual rules (numbers compare numerically).
  friend bool operator==(const Value& a, const Value& b);

  static const Value& absent();

 private:
  // Kinds whose payload is plain bytes: nothing to destroy, copied and moved as bytes.
  static constexpr bool holdsPlainBytes(Kind kind) {
    constexpr unsigned kPlain = 1u << unsigned(Kind::Absent) | 1u << unsigned(Kind::Null) |
                                1u << unsigned(Kind::Number) | 1u << unsigned(Kind::Date);
    return ((1u << unsigned(kind)) & kPlain) != 0;
  }

  // A hand-made tagged union rather than std::variant: a parsed document holds hundreds of
  // thousands of values, and here moving or destroying a number or an absent value is a test of
  // the kind and no call. Each function below expects the stated state of `*this`.
  void copyFrom(const Value& other);  ///< `*this` holds nothing
  void moveFrom(Value& other) noexcept {  ///< `*this` holds nothing; leaves `other` absent
    if (holdsPlainBytes(other.kind_)) {
      std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof(Value));
      other.kind_ = Kind::Absent;
      return;
    }
    moveHeldFrom(other);
  }
  void moveHeldFrom(Value& other) noexcept;
  void destroy() noexcept;  ///< destroys the payload, leaves `*this` absent

  union {
    Number number_;
    std::string string_;
    std::shared_ptr<const Data> data_;
    Date date_;
    std::shared_ptr<const URL> url_;
    Array array_;
    Dictionary dictionary_;
    std::shared_ptr<const Error> error_;
    std::shared_ptr<const Opaque> opaque_;
  };
  Kind kind_ = Kind::Absent;
};

template <class T>
T Value::valueOr(std::string_view key, T fallback) const {
  const Value& v = (*this)[key];
  if constexpr (std::same_as<T, bool>) {
    return v.asBool().value_or(fallback);
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    auto i = v.asInt64();
    return i ? static_cast<T>(*i) : fallback;
  } else if constexpr (std::is_integral_v<T>) {
    auto u = v.asUInt64();
    return u ? static_cast<T>(*u) : fallback;
  } else if constexpr (std::is_floating_point_v<T>) {
    auto d = v.asDouble();
    return d ? static_cast<T>(*d) : fallback;
  } else {
    auto s = v.asString();
    return s ? T(*s) : fallback;
  }
}

}  // namespace foundation
