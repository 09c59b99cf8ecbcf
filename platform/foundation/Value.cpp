#include "platform/foundation/Value.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <tuple>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/detail/SharedBlock.h"
#include "platform/foundation/detail/ValueTreeBuilder.h"

namespace foundation {

// ---------------------------------------------------------------------------------------------
// Array: one block holding the reference count and the elements.

struct Array::Storage : detail::SharedBlock<Array::Storage, Value> {
  static std::uint64_t freeArenaBlocks(Storage* block) {
    return detail::ValueTreeBuilder::freeArenaBlocks(block, block->arena);
  }
};

Array::Array(std::initializer_list<Value> values) {
  reserve(values.size());
  for (const Value& v : values) push_back(v);
}

Array::Array(std::vector<Value> values) {
  reserve(values.size());
  for (Value& v : values) push_back(std::move(v));
}

Array::Array(const Array& other) noexcept : storage_(other.storage_) { Storage::retain(storage_); }

Array& Array::operator=(const Array& other) noexcept {
  Storage::assign(storage_, other.storage_);
  return *this;
}

Array& Array::operator=(Array&& other) noexcept {
  Storage::moveAssign(storage_, other.storage_);
  return *this;
}

Array::~Array() { Storage::release(storage_); }

Array::Storage& Array::mutableStorage(std::size_t minimumCapacity) {
  return Storage::writable(storage_, minimumCapacity);
}

std::size_t Array::size() const { return storage_ ? storage_->count : 0; }

const Value* Array::at(std::size_t index) const& {
  if (!storage_ || index >= storage_->count) return nullptr;
  return storage_->elements() + index;
}

const Value& Array::operator[](std::size_t index) const& {
  const Value* v = at(index);
  return v ? *v : Value::absent();
}

Value Array::operator[](std::size_t index) const&& { return (*this)[index]; }

const Value* Array::begin() const { return storage_ ? storage_->elements() : nullptr; }
const Value* Array::end() const { return storage_ ? storage_->elements() + storage_->count : nullptr; }

std::vector<Value> Array::toVector() const { return std::vector<Value>(begin(), end()); }

void Array::push_back(Value value) {
  Storage& s = mutableStorage(size() + 1);
  new (s.elements() + s.count) Value(std::move(value));
  ++s.count;
}

bool Array::set(std::size_t index, Value value) {
  Value* slot = mutableAt(index);
  if (!slot) return false;
  *slot = std::move(value);
  return true;
}

bool Array::erase(std::size_t index) {
  if (index >= size()) return false;
  Storage& s = mutableStorage(0);
  Value* e = s.elements();
  for (std::size_t i = index; i + 1 < s.count; ++i) e[i] = std::move(e[i + 1]);
  e[s.count - 1].~Value();
  --s.count;
  return true;
}

void Array::reserve(std::size_t capacity) { Storage::reserve(storage_, capacity); }

void Array::clear() {
  Storage::release(storage_);
  storage_ = nullptr;
}

Value* Array::mutableAt(std::size_t index) {
  if (index >= size()) return nullptr;
  return mutableStorage(0).elements() + index;
}

std::vector<Value> Array::takeValues() {
  std::vector<Value> out;
  if (!storage_) return out;
  const bool shared = storage_->isShared();
  out.reserve(storage_->count);
  Value* e = storage_->elements();
  for (std::uint32_t i = 0; i < storage_->count; ++i) {
    if (shared) {
      out.push_back(e[i]);
    } else {
      out.push_back(std::move(e[i]));
    }
  }
  clear();
  return out;
}

bool operator==(const Array& a, const Array& b) {
  if (a.storage_ == b.storage_) return true;
  if (a.size() != b.size()) return false;
  return std::equal(a.begin(), a.end(), b.begin());
}

// ---------------------------------------------------------------------------------------------
// Dictionary: one block holding the reference count, the entries in insertion order and, beyond
// kIndexThreshold entries, an open-addressing table of entry positions keyed by the key's hash.

namespace {
// Below this size a linear scan beats hashing (most rule objects have two to four keys).
constexpr std::size_t kIndexThreshold = 8;
}  // namespace

struct Dictionary::Storage : detail::SharedBlock<Dictionary::Storage, Entry> {
  std::vector<std::uint32_t> slots;  // entry position + 1, 0 = empty; size is a power of two

