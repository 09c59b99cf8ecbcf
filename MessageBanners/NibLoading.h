#pragma once
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "MessageBanners/MessageBannersError.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Result.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/Object.h"

namespace MessageBanners {

namespace detail {
/// The top-level objects of the nib `name`: of `bundle` when one is given, else of the main
/// bundle when it has such a nib, else of the library's resource bundle. Empty when it does not load.
std::vector<std::shared_ptr<uikit::NSObject>> loadNibObjects(const std::string& name,
                                                             const std::shared_ptr<const foundation::Bundle>& bundle,
                                                             const std::shared_ptr<uikit::NSObject>& owner);
/// The last component of a type's qualified name ("A::B::CardView" gives "CardView").
std::string nibNameOfType(const std::type_info& type);
}  // namespace detail

/// The owner to hand a nib loader when there is none (the platform's null object).
std::shared_ptr<uikit::NSObject> newNullOwner();

/// The first top-level object of type T in the nib `name` of `bundle` (null: the main bundle when
/// it has such a nib, else the library's resource bundle); a cannotLoadViewFromNib error carrying
/// the name when the nib does not load or holds no T.
template <class T>
foundation::Result<std::shared_ptr<T>> viewFromNib(const std::string& name,
                                                   const std::shared_ptr<const foundation::Bundle>& bundle,
                                                   const std::shared_ptr<uikit::NSObject>& filesOwner) {
  if (auto view = uikit::firstObjectOfType<T>(detail::loadNibObjects(name, bundle, filesOwner))) return view;
  return MessageBannersError::cannotLoadViewFromNib(name).bridged();
}

template <class T>
foundation::Result<std::shared_ptr<T>> viewFromNib(const std::string& name,
                                                   const std::shared_ptr<uikit::NSObject>& filesOwner) {
  return viewFromNib<T>(name, nullptr, filesOwner);
}

/// The nib named after T's class ("CardView" for a class CardView of any namespace).
template <class T>
foundation::Result<std::shared_ptr<T>> viewFromNib(const std::shared_ptr<uikit::NSObject>& filesOwner) {
  return viewFromNib<T>(detail::nibNameOfType(typeid(T)), nullptr, filesOwner);
}

}  // namespace MessageBanners
