#include "platform/uikit/Archive.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/foundation/JSONSerialization.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/CollectionView.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/PageControl.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/StackView.h"
#include "platform/uikit/Switch.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/UIKitError.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/VisualEffectView.h"

namespace uikit {

using foundation::Dictionary;
using foundation::Error;
using foundation::Result;
using foundation::Value;

namespace {

struct ClassInfo {
  std::string superclass;
  ClassRegistry::Factory factory;
  std::map<std::string, PropertySetter> properties;
};

void registerBuiltins();

std::map<std::string, ClassInfo>& classes() {
  static std::map<std::string, ClassInfo> table;
  static bool builtins = false;
  if (!builtins) {
    builtins = true;
    registerBuiltins();
  }
  return table;
}

template <class T>
ClassRegistry::Factory makeShared() {
  return [] { return std::static_pointer_cast<NSObject>(std::make_shared<T>()); };
}

void registerBuiltins() {
  using R = ClassRegistry;
  R::registerClass("NSObject", "", nullptr);
  R::registerClass("UIView", "NSObject", makeShared<UIView>());
  R::registerClass("UIControl", "UIView", makeShared<UIControl>());
  R::registerClass("UILabel", "UIView", makeShared<UILabel>());
  R::registerClass("UIImageView", "UIView", makeShared<UIImageView>());
  R::registerClass("UIButton", "UIControl", makeShared<UIButton>());
  R::registerClass("UISwitch", "UIControl", makeShared<UISwitch>());
  R::registerClass("UIPageControl", "UIControl", makeShared<UIPageControl>());
  R::registerClass("UITextField", "UIControl", makeShared<UITextField>());
  R::registerClass("UIScrollView", "UIView", makeShared<UIScrollView>());
  R::registerClass("UITableView", "UIScrollView", makeShared<UITableView>());
  R::registerClass("UITableViewCell", "UIView", makeShared<UITableViewCell>());
  R::registerClass("UICollectionView", "UIScrollView", makeShared<UICollectionView>());
  R::registerClass("UICollectionViewCell", "UIView", makeShared<UICollectionViewCell>());
  R::registerClass("UIStackView", "UIView", makeShared<UIStackView>());
  R::registerClass("UIActivityIndicatorView", "UIView", makeShared<UIActivityIndicatorView>());
  R::registerClass("UIVisualEffectView", "UIView", makeShared<UIVisualEffectView>());
  R::registerClass("UIViewController", "NSObject", makeShared<UIViewController>());
  R::registerClass("UINavigationController", "UIViewController", makeShared<UINavigationController>());
  R::registerClass("UITabBarController", "UIViewController", makeShared<UITabBarController>());
  R::registerClass("UIBarButtonItem", "NSObject", makeShared<UIBarButtonItem>());

  auto number = std::function<std::optional<double>(const Value&)>(numberFromArchive);
  auto flag = std::function<std::optional<bool>(const Value&)>(boolFromArchive);
  auto text = std::function<std::optional<std::string>(const Value&)>(stringFromArchive);
  auto color = std::function<std::optional<UIColor>(const Value&)>(colorFromArchive);
  auto rect = std::function<std::optional<CGRect>(const Value&)>(rectFromArchive);

  R::registerTyped<UIView, CGRect>("UIView", "frame", rect, [](UIView& v, const CGRect& r) { v.setFrame(r); });
  R::registerTyped<UIView, UIColor>("UIView", "backgroundColor", color,
                                    [](UIView& v, const UIColor& c) { v.setBackgroundColor(c); });
  R::registerTyped<UIView, UIColor>("UIView", "tintColor", color, [](UIView& v, const UIColor& c) { v.setTintColor(c); });
  R::registerTyped<UIView, double>("UIView", "alpha", number, [](UIView& v, const double& a) { v.setAlpha(a); });
  R::registerTyped<UIView, double>("UIView", "tag", number, [](UIView& v, const double& t) { v.tag = static_cast<int>(t); });
  // Only the six autoresizing bits: anything else is a bad value, not a cast of it.
  auto mask = std::function<std::optional<double>(const Value&)>([](const Value& v) -> std::optional<double> {
    auto n = numberFromArchive(v);
    if (!n || *n < 0 || *n > 63 || *n != std::floor(*n)) return std::nullopt;
    return n;
  });
  R::registerTyped<UIView, double>("UIView", "autoresizingMask", mask,
                                   [](UIView& v, const double& m) { v.autoresizingMask = static_cast<unsigned>(m); });
  R::registerTyped<UIView, bool>("UIView", "hidden", flag, [](UIView& v, const bool& h) { v.setHidden(h); });
  R::registerTyped<UIView, bool>("UIView", "clipsToBounds", flag, [](UIView& v, const bool& c) { v.setClipsToBounds(c); });
  R::registerTyped<UIView, bool>("UIView", "userInteractionEnabled", flag,
                                 [](UIView& v, const bool& e) { v.setUserInteractionEnabled(e); });
  R::registerTyped<UIView, double>("UIView", "layer.cornerRadius", number,
                                   [](UIView& v, const double& r) { v.layer()->setCornerRadius(r); });
  R::registerTyped<UIView, double>("UIView", "layer.borderWidth", number,
                                   [](UIView& v, const double& w) { v.layer()->setBorderWidth(w); });
  R::registerTyped<UIView, bool>("UIView", "isAccessibilityElement", flag,
                                 [](UIView& v, const bool& e) { v.isAccessibilityElement = e; });
  R::registerTyped<UIView, std::string>("UIView", "accessibilityLabel", text,
                                        [](UIView& v, const std::string& s) { v.accessibilityLabel = s; });
  R::registerTyped<UIView, std::string>("UIView", "accessibilityIdentifier", text,
                                        [](UIView& v, const std::string& s) { v.accessibilityIdentifier = s; });
  R::registerTyped<UILabel, std::string>("UILabel", "text", text, [](UILabel& l, const std::string& s) { l.setText(s); });
  R::registerTyped<UILabel, double>("UILabel", "numberOfLines", number,
                                    [](UILabel& l, const double& n) { l.setNumberOfLines(static_cast<int>(n)); });
  R::registerTyped<UILabel, UIColor>("UILabel", "textColor", color, [](UILabel& l, const UIColor& c) { l.textColor = c; });
  // An alignment by the platform's number or by name; anything else is refused.
  auto alignment = std::function<std::optional<NSTextAlignment>(const Value&)>(
      [](const Value& v) -> std::optional<NSTextAlignment> {
        static const char* const names[] = {"left", "center", "right", "justified", "natural"};
        if (auto s = stringFromArchive(v)) {
          for (int i = 0; i < 5; ++i)
            if (*s == names[i]) return static_cast<NSTextAlignment>(i);
          return std::nullopt;
        }
        auto n = numberFromArchive(v);
        if (!n || *n < 0 || *n > 4 || *n != std::floor(*n)) return std::nullopt;
        return static_cast<NSTextAlignment>(static_cast<int>(*n));
      });
  R::registerTyped<UILabel, NSTextAlignment>("UILabel", "textAlignment", alignment,
                                             [](UILabel& l, const NSTextAlignment& a) { l.textAlignment = a; });
  R::registerTyped<UILabel, double>("UILabel", "fontSize", number,
                                    [](UILabel& l, const double& s) { l.setFont(UIFont::systemFont(s)); });
  R::registerProperty("UIImageView", "image", [](NSObject& o, const Value& v, const ArchiveContext& c) {
    auto* view = dynamic_cast<UIImageView*>(&o);
    auto image = imageFromArchive(v, c);
    if (!view || !image) return false;
    view->setImage(image);
    return true;
  });
  R::registerTyped<UIButton, std::string>("UIButton", "title", text,
                                          [](UIButton& b, const std::string& s) { b.setTitle(s, UIControlStateNormal); });
  R::registerTyped<UISwitch, bool>("UISwitch", "on", flag, [](UISwitch& s, const bool& on) { s.setOn(on); });
  R::registerTyped<UIControl, bool>("UIControl", "enabled", flag, [](UIControl& c, const bool& e) { c.setEnabled(e); });
  R::registerTyped<UITextField, std::string>("UITextField", "placeholder", text,
                                             [](UITextField& f, const std::string& s) { f.placeholder = s; });
  // A border by name; anything else is refused.
  auto border = std::function<std::optional<UITextBorderStyle>(const Value&)>(
      [](const Value& v) -> std::optional<UITextBorderStyle> {
        static const char* const names[] = {"none", "line", "bezel", "roundedRect"};
        if (auto s = stringFromArchive(v))
          for (int i = 0; i < 4; ++i)
            if (*s == names[i]) return static_cast<UITextBorderStyle>(i);
        return std::nullopt;
      });
  R::registerTyped<UITextField, UITextBorderStyle>("UITextField", "borderStyle", border,
                                                   [](UITextField& f, const UITextBorderStyle& b) { f.borderStyle = b; });
  R::registerTyped<UITableView, double>("UITableView", "rowHeight", number,
                                        [](UITableView& t, const double& h) { t.rowHeight = h; });
  R::registerTyped<UITableViewCell, std::string>("UITableViewCell", "reuseIdentifier", text,
                                                 [](UITableViewCell& c, const std::string& s) { c.setReuseIdentifier(s); });
  R::registerTyped<UIViewController, std::string>("UIViewController", "title", text,
                                                  [](UIViewController& c, const std::string& s) { c.title = s; });
  R::registerOutlet<UIViewController, UIView>("UIViewController", "view",
                                              [](UIViewController& c, std::shared_ptr<UIView> v) { c.setView(v); });
  R::registerOutlet<UITableView, NSObject>("UITableView", "dataSource", [](UITableView& t, std::shared_ptr<NSObject> o) {
    if (auto ds = std::dynamic_pointer_cast<UITableViewDataSource>(o)) t.dataSource = ds;
  });
  R::registerOutlet<UITableView, NSObject>("UITableView", "delegate", [](UITableView& t, std::shared_ptr<NSObject> o) {
    if (auto d = std::dynamic_pointer_cast<UITableViewDelegate>(o)) t.tableDelegate = d;
  });
  R::registerTyped<UIBarButtonItem, std::string>("UIBarButtonItem", "title", text,
                                                 [](UIBarButtonItem& i, const std::string& s) { i.title = s; });
}

Error archiveError(UIKitError code, const std::string& detail) { return makeUIKitError(code, detail); }

Result<Dictionary> readArchive(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return archiveError(UIKitError::ArchiveNotFound, "cannot read " + path);
  std::stringstream buffer;
  buffer << in.rdbuf();
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(buffer.str());
  if (!parsed) return archiveError(UIKitError::ArchiveMalformed, path + ": not JSON");
  const auto* dict = parsed->dictionary();
  if (!dict) return archiveError(UIKitError::ArchiveMalformed, path + ": not a JSON object");
  return *dict;
}

// Builds the objects of an archive in three passes: every object with its attributes and
// subviews, then every outlet, then awakeFromNib in the order the objects were made.
class Loader {
 public:
  explicit Loader(std::shared_ptr<const foundation::Bundle> bundle) { context.bundle = std::move(bundle); }

