#pragma once
#include <concepts>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace tovel {

/// How a type is decoded from and encoded to a JSON value. A type takes part by declaring
///   static foundation::Result<T> fromJSON(const foundation::Value&);   // decodable
///   foundation::Value toJSON() const;                                  // encodable
/// or by specialising JSONCoding. foundation::Value itself codes as itself.
template <class T>
struct JSONCoding {
  static foundation::Result<T> decode(const foundation::Value& value)
    requires requires { { T::fromJSON(value) } -> std::same_as<foundation::Result<T>>; }
  {
    return T::fromJSON(value);
  }
  static foundation::Value encode(const T& value)
    requires requires { { value.toJSON() } -> std::same_as<foundation::Value>; }
  {
    return value.toJSON();
  }
};

template <>
struct JSONCoding<foundation::Value> {
  static foundation::Result<foundation::Value> decode(const foundation::Value& value) { return value; }
  static foundation::Value encode(const foundation::Value& value) { return value; }
};

template <class T>
concept JSONDecodable = requires(const foundation::Value& v) {
  { JSONCoding<T>::decode(v) } -> std::same_as<foundation::Result<T>>;
};

template <class T>
concept JSONEncodable = requires(const T& t) {
  { JSONCoding<T>::encode(t) } -> std::same_as<foundation::Value>;
};

}  // namespace tovel
