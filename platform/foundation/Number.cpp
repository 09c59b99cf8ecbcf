#include "platform/foundation/Number.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>

namespace foundation {
namespace {

/// `d` truncated toward zero and clamped to the range of T; NaN gives 0.
template <class T>
T saturating(double d) {
  if (std::isnan(d)) return 0;
  // The bounds of every integer width are powers of two, exactly representable as doubles:
  // 2^digits is one above the maximum, and -2^digits the minimum of a signed type.
  const double above = std::ldexp(1.0, std::numeric_limits<T>::digits);
  if (d >= above) return std::numeric_limits<T>::max();
  if constexpr (std::is_signed_v<T>) {
    if (d <= -above) return std::numeric_limits<T>::min();
  } else {
    if (d <= 0) return 0;
  }
  return static_cast<T>(d);
}

/// The number read as the integer type T: floating values saturate, integers wrap.
template <class T>
T integerValue(const Number& n) {
  switch (n.kind()) {
    case Number::Kind::Bool:
    case Number::Kind::Int64: return static_cast<T>(n.rawInt64());
    case Number::Kind::UInt64: return static_cast<T>(n.rawUInt64());
    default: return saturating<T>(n.rawDouble());
  }
}

}  // namespace

bool Number::boolValue() const {
  switch (kind_) {
    case Kind::Bool:
    case Kind::Int64: return i_ != 0;
    case Kind::UInt64: return u_ != 0;
    default: return d_ != 0.0;  // NaN is non-zero
  }
}

std::int64_t Number::int64Value() const { return integerValue<std::int64_t>(*this); }
std::uint64_t Number::uint64Value() const { return integerValue<std::uint64_t>(*this); }
std::int32_t Number::int32Value() const { return integerValue<std::int32_t>(*this); }
std::uint32_t Number::uint32Value() const { return integerValue<std::uint32_t>(*this); }
std::int16_t Number::int16Value() const { return integerValue<std::int16_t>(*this); }
std::uint16_t Number::uint16Value() const { return integerValue<std::uint16_t>(*this); }
std::int8_t Number::int8Value() const { return integerValue<std::int8_t>(*this); }
std::uint8_t Number::uint8Value() const { return integerValue<std::uint8_t>(*this); }

double Number::doubleValue() const {
  switch (kind_) {
    case Kind::Bool:
    case Kind::Int64: return static_cast<double>(i_);
    case Kind::UInt64: return static_cast<double>(u_);
    default: return d_;
  }
}

std::string Number::stringValue() const {
  char buf[64];
  switch (kind_) {
    case Kind::Bool:
    case Kind::Int64: {
      auto r = std::to_chars(buf, buf + sizeof buf, i_);
      return std::string(buf, r.ptr);
    }
    case Kind::UInt64: {
      auto r = std::to_chars(buf, buf + sizeof buf, u_);
      return std::string(buf, r.ptr);
    }
    default: break;
  }
  if (std::isnan(d_)) return "nan";
  if (std::isinf(d_)) return d_ > 0 ? "inf" : "-inf";
  if (kind_ == Kind::Float) {
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(d_));
    return std::string(buf, r.ptr);
  }
  auto r = std::to_chars(buf, buf + sizeof buf, d_);
  return std::string(buf, r.ptr);
}

std::optional<bool> Number::exactBool() const {
  if (kind_ != Kind::Bool) return std::nullopt;
  return i_ != 0;
}

std::optional<std::int64_t> Number::exactInt64() const {
  switch (kind_) {
    case Kind::Bool: return std::nullopt;
    case Kind::Int64: return i_;
    case Kind::UInt64:
      if (u_ > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
      return static_cast<std::int64_t>(u_);
    default:
      if (!std::isfinite(d_) || std::trunc(d_) != d_) return std::nullopt;
      if (d_ >= 9223372036854775808.0 || d_ < -9223372036854775808.0) return std::nullopt;
      return static_cast<std::int64_t>(d_);
  }
}

std::optional<std::uint64_t> Number::exactUInt64() const {
  switch (kind_) {
    case Kind::Bool: return std::nullopt;
    case Kind::Int64:
      if (i_ < 0) return std::nullopt;
      return static_cast<std::uint64_t>(i_);
    case Kind::UInt64: return u_;
    default:
      if (!std::isfinite(d_) || std::trunc(d_) != d_) return std::nullopt;
      if (d_ < 0 || d_ >= 18446744073709551616.0) return std::nullopt;
      return static_cast<std::uint64_t>(d_);
  }
}

std::optional<int> Number::compare(const Number& other) const {
  auto sign = [](auto a, auto b) { return a < b ? -1 : (a > b ? 1 : 0); };
  const bool aInt = !isFloatingPoint();
  const bool bInt = !other.isFloatingPoint();
  if (aInt && bInt) {
    const bool aUnsigned = kind_ == Kind::UInt64;
    const bool bUnsigned = other.kind_ == Kind::UInt64;
    if (!aUnsigned && !bUnsigned) return sign(i_, other.i_);
    if (aUnsigned && bUnsigned) return sign(u_, other.u_);
    if (aUnsigned) return other.i_ < 0 ? 1 : sign(u_, static_cast<std::uint64_t>(other.i_));
    return i_ < 0 ? -1 : sign(static_cast<std::uint64_t>(i_), other.u_);
  }
  const double a = doubleValue();
  const double b = other.doubleValue();
  if (std::isnan(a) || std::isnan(b)) return std::nullopt;
  if (a != b) return sign(a, b);
  // Equal as doubles: an integer beyond 2^53 may still differ from the double; compare exactly.
  if (aInt && !bInt) {
    auto exact = other.exactInt64();
    if (exact && kind_ == Kind::Int64) return sign(i_, *exact);
    auto exactU = other.exactUInt64();
    if (exactU && kind_ == Kind::UInt64) return sign(u_, *exactU);
  } else if (!aInt && bInt) {
    auto r = other.compare(*this);
    if (r) return -*r;
  }
  return 0;
}

}  // namespace foundation