  Entry* entries() { return elements(); }
  const Entry* entries() const { return elements(); }
  void afterCopy() { rebuildIndex(); }
  static std::uint64_t freeArenaBlocks(Storage* block) {
    return detail::ValueTreeBuilder::freeArenaBlocks(block, block->arena);
  }

  static std::size_t hashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }

  void rebuildIndex() {
    slots.clear();
    if (count <= kIndexThreshold) return;
    std::size_t size = 16;
    while (size < std::size_t{count} * 2) size *= 2;
    slots.assign(size, 0);
    for (std::size_t i = 0; i < count; ++i) insertSlot(i);
  }

  void insertSlot(std::size_t position) {
    const std::size_t mask = slots.size() - 1;
    std::size_t s = hashOf(entries()[position].first) & mask;
    while (slots[s] != 0) s = (s + 1) & mask;
    slots[s] = static_cast<std::uint32_t>(position + 1);
  }

  std::ptrdiff_t indexOf(std::string_view key) const {
    const Entry* e = entries();
    if (slots.empty()) {
      for (std::uint32_t i = 0; i < count; ++i) {
        if (e[i].first == key) return static_cast<std::ptrdiff_t>(i);
      }
      return -1;
    }
    const std::size_t mask = slots.size() - 1;
    for (std::size_t s = hashOf(key) & mask; slots[s] != 0; s = (s + 1) & mask) {
      const std::size_t position = slots[s] - 1;
      if (e[position].first == key) return static_cast<std::ptrdiff_t>(position);
    }
    return -1;
  }

  /// Appends; the caller has made room (count < capacity).
  void append(std::string key, Value value) {
    new (entries() + count) Entry(std::move(key), std::move(value));
    indexLastEntry();
  }

  /// Appends `key` with an absent value, made in place; the caller has made room.
  Value& appendKey(std::string_view key) {
    Entry* e = new (entries() + count) Entry(std::piecewise_construct, std::forward_as_tuple(key),
                                             std::forward_as_tuple());
    indexLastEntry();
    return e->second;
  }

  /// Counts the entry just made at position `count` and adds it to the index.
  void indexLastEntry() {
    ++count;
    if (count <= kIndexThreshold) return;
    if (slots.empty() || std::size_t{count} * 2 > slots.size()) {
      rebuildIndex();
    } else {
      insertSlot(count - 1);
    }
  }

  void erase(std::size_t position) {
    Entry* e = entries();
    for (std::size_t i = position; i + 1 < count; ++i) e[i] = std::move(e[i + 1]);
    e[count - 1].~Entry();
    --count;
    rebuildIndex();
  }
};

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
  reserve(entries.size());
  for (const auto& e : entries) set(e.first, e.second);
}

Dictionary::Dictionary(const Dictionary& other) noexcept : storage_(other.storage_) {
  Storage::retain(storage_);
}

Dictionary& Dictionary::operator=(const Dictionary& other) noexcept {
  Storage::assign(storage_, other.storage_);
  return *this;
}

Dictionary& Dictionary::operator=(Dictionary&& other) noexcept {
  Storage::moveAssign(storage_, other.storage_);
  return *this;
}

Dictionary::~Dictionary() { Storage::release(storage_); }

Dictionary::Storage& Dictionary::mutableStorage(std::size_t minimumCapacity) {
  return Storage::writable(storage_, minimumCapacity);
}

std::size_t Dictionary::size() const { return storage_ ? storage_->count : 0; }

const Value* Dictionary::find(std::string_view key) const& {
  if (!storage_) return nullptr;
  auto i = storage_->indexOf(key);
  return i < 0 ? nullptr : &storage_->entries()[i].second;
}

