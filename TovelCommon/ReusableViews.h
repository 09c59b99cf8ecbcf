#pragma once
// Interface resources found by the names of the types that use them: controllers from the
// "Main" storyboard under their type name, views from the nib named after their type, and
// table and collection cells registered and dequeued under their type name. Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>

#include "TovelCommon/ImageUtilities.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/CollectionView.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/ViewController.h"

namespace tovel {

namespace detail {
/// A demangled C++ type name with every namespace or class qualifier taken out, template
/// arguments included: "app::Cell<app::Row>" gives "Cell<Row>".
std::string unqualifiedTypeName(const std::type_info& type);
/// Writes a line to the toolkit's log for a resource that does not match its type.
void logResourceMismatch(const std::string& line);
}  // namespace detail

/// The type's own name, without its namespaces; stable and unique per type for the names used
/// as identifiers here (a generic cell's name holds its view type's name).
template <class T>
std::string typeName() {
  return detail::unqualifiedTypeName(typeid(T));
}

/// The storyboards of the app.
enum class StoryboardName { Main };
/// "Main" gives Main; any other text (also "main") gives none.
std::optional<StoryboardName> storyboardNameFromRawValue(const std::string& raw);
std::string rawValue(StoryboardName name);

/// Controllers made from a storyboard scene. `Self` derives from UIViewController and this;
/// it may hide `storyboardIdentifier()` (or `storyboardName()`) with its own.
template <class Self>
class StoryboardLoadable {
 public:
  static StoryboardName storyboardName() { return StoryboardName::Main; }
  static std::string storyboardIdentifier() { return typeName<Self>(); }

  /// A new controller from the scene `Self::storyboardIdentifier()` of the storyboard
  /// `Self::storyboardName()` in the main bundle. A missing storyboard or scene, or a scene of
  /// another class, is logged and gives null.
  static std::shared_ptr<Self> instantiate() {
    const std::string board = rawValue(Self::storyboardName());
    const std::string identifier = Self::storyboardIdentifier();
    auto storyboard = uikit::UIStoryboard::storyboardWithName(board);
    if (!storyboard.ok()) {
      detail::logResourceMismatch("storyboard " + board + " did not load: " +
                                  storyboard.error().localizedDescription());
      return nullptr;
    }
    auto controller = (*storyboard)->instantiateViewControllerWithIdentifier(identifier);
    if (!controller.ok()) {
      detail::logResourceMismatch("storyboard " + board + " has no scene " + identifier + ": " +
                                  controller.error().localizedDescription());
      return nullptr;
    }
    auto typed = std::dynamic_pointer_cast<Self>(*controller);
    if (!typed)
      detail::logResourceMismatch("scene " + identifier + " of storyboard " + board + " is a " +
                                  (*controller)->className() + ", not a " + typeName<Self>());
    return typed;
  }
};

/// Objects made from the nib named after their type (or `Self::nibName()` when hidden).
template <class Self>
class NibLoadable {
 public:
  static std::string nibName() { return typeName<Self>(); }

  /// The first top-level object of the nib `Self::nibName()` of the main bundle. A missing or
  /// empty nib, or a first object of another type, is logged and gives null.
  static std::shared_ptr<Self> loadFromNib() {
    const std::string name = Self::nibName();
    auto objects = uikit::loadNibNamed(name, nullptr);
    if (!objects.ok()) {
      detail::logResourceMismatch("nib " + name + " did not load: " + objects.error().localizedDescription());
      return nullptr;
    }
    if (objects->empty()) {
      detail::logResourceMismatch("nib " + name + " has no objects");
      return nullptr;
    }
    auto typed = std::dynamic_pointer_cast<Self>(objects->front());
    if (!typed)
      detail::logResourceMismatch("the first object of nib " + name + " is a " + objects->front()->className() +
                                  ", not a " + typeName<Self>());
    return typed;
  }
};

/// A view shown by a reusable cell; told when the cell is about to be reused.
class ReusableView {
 public:
  virtual ~ReusableView() = default;
  virtual void prepareForReuse() = 0;
};

/// A view filled from a value of `ViewData`.
template <class ViewData>
class ViewDataConfigurable {
 public:
  using Data = ViewData;
  virtual ~ViewDataConfigurable() = default;
  virtual void configure(const ViewData& data) = 0;
};

namespace detail {
/// Makes the view a cell wraps: from its nib when the type is NibLoadable (falling back to a
/// zero frame when the nib does not give one), else with a zero frame; then adds it to the
/// content view and pins it to its edges.
template <class V>
std::shared_ptr<V> makeWrappedView(uikit::UIView& contentView) {
  std::shared_ptr<V> view;
  if constexpr (std::is_base_of_v<NibLoadable<V>, V>) view = V::loadFromNib();
  if (!view) view = std::make_shared<V>();  // a view starts with a zero frame
  add(view, contentView);
  return view;
}
}  // namespace detail

/// A table cell that shows one view of type V (a UIView that is a ReusableView), made on the
/// first access and kept for the cell's life.
template <class V>
class ReusableTableViewCell : public uikit::UITableViewCell {
  static_assert(std::is_base_of_v<uikit::UIView, V> && std::is_base_of_v<ReusableView, V>);

