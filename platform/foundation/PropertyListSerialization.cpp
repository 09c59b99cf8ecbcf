#include "platform/foundation/PropertyListSerialization.h"

#include <bit>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

#include "platform/foundation/UTF8.h"

namespace foundation {

// Binary property list, version 1.0:
//   "bplist00", then the objects, then a table of each object's offset, then a 32-byte trailer:
//   6 unused bytes, offset size (1 byte), reference size (1 byte), object count (8), top object
//   index (8), offset-table offset (8), all big-endian. Each object starts with a marker byte whose
//   high nibble is its type and whose low nibble is its size (0xF: the size follows as an integer
//   object). Containers hold references: object indexes of the reference size.

namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr std::size_t kTrailerSize = 32;

enum Marker : std::uint8_t {
  kFalse = 0x08,
  kTrue = 0x09,
  kInt = 0x10,
  kReal = 0x20,
  kDate = 0x33,
  kData = 0x40,
  kASCIIString = 0x50,
  kUTF16String = 0x60,
  kUID = 0x80,
  kArray = 0xA0,
  kSet = 0xC0,
  kDict = 0xD0,
};

Error writeError(const std::string& reason, const std::string& where) {
  return Error::cocoa(CocoaError::PropertyListWriteInvalid,
                      "cannot write property list: " + reason + (where.empty() ? "" : " at " + where));
}

Error readError(const std::string& reason) {
  return Error::cocoa(CocoaError::PropertyListReadCorrupt, "cannot read property list: " + reason);
}

unsigned bytesFor(std::uint64_t v) {
  if (v <= 0xFF) return 1;
  if (v <= 0xFFFF) return 2;
  if (v <= 0xFFFFFFFF) return 4;
  return 8;
}

void putBigEndian(std::string& out, std::uint64_t v, unsigned size) {
  for (unsigned i = size; i-- > 0;) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void appendUTF8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// ---------------------------------------------------------------------------------------------
// Writing

class Writer {
 public:
  Result<Data> write(const Value& root) {
    if (auto flat = flatten(root, "", 0); !flat) return flat.error();
    refSize_ = bytesFor(nodes_.size() - 1);
    std::string out(kMagic);
    std::vector<std::uint64_t> offsets;
    offsets.reserve(nodes_.size());
    for (const Node& node : nodes_) {
      offsets.push_back(out.size());
      encode(node, out);
    }
    const std::uint64_t tableOffset = out.size();
    const unsigned offsetSize = bytesFor(tableOffset);
    for (auto offset : offsets) putBigEndian(out, offset, offsetSize);
    out.append(6, '\0');
    out.push_back(static_cast<char>(offsetSize));
    out.push_back(static_cast<char>(refSize_));
    putBigEndian(out, nodes_.size(), 8);
    putBigEndian(out, 0, 8);
    putBigEndian(out, tableOffset, 8);
    return Data(std::move(out));
  }

 private:
  /// One object to write: a value, or a string (dictionary keys are strings without a Value).
  struct Node {
    const Value* value = nullptr;
    std::string string;
    std::vector<std::size_t> refs;
  };

  Result<std::size_t> flattenString(const std::string& text, const std::string& where) {
    if (auto found = strings_.find(text); found != strings_.end()) return found->second;
    if (!isValidUTF8(text)) return writeError("a string that is not UTF-8", where);
    nodes_.push_back(Node{nullptr, text, {}});
    strings_.emplace(text, nodes_.size() - 1);
    return nodes_.size() - 1;
  }

  Result<std::size_t> flatten(const Value& value, const std::string& where, std::size_t depth) {
    if (depth > PropertyListSerialization::kMaxDepth) return writeError("nesting too deep", where);
    switch (value.kind()) {
      case Value::Kind::String: return flattenString(*value.string(), where);
      case Value::Kind::Number:
      case Value::Kind::Data:
      case Value::Kind::Date:
        nodes_.push_back(Node{&value, {}, {}});
        return nodes_.size() - 1;
      case Value::Kind::Array: {
        const std::size_t index = nodes_.size();
        nodes_.push_back(Node{&value, {}, {}});
        std::size_t position = 0;
        for (const Value& element : *value.array()) {
          auto ref = flatten(element, where + "[" + std::to_string(position++) + "]", depth + 1);
          if (!ref) return ref.error();
          nodes_[index].refs.push_back(*ref);
        }
        return index;
      }
      case Value::Kind::Dictionary: {
        const std::size_t index = nodes_.size();
        nodes_.push_back(Node{&value, {}, {}});
        std::vector<std::size_t> keys, values;
        for (const auto& [key, element] : *value.dictionary()) {
          const std::string path = where.empty() ? key : where + "." + key;
          auto keyRef = flattenString(key, path);
          if (!keyRef) return keyRef.error();
          auto valueRef = flatten(element, path, depth + 1);
          if (!valueRef) return valueRef.error();
          keys.push_back(*keyRef);
          values.push_back(*valueRef);
        }
        keys.insert(keys.end(), values.begin(), values.end());
        nodes_[index].refs = std::move(keys);
        return index;
      }
      case Value::Kind::Absent: return writeError("an absent value", where);
      case Value::Kind::Null: return writeError("a null value", where);
      case Value::Kind::URL: return writeError("a URL", where);
      case Value::Kind::Error: return writeError("an error", where);
      case Value::Kind::Opaque: return writeError("an object of type " + value.opaque()->typeName, where);
    }
    return writeError("a value of unknown kind", where);
  }

  static void putMarker(std::string& out, std::uint8_t type, std::uint64_t count) {
    if (count < 0xF) {
      out.push_back(static_cast<char>(type | count));
      return;
    }
    out.push_back(static_cast<char>(type | 0xF));
    const unsigned size = bytesFor(count);
    out.push_back(static_cast<char>(kInt | std::countr_zero(size)));
    putBigEndian(out, count, size);
  }

  static void putNumber(std::string& out, const Number& n) {
    switch (n.kind()) {
      case Number::Kind::Bool: out.push_back(static_cast<char>(n.rawInt64() ? kTrue : kFalse)); return;
      case Number::Kind::Int64: {
        const std::int64_t v = n.rawInt64();
        // Small non-negative values take 1, 2 or 4 bytes (read back as unsigned); the rest take
        // 8 bytes, two's complement.
        const unsigned size = v < 0 ? 8 : bytesFor(static_cast<std::uint64_t>(v));
        out.push_back(static_cast<char>(kInt | std::countr_zero(size)));
        putBigEndian(out, static_cast<std::uint64_t>(v), size);
        return;
      }
      case Number::Kind::UInt64:
        // The 16-byte form with a zero high half: the reader gives it back as unsigned, so the
        // kind survives, and values beyond the signed range stay exact.
        out.push_back(static_cast<char>(kInt | 4));
        putBigEndian(out, 0, 8);
        putBigEndian(out, n.rawUInt64(), 8);
        return;
      case Number::Kind::Float:
        out.push_back(static_cast<char>(kReal | 2));
        putBigEndian(out, std::bit_cast<std::uint32_t>(static_cast<float>(n.rawDouble())), 4);
        return;
      case Number::Kind::Double:
      case Number::Kind::Decimal:
        out.push_back(static_cast<char>(kReal | 3));
        putBigEndian(out, std::bit_cast<std::uint64_t>(n.rawDouble()), 8);
        return;
    }
  }

  static void putString(std::string& out, const std::string& text) {
    const std::u32string points = decodeUTF8(text).value_or(std::u32string());  // checked while flattening
    bool ascii = true;
    for (char32_t c : points) ascii = ascii && c < 0x80;
    if (ascii) {
      putMarker(out, kASCIIString, text.size());
      out += text;
      return;
    }
    std::vector<std::uint16_t> units;
    for (char32_t c : points) {
      if (c < 0x10000) {
        units.push_back(static_cast<std::uint16_t>(c));
      } else {
        c -= 0x10000;
        units.push_back(static_cast<std::uint16_t>(0xD800 | (c >> 10)));
        units.push_back(static_cast<std::uint16_t>(0xDC00 | (c & 0x3FF)));
      }
    }
    putMarker(out, kUTF16String, units.size());
    for (auto unit : units) putBigEndian(out, unit, 2);
  }

  void encode(const Node& node, std::string& out) const {
    if (!node.value || node.value->kind() == Value::Kind::String) {
      putString(out, node.value ? *node.value->string() : node.string);
      return;
    }
    const Value& v = *node.value;
    switch (v.kind()) {
      case Value::Kind::Number: putNumber(out, *v.number()); return;
      case Value::Kind::Date:
        out.push_back(static_cast<char>(kDate));
        putBigEndian(out, std::bit_cast<std::uint64_t>(v.date()->timeIntervalSinceReferenceDate), 8);
        return;
      case Value::Kind::Data:
        putMarker(out, kData, v.data()->size());
        out += v.data()->view();
        return;
      case Value::Kind::Array:
      case Value::Kind::Dictionary: {
        const bool isArray = v.kind() == Value::Kind::Array;
        putMarker(out, isArray ? kArray : kDict, isArray ? node.refs.size() : node.refs.size() / 2);
        for (auto ref : node.refs) putBigEndian(out, ref, refSize_);
        return;
      }
      default: return;  // refused while flattening
    }
  }

  std::vector<Node> nodes_;
  std::unordered_map<std::string, std::size_t> strings_;
  unsigned refSize_ = 1;
};

// ---------------------------------------------------------------------------------------------
// Reading

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}

