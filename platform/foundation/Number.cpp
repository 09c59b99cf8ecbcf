#include "platform/foundation/Number.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace foundation {
namespace {

std::int64_t saturatingInt64(double d) {
  if (std::isnan(d)) return 0;
  // 2^63 is exactly representable; anything at or above it saturates.
  if (d >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (d < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(d);
}

std::uint64_t saturatingUInt64(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  if (d <= -1.0) return static_cast<std::uint64_t>(saturatingInt64(d));
  if (d < 0) return 0;
  return static_cast<std::uint64_t>(d);
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

std::int64_t Number::int64Value() const {
  switch (kind_) {
    case Kind::Bool:
    case Kind::Int64: return i_;
    case Kind::UInt64: return static_cast<std::int64_t>(u_);
    default: return saturatingInt64(d_);
  }
}

std::uint64_t Number::uint64Value() const {
  switch (kind_) {
    case Kind::Bool:
    case Kind::Int64: return static_cast<std::uint64_t>(i_);
    case Kind::UInt64: return u_;
    default: return saturatingUInt64(d_);
  }
}

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
