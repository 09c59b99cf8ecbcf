#pragma once
#include <cstddef>
#include <string_view>

#include "platform/foundation/Value.h"
#include "platform/foundation/detail/ValueArena.h"

namespace foundation::detail {

/// Builds one document's arrays and dictionaries with their blocks in one ValueArena (the JSON
/// reader's tree). The containers are ordinary copy-on-write values: a change that must copy or
/// grow a block moves it out of the arena. One builder per document, on one thread; the tree may
/// outlive the builder.
class ValueTreeBuilder {
 public:
  ValueTreeBuilder() : arena_(ValueArena::create()) {}
  ~ValueTreeBuilder() { arena_->finishBuilding(); }
  ValueTreeBuilder(const ValueTreeBuilder&) = delete;
  ValueTreeBuilder& operator=(const ValueTreeBuilder&) = delete;

  /// An empty array with room for exactly `capacity` elements.
  Array makeArray(std::size_t capacity);
  /// A new absent element at the end of an array made by makeArray(), within its capacity.
  Value& append(Array& array);
  /// An empty dictionary with room for exactly `capacity` entries.
  Dictionary makeDictionary(std::size_t capacity);
  /// The absent value of `key` in a dictionary made by makeDictionary(): a new entry at the end,
  /// or, for a key already there, that entry with its value cleared (a later duplicate replaces
  /// the value and keeps the first position). Room for a new entry is the caller's to keep.
  Value& entry(Dictionary& dictionary, std::string_view key);

 private:
  ValueArena* arena_;
};

}  // namespace foundation::detail