  Result<Value> read() {
    if (bytes_.size() < kMagic.size() + 1 + 1 + kTrailerSize || bytes_.substr(0, 8) != kMagic) {
      return readError("not a binary property list");
    }
    const std::size_t trailer = bytes_.size() - kTrailerSize;
    offsetSize_ = byteAt(trailer + 6);
    refSize_ = byteAt(trailer + 7);
    const std::uint64_t count = bigEndian(trailer + 8, 8);
    const std::uint64_t top = bigEndian(trailer + 16, 8);
    const std::uint64_t table = bigEndian(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return readError("bad trailer sizes");
    if (count == 0 || top >= count) return readError("bad object count or top object");
    if (table < kMagic.size() || table > trailer || count > (trailer - table) / offsetSize_) {
      return readError("offset table out of range");
    }
    table_ = static_cast<std::size_t>(table);
    limit_ = trailer;
    memo_.assign(count, Value());
    state_.assign(count, State::Unvisited);
    expanded_.assign(count, 0);
    // Objects may be shared, so a few bytes can describe a tree of astronomically many values
    // once expanded (each container referencing the next one twice). Real files reference
    // each object about once; anything far beyond the file's size is refused.
    maxExpanded_ = 16 * static_cast<std::uint64_t>(bytes_.size()) + 1024;
    return object(top, 0);
  }

 private:
  enum class State : std::uint8_t { Unvisited, InProgress, Done };

  std::uint8_t byteAt(std::size_t at) const { return static_cast<std::uint8_t>(bytes_[at]); }

  std::uint64_t bigEndian(std::size_t at, unsigned size) const {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < size; ++i) v = (v << 8) | byteAt(at + i);
    return v;
  }