 public:
  using uikit::UITableViewCell::UITableViewCell;
  std::string className() const override { return typeName<ReusableTableViewCell>(); }

  const std::shared_ptr<V>& wrappedView() {
    if (!wrapped_) wrapped_ = detail::makeWrappedView<V>(*contentView());
    return wrapped_;
  }
  /// Replaces the stored view; the old one stays in the content view.
  void setWrappedView(std::shared_ptr<V> view) { wrapped_ = std::move(view); }

  void prepareForReuse() override {
    uikit::UITableViewCell::prepareForReuse();
    wrappedView()->prepareForReuse();
  }

 private:
  std::shared_ptr<V> wrapped_;
};

/// The collection-view counterpart of ReusableTableViewCell.
template <class V>
class ReusableCollectionViewCell : public uikit::UICollectionViewCell {
  static_assert(std::is_base_of_v<uikit::UIView, V> && std::is_base_of_v<ReusableView, V>);

 public:
  using uikit::UICollectionViewCell::UICollectionViewCell;
  std::string className() const override { return typeName<ReusableCollectionViewCell>(); }

  const std::shared_ptr<V>& wrappedView() {
    if (!wrapped_) wrapped_ = detail::makeWrappedView<V>(*contentView());
    return wrapped_;
  }
  void setWrappedView(std::shared_ptr<V> view) { wrapped_ = std::move(view); }

  void prepareForReuse() override {
    uikit::UICollectionViewCell::prepareForReuse();
    wrappedView()->prepareForReuse();
  }

 private:
  std::shared_ptr<V> wrapped_;
};

/// Registers cell type T under the reuse identifier typeName<T>().
template <class T>
void registerCell(uikit::UITableView& table) {
  table.registerCell(typeName<T>(), [] { return std::make_shared<T>(); });
}
template <class T>
void registerCell(uikit::UICollectionView& collection) {
  collection.registerCell(typeName<T>(), [] { return std::make_shared<T>(); });
}

/// A cell of type T for `path`, from the pool or new. Null (logged) when T was not registered
/// or the identifier gives a cell of another class.
template <class T>
std::shared_ptr<T> dequeue(uikit::UITableView& table, const uikit::NSIndexPath& path) {
  auto cell = std::dynamic_pointer_cast<T>(table.dequeueReusableCell(typeName<T>(), path));
  if (!cell) detail::logResourceMismatch("could not dequeue a " + typeName<T>());
  return cell;
}
template <class T>
std::shared_ptr<T> dequeue(uikit::UICollectionView& collection, const uikit::NSIndexPath& path) {
  auto cell = std::dynamic_pointer_cast<T>(collection.dequeueReusableCell(typeName<T>(), path));
  if (!cell) detail::logResourceMismatch("could not dequeue a " + typeName<T>());
  return cell;
}

/// The visible cell at `path` as a T; null when no cell shows that path or it is no T.
template <class T>
std::shared_ptr<T> cell(const uikit::UITableView& table, const uikit::NSIndexPath& path) {
  return std::dynamic_pointer_cast<T>(table.cellForRowAtIndexPath(path));
}
template <class T>
std::shared_ptr<T> cell(const uikit::UICollectionView& collection, const uikit::NSIndexPath& path) {
  return std::dynamic_pointer_cast<T>(collection.cellForItemAtIndexPath(path));
}

}  // namespace tovel
