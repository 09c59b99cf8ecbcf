#pragma once
#include <cstddef>
#include <cstdint>
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

  /// Destroys an arena block of `arena` that has no holder left, together with every unshared
  /// block of the same arena below it; gives the number of blocks freed.
  static std::uint64_t freeArenaBlocks(Array::Storage* block, ValueArena* arena);
  static std::uint64_t freeArenaBlocks(Dictionary::Storage* block, ValueArena* arena);
  /// Frees the block of `array` (or `dictionary`) with freeArenaBlocks when it is an unshared
  /// block of `arena`, leaving the container empty; gives the number of blocks freed, else 0.
  static std::uint64_t takeArenaBlocks(Array& array, ValueArena* arena);
  static std::uint64_t takeArenaBlocks(Dictionary& dictionary, ValueArena* arena);

 private:
  ValueArena* arena_;
};

}  // namespace foundation::detail