  /// Whether `size` bytes from `at` lie inside the object area.
  bool fits(std::size_t at, std::uint64_t size) const { return at <= limit_ && size <= limit_ - at; }

  Result<Value> object(std::uint64_t index, std::size_t depth) {
    if (index >= memo_.size()) return readError("object reference out of range");
    if (depth > PropertyListSerialization::kMaxDepth) return readError("nesting too deep");
    switch (state_[index]) {
      case State::Done: return memo_[index];
      case State::InProgress: return readError("object references itself");
      case State::Unvisited: break;
    }
    const std::uint64_t offset = bigEndian(table_ + index * offsetSize_, offsetSize_);
    if (offset < kMagic.size() || offset >= limit_) return readError("object offset out of range");
    state_[index] = State::InProgress;
    pendingExpanded_ = 1;
    auto value = parse(static_cast<std::size_t>(offset), depth);
    if (!value) return value.error();
    memo_[index] = *value;
    state_[index] = State::Done;
    expanded_[index] = pendingExpanded_;
    return value;
  }

  /// The count of a marker's low nibble, or of the integer object after it; advances `at`.
  Result<std::uint64_t> count(std::size_t& at, std::uint8_t marker) {
    const std::uint8_t low = marker & 0x0F;
    if (low != 0x0F) return std::uint64_t{low};
    if (!fits(at, 1)) return readError("truncated object size");
    const std::uint8_t sizeMarker = byteAt(at);
    const unsigned size = 1u << (sizeMarker & 0x0F);
    if ((sizeMarker & 0xF0) != kInt || size > 8 || !fits(at + 1, size)) return readError("bad object size");
    const std::uint64_t v = bigEndian(at + 1, size);
    at += 1 + size;
    return v;
  }

