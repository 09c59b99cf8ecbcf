#pragma once
// The declarative framework's state and bindings: a value store that screens own, bindings that
// read and write it from elsewhere, and change actions that run when the value changes (never
// for the value it starts with). Main thread only, like the views that use them.

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace uikit {

/// Reads and writes a value kept elsewhere, and lets a view act on its changes.
template <class T>
class Binding {
 public:
  using ChangeAction = std::function<void(const T&)>;
  Binding(std::function<T()> get, std::function<void(T)> set, std::function<void(ChangeAction)> onChange = {})
      : get_(std::move(get)), set_(std::move(set)), onChange_(std::move(onChange)) {}

  T get() const { return get_(); }
  void set(T value) const { set_(std::move(value)); }
  /// Runs `action` with the new value each time the value changes, from now on. A binding without
  /// a source of changes never runs it.
  void onChange(ChangeAction action) const {
    if (onChange_) onChange_(std::move(action));
  }

 private:
  std::function<T()> get_;
  std::function<void(T)> set_;
  std::function<void(ChangeAction)> onChange_;
};

/// A value owned by a screen. Setting a value that differs (by ==) runs the change actions.
template <class T>
class State : public std::enable_shared_from_this<State<T>> {
 public:
  static std::shared_ptr<State> create(T initial) { return std::shared_ptr<State>(new State(std::move(initial))); }

  const T& value() const { return value_; }
  void set(T value) {
    if (value == value_) return;
    value_ = std::move(value);
    // Actions added while these run start with the next change.
    auto actions = actions_;
    for (auto& action : actions) action(value_);
  }
  /// A binding to this value; it holds the state weakly and reads a default value once it is gone.
  Binding<T> binding() {
    std::weak_ptr<State> weak = this->weak_from_this();
    return Binding<T>(
        [weak] {
          auto state = weak.lock();
          return state ? state->value_ : T{};
        },
        [weak](T value) {
          if (auto state = weak.lock()) state->set(std::move(value));
        },
        [weak](typename Binding<T>::ChangeAction action) {
          if (auto state = weak.lock()) state->actions_.push_back(std::move(action));
        });
  }

 private:
  explicit State(T initial) : value_(std::move(initial)) {}
  T value_;
  std::vector<typename Binding<T>::ChangeAction> actions_;
};

}  // namespace uikit