const Value& Dictionary::operator[](std::string_view key) const& {
  const Value* v = find(key);
  return v ? *v : Value::absent();
}

Value Dictionary::operator[](std::string_view key) const&& { return (*this)[key]; }

const Dictionary::Entry* Dictionary::begin() const { return storage_ ? storage_->entries() : nullptr; }
const Dictionary::Entry* Dictionary::end() const {
  return storage_ ? storage_->entries() + storage_->count : nullptr;
}

std::vector<std::string> Dictionary::keys() const {
  std::vector<std::string> out;
  out.reserve(size());
  for (const auto& e : *this) out.push_back(e.first);
  return out;
}

void Dictionary::set(std::string key, Value value) {
  if (value.isAbsent()) {
    remove(key);
    return;
  }
  auto existing = storage_ ? storage_->indexOf(key) : -1;
  if (existing >= 0) {
    mutableStorage(0).entries()[existing].second = std::move(value);
    return;
  }
  Storage& s = mutableStorage(size() + 1);
  s.append(std::move(key), std::move(value));
}

bool Dictionary::remove(std::string_view key) {
  if (!storage_) return false;
  auto i = storage_->indexOf(key);
  if (i < 0) return false;
  mutableStorage(0).erase(static_cast<std::size_t>(i));
  return true;
}

void Dictionary::reserve(std::size_t capacity) { Storage::reserve(storage_, capacity); }

void Dictionary::clear() {
  Storage::release(storage_);
  storage_ = nullptr;
}

Value* Dictionary::findMutable(std::string_view key) {
  if (!storage_) return nullptr;
  auto i = storage_->indexOf(key);
  if (i < 0) return nullptr;
  return &mutableStorage(0).entries()[i].second;
}