  Result<Value> parse(std::size_t at, std::size_t depth) {
    const std::uint8_t marker = byteAt(at++);
    const std::uint8_t low = marker & 0x0F;
    switch (marker & 0xF0) {
      case 0x00:
        if (marker == kFalse || marker == kTrue) return Value(marker == kTrue);
        return readError("unsupported object");
      case kInt: return integer(at, low);
      case kReal: {
        if (low != 2 && low != 3) return readError("bad real size");
        if (!fits(at, 1u << low)) return readError("truncated real");
        if (low == 2) return Value(Number::fromFloat(std::bit_cast<float>(static_cast<std::uint32_t>(bigEndian(at, 4)))));
        return Value(std::bit_cast<double>(bigEndian(at, 8)));
      }
      case 0x30:
        if (marker != kDate || !fits(at, 8)) return readError("bad date");
        return Value(Date{std::bit_cast<double>(bigEndian(at, 8))});
      case kData: {
        auto n = count(at, marker);
        if (!n) return n.error();
        if (!fits(at, *n)) return readError("truncated data");
        return Value(Data::fromView(bytes_.substr(at, static_cast<std::size_t>(*n))));
      }
      case kASCIIString: {
        auto n = count(at, marker);
        if (!n) return n.error();
        if (!fits(at, *n)) return readError("truncated string");
        std::string text;
        text.reserve(static_cast<std::size_t>(*n));
        // Bytes beyond ASCII are read as Latin-1, so the result is always valid UTF-8.
        for (char c : bytes_.substr(at, static_cast<std::size_t>(*n))) appendUTF8(text, static_cast<unsigned char>(c));
        return Value(std::move(text));
      }
      case kUTF16String: return utf16(at, marker);
      case kUID: {
        if (!fits(at, low + 1u)) return readError("truncated uid");
        if (low >= 8) return readError("bad uid size");
        return Value(Dictionary{{"CF$UID", Value(bigEndian(at, low + 1))}});
      }
      case kArray:
      case kSet:
      case kDict: return container(at, marker, depth);
      default: return readError("unsupported object");
    }
  }

  Result<Value> integer(std::size_t at, std::uint8_t low) {
    if (low > 4) return readError("bad integer size");
    const unsigned size = 1u << low;
    if (!fits(at, size)) return readError("truncated integer");
    if (size < 8) return Value(static_cast<std::int64_t>(bigEndian(at, size)));
    if (size == 8) return Value(static_cast<std::int64_t>(bigEndian(at, 8)));
    const std::uint64_t high = bigEndian(at, 8), lowHalf = bigEndian(at + 8, 8);
    if (high == 0) return Value(lowHalf);
    if (high == ~std::uint64_t{0} && (lowHalf >> 63)) return Value(static_cast<std::int64_t>(lowHalf));
    return readError("integer beyond 64 bits");
  }

