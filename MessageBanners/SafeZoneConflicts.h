#pragma once
#include <cstdint>
#include <initializer_list>
#include <optional>

namespace MessageBanners {

/// Where a message collides with the screen's edges, as the presenter sees it when it shows or
/// hides a message: a set of bits with the usual set algebra. The message views turn the bits
/// into layout-margin additions.
class SafeZoneConflicts {
 public:
  using RawValue = std::uint64_t;

  /// The status bar's area; defined for completeness, the presenter never sets it.
  static constexpr SafeZoneConflicts statusBarArea() { return SafeZoneConflicts(1); }
  /// The message's top edge is not covered by a navigation bar, or sits under a safe inset.
  static constexpr SafeZoneConflicts topConflict() { return SafeZoneConflicts(2); }
  /// The message's bottom edge is not covered by a tab bar, or sits above a safe inset.
  static constexpr SafeZoneConflicts bottomConflict() { return SafeZoneConflicts(4); }
  /// The message window covers a classic 20-point status bar.
  static constexpr SafeZoneConflicts statusBarCovered() { return SafeZoneConflicts(8); }

  constexpr SafeZoneConflicts() = default;
  constexpr explicit SafeZoneConflicts(RawValue rawValue) : rawValue_(rawValue) {}
  /// The union of the given members.
  constexpr SafeZoneConflicts(std::initializer_list<SafeZoneConflicts> members) {
    for (auto m : members) rawValue_ |= m.rawValue_;
  }

  constexpr RawValue rawValue() const { return rawValue_; }
  constexpr bool isEmpty() const { return rawValue_ == 0; }
  constexpr bool contains(SafeZoneConflicts member) const { return (rawValue_ & member.rawValue_) == member.rawValue_; }

  constexpr SafeZoneConflicts unionWith(SafeZoneConflicts other) const { return SafeZoneConflicts(rawValue_ | other.rawValue_); }
  constexpr SafeZoneConflicts intersection(SafeZoneConflicts other) const { return SafeZoneConflicts(rawValue_ & other.rawValue_); }
  constexpr SafeZoneConflicts symmetricDifference(SafeZoneConflicts other) const {
    return SafeZoneConflicts(rawValue_ ^ other.rawValue_);
  }
  constexpr SafeZoneConflicts subtracting(SafeZoneConflicts other) const { return SafeZoneConflicts(rawValue_ & ~other.rawValue_); }
  constexpr bool isSubset(SafeZoneConflicts of) const { return (rawValue_ & ~of.rawValue_) == 0; }
  constexpr bool isDisjoint(SafeZoneConflicts with) const { return (rawValue_ & with.rawValue_) == 0; }

  struct InsertResult;
  /// Adds `member`; answers whether it was absent, and the member now in the set.
  InsertResult insert(SafeZoneConflicts member);
  /// Takes `member` out; answers the part of it that was in the set, or nothing.
  std::optional<SafeZoneConflicts> remove(SafeZoneConflicts member);
  /// Adds `member`; answers the part of it that was already in the set, or nothing.
  std::optional<SafeZoneConflicts> update(SafeZoneConflicts member);
  void formUnion(SafeZoneConflicts other) { rawValue_ |= other.rawValue_; }
  void formIntersection(SafeZoneConflicts other) { rawValue_ &= other.rawValue_; }
  void formSymmetricDifference(SafeZoneConflicts other) { rawValue_ ^= other.rawValue_; }
  void subtract(SafeZoneConflicts other) { rawValue_ &= ~other.rawValue_; }

  friend constexpr bool operator==(SafeZoneConflicts, SafeZoneConflicts) = default;

 private:
  RawValue rawValue_ = 0;
};

struct SafeZoneConflicts::InsertResult {
  bool inserted;
  SafeZoneConflicts memberAfterInsert;
};

}  // namespace MessageBanners