bool operator==(const Dictionary& a, const Dictionary& b) {
  if (a.storage_ == b.storage_) return true;
  if (a.size() != b.size()) return false;
  for (const auto& [key, value] : a) {
    const Value* other = b.find(key);
    if (!other || !(*other == value)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Value

Value::Value(Data d) : data_(std::make_shared<const Data>(std::move(d))), kind_(Kind::Data) {}
Value::Value(const URL& url) : url_(std::make_shared<const URL>(url)), kind_(Kind::URL) {}
Value::Value(const Error& e) : error_(std::make_shared<const Error>(e)), kind_(Kind::Error) {}
Value::Value(Opaque o) : opaque_(std::make_shared<const Opaque>(std::move(o))), kind_(Kind::Opaque) {}

void Value::copyFrom(const Value& other) {
  switch (other.kind_) {
    case Kind::Absent:
    case Kind::Null:
    case Kind::Number:
    case Kind::Date:
      std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof(Value));
      return;
    case Kind::String: new (&string_) std::string(other.string_); break;
    case Kind::Data: new (&data_) std::shared_ptr<const Data>(other.data_); break;
    case Kind::URL: new (&url_) std::shared_ptr<const URL>(other.url_); break;
    case Kind::Array: new (&array_) Array(other.array_); break;
    case Kind::Dictionary: new (&dictionary_) Dictionary(other.dictionary_); break;
    case Kind::Error: new (&error_) std::shared_ptr<const Error>(other.error_); break;
    case Kind::Opaque: new (&opaque_) std::shared_ptr<const Opaque>(other.opaque_); break;
  }
  kind_ = other.kind_;
}

void Value::moveHeldFrom(Value& other) noexcept {
  switch (other.kind_) {
    case Kind::Absent:
    case Kind::Null:
    case Kind::Number:
    case Kind::Date:
      std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof(Value));
      break;
    case Kind::String: new (&string_) std::string(std::move(other.string_)); break;
    case Kind::Data: new (&data_) std::shared_ptr<const Data>(std::move(other.data_)); break;
    case Kind::URL: new (&url_) std::shared_ptr<const URL>(std::move(other.url_)); break;
    case Kind::Array: new (&array_) Array(std::move(other.array_)); break;
    case Kind::Dictionary: new (&dictionary_) Dictionary(std::move(other.dictionary_)); break;
    case Kind::Error: new (&error_) std::shared_ptr<const Error>(std::move(other.error_)); break;
    case Kind::Opaque: new (&opaque_) std::shared_ptr<const Opaque>(std::move(other.opaque_)); break;
  }
  kind_ = other.kind_;
  other.destroy();
}

void Value::destroy() noexcept {
  switch (kind_) {
    case Kind::Absent:
    case Kind::Null:
    case Kind::Number:
    case Kind::Date: break;
    case Kind::String: string_.~basic_string(); break;
    case Kind::Data: data_.~shared_ptr(); break;
    case Kind::URL: url_.~shared_ptr(); break;
    case Kind::Array: array_.~Array(); break;
    case Kind::Dictionary: dictionary_.~Dictionary(); break;
    case Kind::Error: error_.~shared_ptr(); break;
    case Kind::Opaque: opaque_.~shared_ptr(); break;
  }
  kind_ = Kind::Absent;
}

Value& Value::operator=(const Value& other) {
  // Copied first: `other` may live inside this value (v = v["key"]).
  Value copy(other);
  destroy();
  moveFrom(copy);
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
  if (this == &other) return *this;
  // Taken first: `other` may live inside this value.
  Value taken(std::move(other));
  destroy();
  moveFrom(taken);
  return *this;
}

const Value& Value::absent() {
  static const Value* const kAbsent = new Value();
  return *kAbsent;
}

std::optional<bool> Value::asBool() const {
  const Number* n = number();
  return n ? n->exactBool() : std::nullopt;
}
std::optional<std::int64_t> Value::asInt64() const {
  const Number* n = number();
  return n ? n->exactInt64() : std::nullopt;
}
std::optional<std::uint64_t> Value::asUInt64() const {
  const Number* n = number();
  return n ? n->exactUInt64() : std::nullopt;
}
std::optional<double> Value::asDouble() const {
  const Number* n = number();
  if (!n || n->isBool()) return std::nullopt;
  return n->doubleValue();
}
std::optional<std::string> Value::asString() const {
  const std::string* s = string();
  return s ? std::optional<std::string>(*s) : std::nullopt;
}

const Value& Value::operator[](std::string_view key) const& {
  const Dictionary* d = dictionary();
  return d ? (*d)[key] : absent();
}

const Value& Value::operator[](std::size_t index) const& {
  const Array* a = array();
  return a ? (*a)[index] : absent();
}

namespace {

void describe(const Value& v, std::string& out, int indent) {
  const std::string pad(static_cast<std::size_t>(indent) * 4, ' ');
  switch (v.kind()) {
    case Value::Kind::Absent: out += "nil"; break;
    case Value::Kind::Null: out += "<null>"; break;
    case Value::Kind::Number: out += v.number()->stringValue(); break;
    case Value::Kind::String: out += *v.string(); break;
    case Value::Kind::Data: out += "{length = " + std::to_string(v.data()->size()) + "}"; break;
    case Value::Kind::Date:
      out += std::to_string(v.date()->timeIntervalSinceReferenceDate);
      break;
    case Value::Kind::URL: out += v.url()->absoluteString(); break;
    case Value::Kind::Array: {
      out += "(\n";
      bool first = true;
      for (const Value& e : *v.array()) {
        if (!first) out += ",\n";
        first = false;
        out += pad + "    ";
        describe(e, out, indent + 1);
      }
      out += "\n" + pad + ")";
      break;
    }
    case Value::Kind::Dictionary: {
      out += "{\n";
      for (const auto& [key, value] : *v.dictionary()) {
        out += pad + "    " + key + " = ";
        describe(value, out, indent + 1);
        out += ";\n";
      }
      out += pad + "}";
      break;
    }
    case Value::Kind::Error: out += v.error()->localizedDescription(); break;
    case Value::Kind::Opaque: out += "<" + v.opaque()->typeName + ">"; break;
  }
}

}  // namespace

std::string Value::description() const {
  std::string out;
  describe(*this, out, 0);
  return out;
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Value::Kind::Absent:
    case Value::Kind::Null: return true;
    case Value::Kind::Number: return *a.number() == *b.number();
    case Value::Kind::String: return *a.string() == *b.string();
    case Value::Kind::Data: return *a.data() == *b.data();
    case Value::Kind::Date: return *a.date() == *b.date();
    case Value::Kind::URL: return *a.url() == *b.url();
    case Value::Kind::Array: return *a.array() == *b.array();
    case Value::Kind::Dictionary: return *a.dictionary() == *b.dictionary();
    case Value::Kind::Error: return *a.error() == *b.error();
    case Value::Kind::Opaque: return a.opaque()->object == b.opaque()->object;
  }
  return false;
}

}  // namespace foundation

