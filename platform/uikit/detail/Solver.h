#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace uikit::detail {

/// An incremental simplex solver of the Cassowary kind: linear equalities and inequalities, each
/// required or weighted. Constraints are added and removed one at a time and the solution is kept
/// optimal after each change, so a small change to a large system costs a few pivots.
class Solver {
 public:
  using Variable = std::uint32_t;
  using ConstraintId = std::uint64_t;
  enum class Relation { LessOrEqual, Equal, GreaterOrEqual };
  /// Weights at or above this are required.
  static constexpr double kRequired = 1000.0;

  struct Term {
    Variable variable;
    double coefficient;
  };

  Variable newVariable();
  /// Adds Σ terms + constant (relation) 0 with `weight`. Returns nothing when a required
  /// constraint cannot be satisfied together with the others; the system is then unchanged.
  std::optional<ConstraintId> addConstraint(const std::vector<Term>& terms, double constant, Relation relation,
                                            double weight);
  void removeConstraint(ConstraintId id);
  /// Changes the constant of a constraint in place, keeping the rest of the system: a few
  /// pivots of the dual simplex instead of a removal and an addition. Returns false (and changes
  /// nothing) when the change cannot be made so (a required equality whose marker is basic, or a
  /// required constraint that the new constant makes unsatisfiable); remove and re-add it then.
  bool setConstant(ConstraintId id, double constant);
  bool hasConstraint(ConstraintId id) const { return constraints_.count(id) != 0; }
  /// The value of `variable` in the current solution.
  double value(Variable variable) const;
  std::size_t constraintCount() const { return constraints_.size(); }

 private:
  enum class SymbolKind : std::uint8_t { Invalid, External, Slack, Error, Dummy };
  struct Symbol {
    std::uint32_t id = 0;
    SymbolKind kind = SymbolKind::Invalid;
    bool valid() const { return kind != SymbolKind::Invalid; }
    friend bool operator==(Symbol a, Symbol b) { return a.id == b.id; }
    friend bool operator<(Symbol a, Symbol b) { return a.id < b.id; }
  };
  struct Row {
    std::vector<std::pair<Symbol, double>> cells;  // sorted by symbol id
    double constant = 0;
    double coefficient(Symbol s) const;
    void insert(Symbol s, double c);
    void insert(const Row& other, double c);
    /// insert(other, c) that also reports the symbols it added to and dropped from the row.
    void insert(const Row& other, double c, std::vector<Symbol>& added, std::vector<Symbol>& dropped);
    void remove(Symbol s);
    void reverseSign();
    void solveFor(Symbol s);
    void solveFor(Symbol lhs, Symbol rhs);
    void substitute(Symbol s, const Row& row);
  };
  struct Tag {
    Symbol marker, other;
    double weight = 0;
    /// The constraint's constant, and the coefficients its marker and other symbol had in the
    /// row as first written: a change of the constant is absorbed by shifting one of them.
    double constant = 0;
    double markerCoefficient = 0, otherCoefficient = 0;
  };

  Symbol makeSymbol(SymbolKind kind);
  void insertRow(Symbol basic, Row row);
  void indexRow(std::uint32_t basic, const Row& row);
  /// Drops the entries of a column whose rows are gone or no longer hold `s`, and duplicates.
  void compact(std::vector<std::uint32_t>& ids, Symbol s) const;
  Row createRow(const std::vector<Term>& terms, double constant, Relation relation, double weight, Tag& tag);
  Symbol chooseSubject(const Row& row, const Tag& tag) const;
  bool allDummies(const Row& row) const;
  bool addWithArtificialVariable(const Row& row);
  void substitute(Symbol s, const Row& row);
  void optimize(Row& objective);
  Symbol enteringSymbol(const Row& objective);
  /// Notes the symbols of `changed` whose objective coefficient is now negative.
  void noteObjective(const Row& changed);
  Symbol anyPivotableSymbol(const Row& row) const;
  struct BasicRow {
    Symbol symbol;
    Row row;
  };
  using RowMap = std::unordered_map<std::uint32_t, BasicRow>;
  /// Takes a row out of the tableau.
  Row takeRow(RowMap::iterator it);
  RowMap::iterator leavingRow(Symbol entering);
  RowMap::iterator markerLeavingRow(Symbol marker);
  void removeMarkerEffects(Symbol marker, double weight);
  void removeTag(const Tag& tag);
  void dualOptimize();
  Symbol dualEnteringSymbol(const Row& row) const;

  std::uint32_t nextSymbol_ = 1;
  RowMap rows_;                  // basic symbol id -> its row
  // Column index: symbol id -> the basic rows whose expression holds it. Pivots then touch only
  // the rows that hold the entering symbol instead of the whole tableau. Entries are dropped
  // lazily: a reader checks that the row still holds the symbol.
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> columns_;
  std::vector<Symbol> variables_;                          // variable -> its external symbol
  std::unordered_map<ConstraintId, Tag> constraints_;
  ConstraintId nextConstraint_ = 1;
  Row objective_;
  // Candidates for entering the basis: symbols whose objective coefficient went negative.
  std::vector<Symbol> negativeInObjective_;
  std::unique_ptr<Row> artificial_;
  // Basic rows whose constants went negative; collected only while the dual simplex runs.
  bool collectInfeasible_ = false;
  std::vector<Symbol> infeasible_;
};

}  // namespace uikit::detail