  Result<std::shared_ptr<NSObject>> build(const Value& json, const std::string& where) {
    const auto* dict = json.dictionary();
    if (!dict) return archiveError(UIKitError::ArchiveMalformed, where + ": an object is not a JSON object");
    auto cls = (*dict)["class"].asString();
    if (!cls) return archiveError(UIKitError::ArchiveMalformed, where + ": an object has no class");
    auto object = ClassRegistry::make(*cls);
    if (!object) return archiveError(UIKitError::ArchiveUnknownClass, where + ": unknown class " + *cls);
    for (const char* key : {"properties", "outlets"})
      if (dict->contains(key) && !(*dict)[key].dictionary())
        return archiveError(UIKitError::ArchiveMalformed, where + ": " + key + " of " + *cls + " is not an object");
    if (dict->contains("subviews") && !(*dict)["subviews"].array())
      return archiveError(UIKitError::ArchiveMalformed, where + ": subviews of " + *cls + " is not a list");
    if (auto id = (*dict)["id"].asString()) {
      if (context.objects.count(*id)) return archiveError(UIKitError::ArchiveMalformed, where + ": duplicate id " + *id);
      context.objects[*id] = object;
    }
    made.push_back({object, *cls, *dict});
    if (const auto* props = (*dict)["properties"].dictionary()) {
      for (const auto& [key, value] : *props) {
        const auto* setter = ClassRegistry::property(*cls, key);
        if (!setter)
          return archiveError(UIKitError::ArchiveUnknownProperty, where + ": " + *cls + " has no attribute " + key);
        if (!(*setter)(*object, value, context))
          return archiveError(UIKitError::ArchiveBadValue, where + ": bad value for " + *cls + "." + key);
      }
    }
    if (const auto* subviews = (*dict)["subviews"].array()) {
      auto view = std::dynamic_pointer_cast<UIView>(object);
      if (!view) return archiveError(UIKitError::ArchiveMalformed, where + ": " + *cls + " is not a view");
      for (const auto& sub : *subviews) {
        auto child = build(sub, where);
        if (!child) return child.error();
        auto childView = std::dynamic_pointer_cast<UIView>(*child);
        if (!childView) return archiveError(UIKitError::ArchiveMalformed, where + ": a subview is not a view");
        if (auto* cell = dynamic_cast<UITableViewCell*>(view.get()))
          cell->contentView()->addSubview(childView);
        else
          view->addSubview(childView);
      }
    }
    if ((*dict).contains("view")) {
      auto controller = std::dynamic_pointer_cast<UIViewController>(object);
      if (!controller) return archiveError(UIKitError::ArchiveMalformed, where + ": " + *cls + " is not a controller");
      auto view = build((*dict)["view"], where);
      if (!view) return view.error();
      auto asView = std::dynamic_pointer_cast<UIView>(*view);
      if (!asView) return archiveError(UIKitError::ArchiveMalformed, where + ": a controller's view is not a view");
      controller->setViewFromArchive(asView);
    }
    return object;
  }