// ---------------------------------------------------------------------------------------------
// Building a document's containers in its arena

namespace foundation::detail {

Array ValueTreeBuilder::makeArray(std::size_t capacity) {
  Array array;
  if (capacity > 0) array.storage_ = Array::Storage::allocateIn(*arena_, capacity);
  return array;
}

Value& ValueTreeBuilder::append(Array& array) {
  Array::Storage& s = *array.storage_;
  Value* slot = new (s.elements() + s.count) Value();
  ++s.count;
  return *slot;
}

Dictionary ValueTreeBuilder::makeDictionary(std::size_t capacity) {
  Dictionary dictionary;
  if (capacity > 0) dictionary.storage_ = Dictionary::Storage::allocateIn(*arena_, capacity);
  return dictionary;
}

Value& ValueTreeBuilder::entry(Dictionary& dictionary, std::string_view key) {
  Dictionary::Storage& s = *dictionary.storage_;
  if (const auto existing = s.indexOf(key); existing >= 0) {
    Value& value = s.entries()[existing].second;
    value = Value();
    return value;
  }
  return s.appendKey(key);
}

namespace {

// Frees the block of `value`'s array or dictionary in the same pass when it is an unshared block
// of `arena` (its one holder is `value`, which is being destroyed), leaving the container empty;
// gives the number of blocks freed.
std::uint64_t takeArenaBlocksOf(Value& value, ValueArena* arena);

}  // namespace

std::uint64_t ValueTreeBuilder::freeArenaBlocks(Array::Storage* block, ValueArena* arena) {
  std::uint64_t freed = 1;
  Value* e = block->elements();
  for (std::uint32_t i = 0; i < block->count; ++i) {
    freed += takeArenaBlocksOf(e[i], arena);
    e[i].~Value();
  }
  block->~Storage();
  return freed;
}

std::uint64_t ValueTreeBuilder::freeArenaBlocks(Dictionary::Storage* block, ValueArena* arena) {
  std::uint64_t freed = 1;
  Dictionary::Entry* e = block->entries();
  for (std::uint32_t i = 0; i < block->count; ++i) {
    freed += takeArenaBlocksOf(e[i].second, arena);
    std::destroy_at(e + i);
  }
  block->~Storage();
  return freed;
}

namespace {

std::uint64_t takeArenaBlocksOf(Value& value, ValueArena* arena) {
  if (Array* array = value.mutableArray()) return ValueTreeBuilder::takeArenaBlocks(*array, arena);
  if (Dictionary* dictionary = value.mutableDictionary()) {
    return ValueTreeBuilder::takeArenaBlocks(*dictionary, arena);
  }
  return 0;
}

}  // namespace

std::uint64_t ValueTreeBuilder::takeArenaBlocks(Array& array, ValueArena* arena) {
  Array::Storage* block = array.storage_;
  if (!block || block->arena != arena || block->isShared()) return 0;
  array.storage_ = nullptr;
  return freeArenaBlocks(block, arena);
}

std::uint64_t ValueTreeBuilder::takeArenaBlocks(Dictionary& dictionary, ValueArena* arena) {
  Dictionary::Storage* block = dictionary.storage_;
  if (!block || block->arena != arena || block->isShared()) return 0;
  dictionary.storage_ = nullptr;
  return freeArenaBlocks(block, arena);
}

}  // namespace foundation::detail
