#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace foundation {

/// A byte buffer: file contents, HTTP bodies, property-list data values.
/// A distinct type (not a string) so that a dynamic value can tell data from text.
class Data {
 public:
  Data() = default;
  explicit Data(std::string bytes) : bytes_(std::move(bytes)) {}
  Data(const void* bytes, std::size_t size) : bytes_(static_cast<const char*>(bytes), size) {}
  static Data fromView(std::string_view bytes) { return Data(std::string(bytes)); }

  const std::string& bytes() const& { return bytes_; }
  std::string&& takeBytes() && { return std::move(bytes_); }
  std::string& mutableBytes() { return bytes_; }
  std::string_view view() const { return bytes_; }
  const std::uint8_t* data() const { return reinterpret_cast<const std::uint8_t*>(bytes_.data()); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }

  friend bool operator==(const Data& a, const Data& b) { return a.bytes_ == b.bytes_; }

 private:
  std::string bytes_;
};

}  // namespace foundation