  Result<void> connect(const std::string& where) {
    for (auto& m : made) {
      const auto* outlets = m.json["outlets"].dictionary();
      if (!outlets) continue;
      for (const auto& [key, value] : *outlets) {
        auto status = connectOne(*m.object, m.cls, key, value, where);
        if (!status) return status;
      }
    }
    return {};
  }

  Result<void> connectOne(NSObject& object, const std::string& cls, const std::string& key, const Value& value,
                          const std::string& where) {
    auto id = value.asString();
    if (!id || !context.object(*id))
      return archiveError(UIKitError::ArchiveUnknownObject, where + ": outlet " + key + " names no object");
    const auto* setter = ClassRegistry::property(cls, key);
    if (!setter) return archiveError(UIKitError::ArchiveUnknownProperty, where + ": " + cls + " has no outlet " + key);
    if (!(*setter)(object, value, context))
      return archiveError(UIKitError::ArchiveBadValue, where + ": outlet " + key + " of " + cls + " has the wrong type");
    return {};
  }

  void awake() {
    for (auto& m : made) m.object->awakeFromNib();
  }

  struct Made {
    std::shared_ptr<NSObject> object;
    std::string cls;
    Dictionary json;
  };
  ArchiveContext context;
  std::vector<Made> made;
};

}  // namespace

// Registry.

void ClassRegistry::registerClass(const std::string& name, const std::string& superclass, Factory factory) {
  auto& info = classes()[name];
  info.superclass = superclass;
  info.factory = std::move(factory);
}

bool ClassRegistry::isRegistered(const std::string& name) { return classes().count(name) != 0; }

std::shared_ptr<NSObject> ClassRegistry::make(const std::string& name) {
  auto it = classes().find(name);
  return it != classes().end() && it->second.factory ? it->second.factory() : nullptr;
}

bool ClassRegistry::isKindOf(const std::string& name, const std::string& ancestor) {
  for (std::string c = name; !c.empty();) {
    if (c == ancestor) return true;
    auto it = classes().find(c);
    if (it == classes().end()) return false;
    c = it->second.superclass;
  }
  return false;
}

void ClassRegistry::registerProperty(const std::string& className, const std::string& property, PropertySetter setter) {
  classes()[className].properties[property] = std::move(setter);
}

const PropertySetter* ClassRegistry::property(const std::string& className, const std::string& property) {
  for (std::string c = className; !c.empty();) {
    auto it = classes().find(c);
    if (it == classes().end()) return nullptr;
    if (auto p = it->second.properties.find(property); p != it->second.properties.end()) return &p->second;
    c = it->second.superclass;
  }
  return nullptr;
}

// Values.

std::optional<double> numberFromArchive(const Value& value) { return value.asDouble(); }
std::optional<bool> boolFromArchive(const Value& value) { return value.asBool(); }
std::optional<std::string> stringFromArchive(const Value& value) { return value.asString(); }

std::optional<UIColor> colorFromArchive(const Value& value) {
  if (auto s = value.asString()) {
    if ((s->size() != 7 && s->size() != 9) || (*s)[0] != '#') return std::nullopt;
    unsigned channels[4] = {0, 0, 0, 255};
    for (std::size_t i = 0; i + 1 < s->size(); i += 2) {
      unsigned v = 0;
      for (char ch : s->substr(i + 1, 2)) {
        int d = std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0'
                : (ch >= 'a' && ch <= 'f')                   ? ch - 'a' + 10
                : (ch >= 'A' && ch <= 'F')                   ? ch - 'A' + 10
                                                             : -1;
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<unsigned>(d);
      }
      channels[i / 2] = v;
    }
    return UIColor{channels[0] / 255.0, channels[1] / 255.0, channels[2] / 255.0, channels[3] / 255.0};
  }
  if (const auto* a = value.array(); a && a->size() == 4) {
    double c[4];
    for (std::size_t i = 0; i < 4; ++i) {
      auto d = (*a)[i].asDouble();
      if (!d || *d < 0 || *d > 1) return std::nullopt;
      c[i] = *d;
    }
    return UIColor{c[0], c[1], c[2], c[3]};
  }
  return std::nullopt;
}

std::optional<CGRect> rectFromArchive(const Value& value) {
  const auto* a = value.array();
  if (!a || a->size() != 4) return std::nullopt;
  double c[4];
  for (std::size_t i = 0; i < 4; ++i) {
    auto d = (*a)[i].asDouble();
    if (!d) return std::nullopt;
    c[i] = *d;
  }
  if (c[2] < 0 || c[3] < 0) return std::nullopt;
  return CGRect{c[0], c[1], c[2], c[3]};
}

namespace {
ArchiveImageLoader& imageLoader() {
  static ArchiveImageLoader loader;
  return loader;
}
}  // namespace

void setArchiveImageLoader(ArchiveImageLoader loader) { imageLoader() = std::move(loader); }

std::shared_ptr<UIImage> imageFromArchive(const Value& value, const ArchiveContext& context) {
  auto name = value.asString();
  if (!name || name->empty()) return nullptr;
  if (imageLoader()) return imageLoader()(*name, context.bundle);
  if (!context.bundle) return nullptr;
  if (context.bundle->path(*name + "@2x", "png")) return UIImage::create({0, 0}, 2.0, *name);
  if (!context.bundle->path(*name, "png")) return nullptr;
  return UIImage::create({0, 0}, 1.0, *name);
}

// Nibs.

namespace {
Result<std::vector<std::shared_ptr<NSObject>>> loadNibArchive(const Dictionary& archive, const std::string& where,
                                                             const std::shared_ptr<NSObject>& owner,
                                                             std::shared_ptr<const foundation::Bundle> bundle,
                                                             bool ownerOptional = false) {
  const auto* objects = archive["objects"].array();
  if (!objects) return archiveError(UIKitError::ArchiveMalformed, where + ": no objects");
  Loader loader(std::move(bundle));
  std::vector<std::shared_ptr<NSObject>> top;
  for (const auto& json : *objects) {
    auto object = loader.build(json, where);
    if (!object) return object.error();
    top.push_back(*object);
  }
  auto connected = loader.connect(where);
  if (!connected) return connected.error();
  if (const auto* ownerOutlets = archive["ownerOutlets"].dictionary(); ownerOutlets && (owner || !ownerOptional)) {
    if (!owner && !ownerOutlets->empty())
      return archiveError(UIKitError::ArchiveUnknownObject, where + ": owner outlets but no owner");
    for (const auto& [key, value] : *ownerOutlets) {
      auto status = loader.connectOne(*owner, owner->className(), key, value, where);
      if (!status) return status.error();
    }
  }
  loader.awake();
  return top;
}
}  // namespace

Result<std::vector<std::shared_ptr<NSObject>>> loadNibNamed(const std::string& name,
                                                            const std::shared_ptr<NSObject>& owner,
                                                            const std::shared_ptr<const foundation::Bundle>& libraryBundle) {
  std::shared_ptr<const foundation::Bundle> bundle;
  std::optional<std::string> path;
  if (auto main = foundation::Bundle::main(); main && (path = main->path(name, "nib"))) {
    bundle = main;
  } else if (libraryBundle && (path = libraryBundle->path(name, "nib"))) {
    bundle = libraryBundle;
  }
  if (!path) return archiveError(UIKitError::ArchiveNotFound, "no nib named " + name);
  auto archive = readArchive(*path);
  if (!archive) return archive.error();
  return loadNibArchive(*archive, *path, owner, bundle);
}

Result<std::vector<std::shared_ptr<NSObject>>> loadNibNamedInBundle(const std::string& name,
                                                                    const std::shared_ptr<NSObject>& owner,
                                                                    const std::shared_ptr<const foundation::Bundle>& bundle) {
  auto path = bundle ? bundle->path(name, "nib") : std::nullopt;
  if (!path) return archiveError(UIKitError::ArchiveNotFound, "no nib named " + name);
  auto archive = readArchive(*path);
  if (!archive) return archive.error();
  return loadNibArchive(*archive, *path, owner, bundle);
}

// Storyboards.

Result<std::shared_ptr<UIStoryboard>> UIStoryboard::storyboardWithName(const std::string& name,
                                                                      std::shared_ptr<const foundation::Bundle> bundle) {
  if (!bundle) bundle = foundation::Bundle::main();
  auto path = bundle ? bundle->path(name, "storyboard") : std::nullopt;
  if (!path) return archiveError(UIKitError::ArchiveNotFound, "no storyboard named " + name);
  std::ifstream in(*path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return fromJSON(name, buffer.str(), bundle);
}

Result<std::shared_ptr<UIStoryboard>> UIStoryboard::fromJSON(const std::string& name, std::string_view json,
                                                            std::shared_ptr<const foundation::Bundle> bundle) {
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(json);
  if (!parsed || !parsed->dictionary())
    return archiveError(UIKitError::ArchiveMalformed, "storyboard " + name + ": not a JSON object");
  if (!(*parsed->dictionary())["scenes"].array())
    return archiveError(UIKitError::ArchiveMalformed, "storyboard " + name + ": no scenes");
  auto board = std::make_shared<UIStoryboard>();
  board->name_ = name;
  board->archive_ = *parsed->dictionary();
  board->bundle_ = std::move(bundle);
  return board;
}

std::vector<std::string> UIStoryboard::sceneIdentifiers() const {
  std::vector<std::string> out;
  for (const auto& scene : *archive_["scenes"].array())
    if (const auto* d = scene.dictionary())
      if (auto id = (*d)["identifier"].asString()) out.push_back(*id);
  return out;
}

namespace {
std::shared_ptr<UITableView> findTable(UIView& view) {
  if (auto* table = dynamic_cast<UITableView*>(&view)) return std::static_pointer_cast<UITableView>(table->shared_from_this());
  for (auto& sub : view.subviews())
    if (auto t = findTable(*sub)) return t;
  return nullptr;
}
}  // namespace

Result<std::shared_ptr<UIViewController>> UIStoryboard::instantiateViewControllerWithIdentifier(
    const std::string& identifier) {
  const Dictionary* scene = nullptr;
  for (const auto& s : *archive_["scenes"].array())
    if (const auto* d = s.dictionary(); d && (*d)["identifier"].asString() == identifier) scene = d;
  std::string where = "storyboard " + name_ + ", scene " + identifier;
  if (!scene)
    return archiveError(UIKitError::StoryboardUnknownIdentifier,
                        "storyboard " + name_ + " has no scene with identifier " + identifier);
  if (std::find(making_.begin(), making_.end(), identifier) != making_.end())
    return archiveError(UIKitError::ArchiveMalformed, where + ": the root-controller chain leads back to this scene");
  making_.push_back(identifier);
  struct Done {
    std::vector<std::string>& list;
    ~Done() { list.pop_back(); }
  } done{making_};
  Loader loader(bundle_);
  auto object = loader.build((*scene)["controller"], where);
  if (!object) return object.error();
  auto controller = std::dynamic_pointer_cast<UIViewController>(*object);
  if (!controller) return archiveError(UIKitError::ArchiveMalformed, where + ": the scene is not a controller");
  auto connected = loader.connect(where);
  if (!connected) return connected.error();
  controller->storyboard = shared_from_this();

  // Cell prototypes: each dequeue builds a fresh cell from its archive.
  if (const auto* prototypes = (*scene)["prototypes"].array()) {
    auto archived = controller->viewIfArchivedOrLoaded();
    auto table = archived ? findTable(*archived) : nullptr;
    if (!table) return archiveError(UIKitError::ArchiveMalformed, where + ": prototypes without a table view");
    for (const auto& proto : *prototypes) {
      const auto* d = proto.dictionary();
      std::optional<std::string> reuse;
      if (d) reuse = (*d)["reuseIdentifier"].asString();
      if (d && !reuse)
        if (const auto* props = (*d)["properties"].dictionary()) reuse = (*props)["reuseIdentifier"].asString();
      if (!reuse) return archiveError(UIKitError::ArchiveMalformed, where + ": a prototype has no reuseIdentifier");
      auto bundle = bundle_;
      auto protoJSON = proto;
      auto makeCell = [bundle, protoJSON, where]() -> Result<std::shared_ptr<UITableViewCell>> {
        Loader cellLoader(bundle);
        auto built = cellLoader.build(protoJSON, where);
        if (!built) return built.error();
        auto connected = cellLoader.connect(where);
        if (!connected) return connected.error();
        auto cell = std::dynamic_pointer_cast<UITableViewCell>(*built);
        if (!cell) return archiveError(UIKitError::ArchiveMalformed, where + ": a prototype is not a cell");
        cellLoader.awake();
        return cell;
      };
      // A prototype that does not build is reported now rather than at the first dequeue.
      auto probe = makeCell();
      if (!probe) return probe.error();
      table->registerCell(*reuse, [makeCell] {
        auto cell = makeCell();
        return cell ? *cell : nullptr;
      });
    }
  }
  if (auto root = (*scene)["rootViewController"].asString()) {
    auto nav = std::dynamic_pointer_cast<UINavigationController>(controller);
    if (!nav) return archiveError(UIKitError::ArchiveMalformed, where + ": a root controller needs a navigation controller");
    auto rootController = instantiateViewControllerWithIdentifier(*root);
    if (!rootController) return rootController.error();
    nav->setViewControllers({*rootController}, false);
  }
  loader.awake();
  return controller;
}

Result<std::shared_ptr<UIViewController>> UIStoryboard::instantiateInitialViewController() {
  auto initial = archive_["initialScene"].asString();
  if (!initial) return archiveError(UIKitError::StoryboardUnknownIdentifier, "storyboard " + name_ + " has no initial scene");
  return instantiateViewControllerWithIdentifier(*initial);
}

Result<void> UIStoryboard::performSegue(const std::string& identifier, const std::shared_ptr<UIViewController>& source) {
  const auto* segues = archive_["segues"].array();
  if (segues)
    for (const auto& s : *segues) {
      const auto* d = s.dictionary();
      if (!d || (*d)["identifier"].asString() != identifier) continue;
      auto destinationId = (*d)["destination"].asString();
      if (!destinationId) return archiveError(UIKitError::ArchiveMalformed, "segue " + identifier + " has no destination");
      auto destination = instantiateViewControllerWithIdentifier(*destinationId);
      if (!destination) return destination.error();
      UIStoryboardSegue segue(identifier, source, *destination, (*d)["kind"].asString().value_or("push"));
      source->prepareForSegue(segue);
      segue.perform();
      return {};
    }
  return archiveError(UIKitError::StoryboardUnknownIdentifier, "storyboard " + name_ + " has no segue " + identifier);
}

// Strings.

std::string localizedString(const std::string& key, const std::string& table, const std::string& defaultValue,
                            std::shared_ptr<const foundation::Bundle> bundle) {
  if (!bundle) bundle = foundation::Bundle::main();
  if (bundle)
    if (auto path = bundle->path(table.empty() ? "Localizable" : table, "strings"))
      if (auto strings = readArchive(*path))
        if (auto text = (*strings)[key].asString()) return *text;
  return defaultValue.empty() ? key : defaultValue;
}

// Validation.

Result<std::size_t> validateArchives(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::size_t count = 0;
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file() && (it->path().extension() == ".nib" || it->path().extension() == ".storyboard"))
      files.push_back(it->path());
  if (ec) return archiveError(UIKitError::ArchiveNotFound, "cannot list " + folder);
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    auto bundle = foundation::Bundle::atPath(file.parent_path().string());
    if (file.extension() == ".nib") {
      auto archive = readArchive(file.string());
      if (!archive) return archive.error();
      auto objects = loadNibArchive(*archive, file.string(), nullptr, bundle, true);
      if (!objects) return objects.error();
    } else {
      std::ifstream in(file, std::ios::binary);
      std::stringstream buffer;
      buffer << in.rdbuf();
      auto board = UIStoryboard::fromJSON(file.stem().string(), buffer.str(), bundle);
      if (!board) return board.error();
      for (const auto& id : (*board)->sceneIdentifiers()) {
        auto scene = (*board)->instantiateViewControllerWithIdentifier(id);
        if (!scene) return scene.error();
      }
    }
    ++count;
  }
  return count;
}

}  // namespace uikit
