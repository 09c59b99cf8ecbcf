#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "json/JSON.h"

namespace json {

/// The single-value container of an encoder: one value is written into it.
class SingleValueEncodingContainer {
 public:
  virtual ~SingleValueEncodingContainer() = default;
  virtual foundation::Result<void> encodeNil() = 0;
  virtual foundation::Result<void> encodeBool(bool value) = 0;
  virtual foundation::Result<void> encodeInt64(std::int64_t value) = 0;
  virtual foundation::Result<void> encodeUInt64(std::uint64_t value) = 0;
  virtual foundation::Result<void> encodeDouble(double value) = 0;
  virtual foundation::Result<void> encodeString(const std::string& value) = 0;
  /// Each element encodes itself into a container the encoder provides.
  virtual foundation::Result<void> encodeArray(const std::vector<JSON>& elements) = 0;
  virtual foundation::Result<void> encodeDictionary(const JSONDictionary& entries) = 0;
};

/// An encoder as JSON::encode sees it: it hands out one single-value container.
class Encoder {
 public:
  virtual ~Encoder() = default;
  /// The container, owned by the encoder, or the encoder's error.
  virtual foundation::Result<SingleValueEncodingContainer*> singleValueContainer() = 0;
};

/// The single-value container of a decoder: each decode... call either gives the value read as
/// that kind or an error, and leaves the container unchanged.
class SingleValueDecodingContainer {
 public:
  virtual ~SingleValueDecodingContainer() = default;
  virtual bool decodeNil() = 0;
  virtual foundation::Result<bool> decodeBool() = 0;
  virtual foundation::Result<std::int64_t> decodeInt64() = 0;
  virtual foundation::Result<std::uint64_t> decodeUInt64() = 0;
  virtual foundation::Result<double> decodeDouble() = 0;
  virtual foundation::Result<std::string> decodeString() = 0;
  /// Each element is read by JSON::fromDecoder from a decoder of its own.
  virtual foundation::Result<std::vector<JSON>> decodeArray() = 0;
  virtual foundation::Result<JSONDictionary> decodeDictionary() = 0;
};

class Decoder {
 public:
  virtual ~Decoder() = default;
  virtual foundation::Result<SingleValueDecodingContainer*> singleValueContainer() = 0;
};

/// Encodes into a dynamic value, which JSONSerialization can then write as text.
class ValueEncoder final : public Encoder, private SingleValueEncodingContainer {
 public:
  foundation::Result<SingleValueEncodingContainer*> singleValueContainer() override { return this; }
  /// What was encoded; absent before anything was.
  const foundation::Value& value() const { return value_; }

 private:
  foundation::Result<void> encodeNil() override;
  foundation::Result<void> encodeBool(bool value) override;
  foundation::Result<void> encodeInt64(std::int64_t value) override;
  foundation::Result<void> encodeUInt64(std::uint64_t value) override;
  foundation::Result<void> encodeDouble(double value) override;
  foundation::Result<void> encodeString(const std::string& value) override;
  foundation::Result<void> encodeArray(const std::vector<JSON>& elements) override;
  foundation::Result<void> encodeDictionary(const JSONDictionary& entries) override;

  foundation::Value value_;
};

/// Decodes from a dynamic value such as JSONSerialization reads: a bool only from a bool,
/// an integer only from an integral number that fits, a double from any other number.
class ValueDecoder final : public Decoder, private SingleValueDecodingContainer {
 public:
  explicit ValueDecoder(foundation::Value value) : value_(std::move(value)) {}
  foundation::Result<SingleValueDecodingContainer*> singleValueContainer() override { return this; }

 private:
  bool decodeNil() override;
  foundation::Result<bool> decodeBool() override;
  foundation::Result<std::int64_t> decodeInt64() override;
  foundation::Result<std::uint64_t> decodeUInt64() override;
  foundation::Result<double> decodeDouble() override;
  foundation::Result<std::string> decodeString() override;
  foundation::Result<std::vector<JSON>> decodeArray() override;
  foundation::Result<JSONDictionary> decodeDictionary() override;

  foundation::Value value_;
};

}  // namespace json
