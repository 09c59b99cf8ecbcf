#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace foundation {

/// A number that remembers how it was made, as the platform's boxed numbers do.
/// A bool is its own kind: it is never mistaken for the integer 1 by the strict accessors,
/// while the platform-named reading messages (`int64Value`, `boolValue`, ...) convert the
/// way the platform does (true reads as 1, any non-zero number reads as true).
class Number {
 public:
  enum class Kind : std::uint8_t { Bool, Int64, UInt64, Float, Double, Decimal };

  constexpr Number() : kind_(Kind::Int64), i_(0) {}
  static constexpr Number fromBool(bool v) { Number n(Kind::Bool); n.i_ = v ? 1 : 0; return n; }
  static constexpr Number fromInt64(std::int64_t v) { Number n(Kind::Int64); n.i_ = v; return n; }
  static constexpr Number fromUInt64(std::uint64_t v) { Number n(Kind::UInt64); n.u_ = v; return n; }
  static constexpr Number fromFloat(float v) { Number n(Kind::Float); n.d_ = v; return n; }
  static constexpr Number fromDouble(double v) { Number n(Kind::Double); n.d_ = v; return n; }
  static constexpr Number fromDecimal(double v) { Number n(Kind::Decimal); n.d_ = v; return n; }

  constexpr Kind kind() const { return kind_; }
  constexpr bool isBool() const { return kind_ == Kind::Bool; }
  constexpr bool isInteger() const { return kind_ == Kind::Int64 || kind_ == Kind::UInt64; }
  constexpr bool isFloatingPoint() const {
    return kind_ == Kind::Float || kind_ == Kind::Double || kind_ == Kind::Decimal;
  }

  // Platform reading messages. Floating values convert by truncation toward zero, saturating at
  // the range of the width read (-1e300 reads as 0 unsigned and as the minimum signed), NaN
  // reading as 0. Integers convert to another width by wrapping (two's complement), as the
  // platform's numbers do.
  bool boolValue() const;
  std::int64_t int64Value() const;
  std::uint64_t uint64Value() const;
  std::int32_t int32Value() const;
  std::uint32_t uint32Value() const;
  std::int16_t int16Value() const;
  std::uint16_t uint16Value() const;
  std::int8_t int8Value() const;
  std::uint8_t uint8Value() const;
  double doubleValue() const;
  float floatValue() const { return static_cast<float>(doubleValue()); }
  /// Decimal text: integers exactly, floating values in the shortest text that reads back the
  /// same ("1.5", "3" for 3.0, "1e+100"), a bool as "1" or "0".
  std::string stringValue() const;

  // Strict accessors: a value only when the number is exactly representable in the target.
  std::optional<bool> exactBool() const;  ///< only for the Bool kind
  std::optional<std::int64_t> exactInt64() const;   ///< not for Bool; 3.0 gives 3
  std::optional<std::uint64_t> exactUInt64() const; ///< not for Bool

  /// Numeric order across kinds (true counts as 1). NaN is unordered: compare returns nullopt.
  std::optional<int> compare(const Number& other) const;
  /// Numeric equality across kinds, as the platform's isEqual: true == 1, 1 == 1.0, NaN != NaN.
  friend bool operator==(const Number& a, const Number& b) {
    auto c = a.compare(b);
    return c && *c == 0;
  }

  // Raw storage for serialisers that dispatch on kind().
  constexpr std::int64_t rawInt64() const { return i_; }
  constexpr std::uint64_t rawUInt64() const { return u_; }
  constexpr double rawDouble() const { return d_; }

 private:
  constexpr explicit Number(Kind k) : kind_(k), i_(0) {}
  Kind kind_;
  union {
    std::int64_t i_;
    std::uint64_t u_;
    double d_;
  };
};

}  // namespace foundation
