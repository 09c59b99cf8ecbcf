#pragma once
#include <memory>

namespace MessageBanners {

/// Holds one object weakly, where a value that is replaced as a whole is needed: the box owns
/// nothing, and reads nothing once the object's last owner lets it go.
template <class T>
class Weak {
 public:
  explicit Weak(const std::shared_ptr<T>& value = nullptr) : value_(value) {}
  /// The object, or null when it is gone or none was set.
  std::shared_ptr<T> value() const { return value_.lock(); }
  void setValue(const std::shared_ptr<T>& value) { value_ = value; }

 private:
  std::weak_ptr<T> value_;
};

}  // namespace MessageBanners
