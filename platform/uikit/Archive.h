#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "platform/uikit/Color.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/Object.h"

namespace uikit {

class UIViewController;

/// The objects of one archive being loaded, by their ids.
class ArchiveContext {
 public:
  std::shared_ptr<NSObject> object(const std::string& id) const {
    auto it = objects.find(id);
    return it == objects.end() ? nullptr : it->second;
  }
  std::map<std::string, std::shared_ptr<NSObject>> objects;
  std::shared_ptr<const foundation::Bundle> bundle;
};

/// Sets one attribute or outlet of an object from its archived value (an outlet's value is the
/// id of the object it points at). Returns false when the value is of the wrong kind.
using PropertySetter =
    std::function<bool(NSObject& object, const foundation::Value& value, const ArchiveContext& context)>;

/// The classes archives can name and the attributes and outlets they can set, by class; a class
/// inherits its superclass's. The toolkit's own classes are registered on first use; programs and
/// libraries register theirs (a class name such as "MessageBanners.PassthroughView" included).
class ClassRegistry {
 public:
  using Factory = std::function<std::shared_ptr<NSObject>()>;
  static void registerClass(const std::string& name, const std::string& superclass, Factory factory);
  static bool isRegistered(const std::string& name);
  static std::shared_ptr<NSObject> make(const std::string& name);
  /// True when `name` is `ancestor` or derives from it.
  static bool isKindOf(const std::string& name, const std::string& ancestor);
  static void registerProperty(const std::string& className, const std::string& property, PropertySetter setter);
  /// The setter for `property` on `className` or its nearest superclass that has one.
  static const PropertySetter* property(const std::string& className, const std::string& property);

  /// A setter for objects of type T taking a value converted by `convert`.
  template <class T, class V>
  static void registerTyped(const std::string& className, const std::string& property,
                            std::function<std::optional<V>(const foundation::Value&)> convert,
                            std::function<void(T&, const V&)> set) {
    registerProperty(className, property,
                     [convert, set](NSObject& object, const foundation::Value& value, const ArchiveContext&) {
                       auto* typed = dynamic_cast<T*>(&object);
                       auto converted = convert(value);
                       if (!typed || !converted) return false;
                       set(*typed, *converted);
                       return true;
                     });
  }
  /// An outlet of T pointing at an object of type U.
  template <class T, class U>
  static void registerOutlet(const std::string& className, const std::string& outlet,
                             std::function<void(T&, std::shared_ptr<U>)> set) {
    registerProperty(className, outlet,
                     [set](NSObject& object, const foundation::Value& value, const ArchiveContext& context) {
                       auto* typed = dynamic_cast<T*>(&object);
                       auto id = value.asString();
                       auto target = id ? std::dynamic_pointer_cast<U>(context.object(*id)) : nullptr;
                       if (!typed || !target) return false;
                       set(*typed, std::move(target));
                       return true;
                     });
  }
};

// Archived values: colours as "#RRGGBB" or "#RRGGBBAA" (or [r, g, b, a] in 0..1), rectangles
// as [x, y, width, height].
std::optional<UIColor> colorFromArchive(const foundation::Value& value);
std::optional<CGRect> rectFromArchive(const foundation::Value& value);
std::optional<double> numberFromArchive(const foundation::Value& value);
std::optional<bool> boolFromArchive(const foundation::Value& value);
std::optional<std::string> stringFromArchive(const foundation::Value& value);

class UIImage;
/// Turns an image name of an archive into an image of the archive's bundle.
using ArchiveImageLoader = std::function<std::shared_ptr<UIImage>(
    const std::string& name, const std::shared_ptr<const foundation::Bundle>& bundle)>;
/// Replaces the loader (an image decoder installs one); an empty one restores the default, which
/// finds "<name>@2x.png" or "<name>.png" in the bundle and gives a named image without pixels.
void setArchiveImageLoader(ArchiveImageLoader loader);
/// The image an archived name stands for; null when the bundle has none of that name.
std::shared_ptr<UIImage> imageFromArchive(const foundation::Value& value, const ArchiveContext& context);

/// Loads the nib "<name>.nib": from the main bundle when it has one (so an app can replace a
/// library's layout), else from `libraryBundle`. Returns its top-level objects in archive order;
/// outlets (the owner's too) are connected before any object gets awakeFromNib.
foundation::Result<std::vector<std::shared_ptr<NSObject>>> loadNibNamed(
    const std::string& name, const std::shared_ptr<NSObject>& owner,
    const std::shared_ptr<const foundation::Bundle>& libraryBundle = nullptr);

/// Loads the nib "<name>.nib" of `bundle` alone (for callers that choose the bundle themselves).
foundation::Result<std::vector<std::shared_ptr<NSObject>>> loadNibNamedInBundle(
    const std::string& name, const std::shared_ptr<NSObject>& owner,
    const std::shared_ptr<const foundation::Bundle>& bundle);

/// The first object of type T among `objects`.
template <class T>
std::shared_ptr<T> firstObjectOfType(const std::vector<std::shared_ptr<NSObject>>& objects) {
  for (auto& o : objects)
    if (auto typed = std::dynamic_pointer_cast<T>(o)) return typed;
  return nullptr;
}

/// A storyboard "<name>.storyboard" of a bundle: scenes by identifier, table-cell prototypes by
/// reuse identifier, segues and an initial scene.
class UIStoryboard : public std::enable_shared_from_this<UIStoryboard> {
 public:
  /// The storyboard of `bundle` (null: the main bundle).
  static foundation::Result<std::shared_ptr<UIStoryboard>> storyboardWithName(
      const std::string& name, std::shared_ptr<const foundation::Bundle> bundle = nullptr);
  /// From archive text (for the validator and tests).
  static foundation::Result<std::shared_ptr<UIStoryboard>> fromJSON(const std::string& name, std::string_view json,
                                                                   std::shared_ptr<const foundation::Bundle> bundle);
  const std::string& name() const { return name_; }
  std::vector<std::string> sceneIdentifiers() const;
  /// A new controller of the scene `identifier`; an error (never a crash) when there is none.
  foundation::Result<std::shared_ptr<UIViewController>> instantiateViewControllerWithIdentifier(
      const std::string& identifier);
  foundation::Result<std::shared_ptr<UIViewController>> instantiateInitialViewController();
  /// Runs the segue `identifier` from `source`: a new destination, prepareForSegue, then the push
  /// or presentation.
  foundation::Result<void> performSegue(const std::string& identifier, const std::shared_ptr<UIViewController>& source);

 private:
  std::string name_;
  /// Scenes being made, for refusing a root-controller chain that leads back to itself.
  std::vector<std::string> making_;
  foundation::Dictionary archive_;
  std::shared_ptr<const foundation::Bundle> bundle_;
};

/// The text for `key` in the table "<table>.strings" (a JSON object) of `bundle` (null: the
/// main bundle); `defaultValue` when there is none, or the key when that is empty too.
std::string localizedString(const std::string& key, const std::string& table, const std::string& defaultValue,
                            std::shared_ptr<const foundation::Bundle> bundle = nullptr);

/// Loads every nib (every object) and every storyboard (every scene) under `folder`, recursively;
/// an error naming the first archive that does not load.
foundation::Result<std::size_t> validateArchives(const std::string& folder);

}  // namespace uikit
