#pragma once
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

/// Deep-key access into decoded reports: nested dictionaries and arrays reached along a path of
/// keys. A deep key is a list of keys, each a string or a number; a key path is the same list
/// written as one text, its keys separated by "/". Dictionaries are looked up by key (a number key
/// by its decimal text), arrays by index (a number, or a text that is empty or starts with a
/// decimal digit; the empty text is index 0).
///
/// Lookups never fail: a missing key, an index out of range or a value that is not a container
/// gives an absent value. Set and remove change nothing when they fail and return an error whose
/// domain is "NSInternalInconsistencyException" or "NSInvalidArgumentException" and whose
/// description names the parent deep key. Any thread; the caller owns the root.
using DozidiDeepKey = std::vector<foundation::Value>;

/// The value at `deepKey` under `root`; `root` itself for an empty deep key.
foundation::Value dozidi_objectForDeepKey(const foundation::Value& root, const DozidiDeepKey& deepKey);
/// The value at `keyPath` under `root`; leading slashes are ignored.
foundation::Value dozidi_objectForKeyPath(const foundation::Value& root, std::string_view keyPath);

/// Stores `object` at `deepKey`: under the last key in a dictionary, or in place of the element at
/// the last key's index in an array.
foundation::Result<void> dozidi_setObjectForDeepKey(foundation::Value& root, foundation::Value object,
                                                    const DozidiDeepKey& deepKey);
/// As above; the path is split on every "/", so a leading slash gives an empty first key.
foundation::Result<void> dozidi_setObjectForKeyPath(foundation::Value& root, foundation::Value object,
                                                    std::string_view keyPath);
/// Removes the value at `deepKey`: the dictionary's entry, or the array's element.
foundation::Result<void> dozidi_removeObjectForDeepKey(foundation::Value& root, const DozidiDeepKey& deepKey);
foundation::Result<void> dozidi_removeObjectForKeyPath(foundation::Value& root, std::string_view keyPath);