  Result<Value> utf16(std::size_t at, std::uint8_t marker) {
    auto n = count(at, marker);
    if (!n) return n.error();
    if (*n > limit_ / 2 || !fits(at, *n * 2)) return readError("truncated string");
    std::string text;
    for (std::uint64_t i = 0; i < *n; ++i) {
      char32_t c = static_cast<char32_t>(bigEndian(at + 2 * i, 2));
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < *n) {
        const auto next = static_cast<char32_t>(bigEndian(at + 2 * (i + 1), 2));
        if (next >= 0xDC00 && next <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
          ++i;
        }
      }
      if (c >= 0xD800 && c <= 0xDFFF) return readError("unpaired surrogate in string");
      appendUTF8(text, c);
    }
    return Value(std::move(text));
  }

  Result<Value> container(std::size_t at, std::uint8_t marker, std::size_t depth) {
    auto n = count(at, marker);
    if (!n) return n.error();
    const bool isDict = (marker & 0xF0) == kDict;
    const std::uint64_t refs = isDict ? 2 : 1;
    if (*n > limit_ / refSize_ / refs || !fits(at, *n * refs * refSize_)) return readError("truncated container");
    const auto ref = [&](std::uint64_t i) { return bigEndian(at + static_cast<std::size_t>(i) * refSize_, refSize_); };
    std::uint64_t expanded = 1;
    const auto addExpanded = [&](std::uint64_t child) {
      expanded += expanded_[child];
      return expanded <= maxExpanded_;
    };
    if (!isDict) {
      Array array;
      array.reserve(static_cast<std::size_t>(*n));
      for (std::uint64_t i = 0; i < *n; ++i) {
        auto element = object(ref(i), depth + 1);
        if (!element) return element.error();
        if (!addExpanded(ref(i))) return readError("too many objects once expanded");
        array.push_back(std::move(*element));
      }
      pendingExpanded_ = expanded;
      return Value(std::move(array));
    }
    Dictionary dictionary;
    dictionary.reserve(static_cast<std::size_t>(*n));
    for (std::uint64_t i = 0; i < *n; ++i) {
      auto key = object(ref(i), depth + 1);
      if (!key) return key.error();
      const std::string* text = key->string();
      if (!text) return readError("dictionary key is not a string");
      auto element = object(ref(*n + i), depth + 1);
      if (!element) return element.error();
      if (!addExpanded(ref(i)) || !addExpanded(ref(*n + i))) return readError("too many objects once expanded");
      dictionary.set(*text, std::move(*element));
    }
    pendingExpanded_ = expanded;
    return Value(std::move(dictionary));
  }

  std::string_view bytes_;
  unsigned offsetSize_ = 1, refSize_ = 1;
  std::size_t table_ = 0, limit_ = 0;
  std::vector<Value> memo_;
  std::vector<State> state_;
  /// How many values each decoded object stands for once shared objects are counted each time.
  std::vector<std::uint64_t> expanded_;
  std::uint64_t pendingExpanded_ = 1;
  std::uint64_t maxExpanded_ = 0;
};

}  // namespace

Result<Data> PropertyListSerialization::dataFromPropertyList(const Value& value, PropertyListFormat format) {
  if (format != PropertyListFormat::Binary) return writeError("unsupported format", "");
  return Writer().write(value);
}

Result<Value> PropertyListSerialization::propertyListWithData(std::string_view bytes) { return Reader(bytes).read(); }

bool PropertyListSerialization::propertyListIsValid(const Value& value) {
  return dataFromPropertyList(value).ok();
}

}  // namespace foundation
