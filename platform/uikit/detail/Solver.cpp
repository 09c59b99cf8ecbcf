#include "platform/uikit/detail/Solver.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace uikit::detail {
namespace {

constexpr double kEpsilon = 1.0e-8;
bool nearZero(double v) { return std::fabs(v) < kEpsilon; }

}  // namespace

// Rows.

double Solver::Row::coefficient(Symbol s) const {
  auto it = std::lower_bound(cells.begin(), cells.end(), s, [](const auto& c, Symbol x) { return c.first < x; });
  return it != cells.end() && it->first == s ? it->second : 0.0;
}

void Solver::Row::insert(Symbol s, double c) {
  auto it = std::lower_bound(cells.begin(), cells.end(), s, [](const auto& cell, Symbol x) { return cell.first < x; });
  if (it != cells.end() && it->first == s) {
    it->second += c;
    if (nearZero(it->second)) cells.erase(it);
  } else if (!nearZero(c)) {
    cells.insert(it, {s, c});
  }
}

void Solver::Row::insert(const Row& other, double c) {
  std::vector<Symbol> added, dropped;
  insert(other, c, added, dropped);
}

void Solver::Row::insert(const Row& other, double c, std::vector<Symbol>& added, std::vector<Symbol>& dropped) {
  constant += other.constant * c;
  if (other.cells.size() <= 4) {
    // A short row goes in cell by cell, without building a new list.
    for (const auto& [s, v] : other.cells) {
      auto it = std::lower_bound(cells.begin(), cells.end(), s, [](const auto& cell, Symbol x) { return cell.first < x; });
      double value = v * c;
      if (it != cells.end() && it->first == s) {
        it->second += value;
        if (nearZero(it->second)) {
          cells.erase(it);
          dropped.push_back(s);
        }
      } else if (!nearZero(value)) {
        cells.insert(it, {s, value});
        added.push_back(s);
      }
    }
    return;
  }
  // Merge of two sorted lists.
  std::vector<std::pair<Symbol, double>> merged;
  merged.reserve(cells.size() + other.cells.size());
  auto a = cells.begin();
  auto b = other.cells.begin();
  while (a != cells.end() || b != other.cells.end()) {
    if (b == other.cells.end() || (a != cells.end() && a->first < b->first)) {
      merged.push_back(*a++);
    } else if (a == cells.end() || b->first < a->first) {
      double v = b->second * c;
      if (!nearZero(v)) {
        merged.push_back({b->first, v});
        added.push_back(b->first);
      }
      ++b;
    } else {
      double v = a->second + b->second * c;
      if (!nearZero(v)) merged.push_back({a->first, v});
      else dropped.push_back(a->first);
      ++a;
      ++b;
    }
  }
  cells.swap(merged);
}

void Solver::Row::remove(Symbol s) {
  auto it = std::lower_bound(cells.begin(), cells.end(), s, [](const auto& c, Symbol x) { return c.first < x; });
  if (it != cells.end() && it->first == s) cells.erase(it);
}

void Solver::Row::reverseSign() {
  constant = -constant;
  for (auto& c : cells) c.second = -c.second;
}

void Solver::Row::solveFor(Symbol s) {
  double coeff = -1.0 / coefficient(s);
  remove(s);
  constant *= coeff;
  for (auto& c : cells) c.second *= coeff;
}

void Solver::Row::solveFor(Symbol lhs, Symbol rhs) {
  insert(lhs, -1.0);
  solveFor(rhs);
}

void Solver::Row::substitute(Symbol s, const Row& row) {
  double c = coefficient(s);
  if (c == 0.0) return;
  remove(s);
  insert(row, c);
}

// Solver.

Solver::Symbol Solver::makeSymbol(SymbolKind kind) { return Symbol{nextSymbol_++, kind}; }

Solver::Variable Solver::newVariable() {
  variables_.push_back(makeSymbol(SymbolKind::External));
  return static_cast<Variable>(variables_.size() - 1);
}

double Solver::value(Variable variable) const {
  if (variable >= variables_.size()) return 0;
  auto it = rows_.find(variables_[variable].id);
  return it == rows_.end() ? 0.0 : it->second.row.constant;
}

std::optional<Solver::ConstraintId> Solver::addConstraint(const std::vector<Term>& terms, double constant,
                                                          Relation relation, double weight) {
  Tag tag;
  tag.weight = weight;
  tag.constant = constant;
  Row row = createRow(terms, constant, relation, weight, tag);
  Symbol subject = chooseSubject(row, tag);
  if (!subject.valid() && allDummies(row)) {
    if (!nearZero(row.constant)) {
      removeMarkerEffects(tag.marker, weight >= kRequired ? 0 : weight);
      return std::nullopt;
    }
    subject = tag.marker;
  }
  if (!subject.valid()) {
    if (!addWithArtificialVariable(row)) {
      // The row may have entered the tableau while the artificial pass pivoted: take it out
      // again through its marker, as a removal would.
      removeTag(tag);
      return std::nullopt;
    }
  } else {
    row.solveFor(subject);
    substitute(subject, row);
    insertRow(subject, std::move(row));
  }
  ConstraintId id = nextConstraint_++;
  constraints_.emplace(id, tag);
  optimize(objective_);
  return id;
}

void Solver::removeConstraint(ConstraintId id) {
  auto found = constraints_.find(id);
  if (found == constraints_.end()) return;
  Tag tag = found->second;
  constraints_.erase(found);
  removeTag(tag);
}

bool Solver::setConstant(ConstraintId id, double constant) {
  auto found = constraints_.find(id);
  if (found == constraints_.end()) return false;
  Tag& tag = found->second;
  double delta = constant - tag.constant;
  if (delta == 0.0) return true;
  // E + c + k·m = 0 becomes E + c + δ + k·m' = 0 with m = m' + δ/k: shift m by δ/k in every row
  // that holds it, or in its own row when it is basic.
  auto shift = [&](Symbol m, double coefficient) {
    double by = delta / coefficient;
    auto basic = rows_.find(m.id);
    if (basic != rows_.end()) {
      basic->second.row.constant -= by;
      if (basic->second.row.constant < 0.0) infeasible_.push_back(m);
      return;
    }
    if (auto column = columns_.find(m.id); column != columns_.end()) {
      // Each row must move once: the lazily kept column may list a row twice.
      compact(column->second, m);
      for (std::uint32_t rowId : column->second) {
        auto found = rows_.find(rowId);
        if (found == rows_.end()) continue;
        BasicRow& r = found->second;
        r.row.constant += r.row.coefficient(m) * by;
        if (r.row.constant < 0.0 && r.symbol.kind != SymbolKind::External) infeasible_.push_back(r.symbol);
      }
    }
  };
  if (tag.marker.kind == SymbolKind::Dummy) {
    if (rows_.count(tag.marker.id)) return false;
  }
  infeasible_.clear();
  if (tag.other.valid() && rows_.count(tag.other.id) && !rows_.count(tag.marker.id)) shift(tag.other, tag.otherCoefficient);
  else shift(tag.marker, tag.markerCoefficient);
  tag.constant = constant;
  dualOptimize();
  return true;
}

void Solver::dualOptimize() {
  collectInfeasible_ = true;
  while (!infeasible_.empty()) {
    Symbol leaving = infeasible_.back();
    infeasible_.pop_back();
    auto it = rows_.find(leaving.id);
    if (it == rows_.end() || it->second.row.constant >= 0.0) continue;
    Symbol entering = dualEnteringSymbol(it->second.row);
    // Without an entering symbol the system has no feasible answer; the layout keeps the
    // nearest one it has.
    if (!entering.valid()) continue;
    Row row = takeRow(it);
    row.solveFor(leaving, entering);
    substitute(entering, row);
    insertRow(entering, std::move(row));
  }
  collectInfeasible_ = false;
}

Solver::Symbol Solver::dualEnteringSymbol(const Row& row) const {
  Symbol entering;
  double ratio = std::numeric_limits<double>::max();
  for (const auto& [s, c] : row.cells) {
    if (c > 0.0 && s.kind != SymbolKind::Dummy) {
      double r = objective_.coefficient(s) / c;
      if (r < ratio) {
        ratio = r;
        entering = s;
      }
    }
  }
  return entering;
}

void Solver::removeTag(const Tag& tag) {
  if (tag.weight < kRequired) {
    if (tag.marker.kind == SymbolKind::Error) removeMarkerEffects(tag.marker, tag.weight);
    if (tag.other.kind == SymbolKind::Error) removeMarkerEffects(tag.other, tag.weight);
  }
  auto basic = rows_.find(tag.marker.id);
  if (basic != rows_.end()) {
    takeRow(basic);
  } else {
    auto it = markerLeavingRow(tag.marker);
    if (it != rows_.end()) {
      Symbol leaving = it->second.symbol;
      Row row = takeRow(it);
      row.solveFor(leaving, tag.marker);
      substitute(tag.marker, row);
    }
  }
  optimize(objective_);
}

Solver::Row Solver::createRow(const std::vector<Term>& terms, double constant, Relation relation, double weight,
                              Tag& tag) {
  Row row;
  row.constant = constant;
  for (const auto& term : terms) {
    if (nearZero(term.coefficient) || term.variable >= variables_.size()) continue;
    Symbol s = variables_[term.variable];
    auto it = rows_.find(s.id);
    if (it != rows_.end()) row.insert(it->second.row, term.coefficient);
    else row.insert(s, term.coefficient);
  }
  const bool required = weight >= kRequired;
  if (relation != Relation::Equal) {
    double coeff = relation == Relation::LessOrEqual ? 1.0 : -1.0;
    Symbol slack = makeSymbol(SymbolKind::Slack);
    tag.marker = slack;
    tag.markerCoefficient = coeff;
    row.insert(slack, coeff);
    if (!required) {
      Symbol error = makeSymbol(SymbolKind::Error);
      tag.other = error;
      tag.otherCoefficient = -coeff;
      row.insert(error, -coeff);
      objective_.insert(error, weight);
    }
  } else if (!required) {
    Symbol plus = makeSymbol(SymbolKind::Error), minus = makeSymbol(SymbolKind::Error);
    tag.marker = plus;
    tag.other = minus;
    tag.markerCoefficient = -1.0;
    tag.otherCoefficient = 1.0;
    row.insert(plus, -1.0);
    row.insert(minus, 1.0);
    objective_.insert(plus, weight);
    objective_.insert(minus, weight);
  } else {
    Symbol dummy = makeSymbol(SymbolKind::Dummy);
    tag.marker = dummy;
    tag.markerCoefficient = 1.0;
    row.insert(dummy, 1.0);
  }
  if (row.constant < 0.0) row.reverseSign();
  return row;
}

Solver::Symbol Solver::chooseSubject(const Row& row, const Tag& tag) const {
  Symbol best;
  for (const auto& [s, c] : row.cells) {
    if (s.kind == SymbolKind::External) {
      best = s;
      break;
    }
  }
  if (best.valid()) return best;
  for (Symbol m : {tag.marker, tag.other}) {
    if ((m.kind == SymbolKind::Slack || m.kind == SymbolKind::Error) && row.coefficient(m) < 0.0) return m;
  }
  return {};
}

bool Solver::allDummies(const Row& row) const {
  return std::all_of(row.cells.begin(), row.cells.end(), [](const auto& c) { return c.first.kind == SymbolKind::Dummy; });
}

bool Solver::addWithArtificialVariable(const Row& row) {
  Symbol art = makeSymbol(SymbolKind::Slack);
  insertRow(art, row);
  artificial_ = std::make_unique<Row>(row);
  optimize(*artificial_);
  bool success = nearZero(artificial_->constant);
  artificial_.reset();
  auto it = rows_.find(art.id);
  if (it != rows_.end()) {
    Row basic = takeRow(it);
    if (basic.cells.empty()) return success;
    Symbol entering = anyPivotableSymbol(basic);
    if (!entering.valid()) return false;
    basic.solveFor(art, entering);
    substitute(entering, basic);
    insertRow(entering, std::move(basic));
  }
  if (auto column = columns_.find(art.id); column != columns_.end()) {
    for (std::uint32_t id : column->second)
      if (auto found = rows_.find(id); found != rows_.end()) found->second.row.remove(art);
    columns_.erase(column);
  }
  objective_.remove(art);
  return success;
}

void Solver::insertRow(Symbol basic, Row row) {
  indexRow(basic.id, row);
  rows_[basic.id] = BasicRow{basic, std::move(row)};
}

Solver::Row Solver::takeRow(RowMap::iterator it) {
  Row row = std::move(it->second.row);
  rows_.erase(it);
  return row;
}

void Solver::indexRow(std::uint32_t basic, const Row& row) {
  for (const auto& [s, c] : row.cells) columns_[s.id].push_back(basic);
}

void Solver::compact(std::vector<std::uint32_t>& ids, Symbol s) const {
  ids.erase(std::remove_if(ids.begin(), ids.end(),
                           [&](std::uint32_t id) {
                             auto it = rows_.find(id);
                             return it == rows_.end() || it->second.row.coefficient(s) == 0.0;
                           }),
            ids.end());
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
}

void Solver::substitute(Symbol s, const Row& row) {
  auto column = columns_.find(s.id);
  if (column != columns_.end()) {
    // Every row holding `s` loses it, so its column goes at once; only the symbols the merge
    // adds or cancels change the other columns.
    const std::vector<std::uint32_t> ids = std::move(column->second);
    columns_.erase(column);
    std::vector<Symbol> added, dropped;
    for (std::uint32_t id : ids) {
      auto found = rows_.find(id);
      if (found == rows_.end()) continue;
      Row& r = found->second.row;
      double c = r.coefficient(s);
      if (c == 0.0) continue;
      r.remove(s);
      added.clear();
      dropped.clear();
      r.insert(row, c, added, dropped);
      for (Symbol a : added) columns_[a.id].push_back(id);
      if (collectInfeasible_ && r.constant < 0.0) {
        Symbol basic = found->second.symbol;
        if (basic.kind != SymbolKind::External) infeasible_.push_back(basic);
      }
    }
  }
  if (objective_.coefficient(s) != 0.0) {
    objective_.substitute(s, row);
    noteObjective(row);
  }
  if (artificial_) artificial_->substitute(s, row);
}

void Solver::optimize(Row& objective) {
  // Bland-style guard: a degenerate cycle would otherwise loop for ever.
  for (int guard = 0; guard < 1'000'000; ++guard) {
    Symbol entering = enteringSymbol(objective);
    if (!entering.valid()) return;
    auto it = leavingRow(entering);
    if (it == rows_.end()) return;  // unbounded: leave the objective as it is
    Symbol leaving = it->second.symbol;
    Row row = takeRow(it);
    row.solveFor(leaving, entering);
    substitute(entering, row);
    insertRow(entering, std::move(row));
  }
}

void Solver::noteObjective(const Row& changed) {
  for (const auto& [sym, c] : changed.cells)
    if (objective_.coefficient(sym) < 0.0) negativeInObjective_.push_back(sym);
}

Solver::Symbol Solver::enteringSymbol(const Row& objective) {
  if (&objective == &objective_) {
    // Only symbols whose objective coefficient changed can have turned negative: look at those,
    // lowest first (the rule that keeps the simplex from cycling), and forget the rest.
    Symbol best;
    std::size_t keep = 0;
    for (Symbol sym : negativeInObjective_) {
      if (sym.kind == SymbolKind::Dummy || !(objective_.coefficient(sym) < 0.0)) continue;
      negativeInObjective_[keep++] = sym;
      if (!best.valid() || sym < best) best = sym;
    }
    negativeInObjective_.resize(keep);
    return best;
  }
  for (const auto& [s, c] : objective.cells)
    if (s.kind != SymbolKind::Dummy && c < 0.0) return s;
  return {};
}

Solver::Symbol Solver::anyPivotableSymbol(const Row& row) const {
  for (const auto& [s, c] : row.cells)
    if (s.kind == SymbolKind::Slack || s.kind == SymbolKind::Error) return s;
  return {};
}

Solver::RowMap::iterator Solver::leavingRow(Symbol entering) {
  double ratio = std::numeric_limits<double>::max();
  auto found = rows_.end();
  auto column = columns_.find(entering.id);
  if (column == columns_.end()) return found;
  compact(column->second, entering);
  for (std::uint32_t id : column->second) {
    auto it = rows_.find(id);
    if (it->second.symbol.kind == SymbolKind::External) continue;
    double c = it->second.row.coefficient(entering);
    if (c < 0.0) {
      double r = -it->second.row.constant / c;
      // Ties go to the lowest symbol, so the pivots do not depend on hash order.
      if (r < ratio || (r == ratio && found != rows_.end() && it->first < found->first)) {
        ratio = r;
        found = it;
      }
    }
  }
  return found;
}

Solver::RowMap::iterator Solver::markerLeavingRow(Symbol marker) {
  double r1 = std::numeric_limits<double>::max(), r2 = r1;
  auto first = rows_.end(), second = rows_.end(), third = rows_.end();
  auto column = columns_.find(marker.id);
  if (column == columns_.end()) return rows_.end();
  auto better = [](RowMap::iterator candidate, RowMap::iterator current, double r, double best, const RowMap& rows) {
    return r < best || (r == best && current != rows.end() && candidate->first < current->first);
  };
  compact(column->second, marker);
  for (std::uint32_t id : column->second) {
    auto it = rows_.find(id);
    double c = it->second.row.coefficient(marker);
    if (c == 0.0) continue;
    if (it->second.symbol.kind == SymbolKind::External) {
      if (third == rows_.end() || it->first < third->first) third = it;
    } else if (c < 0.0) {
      double r = -it->second.row.constant / c;
      if (better(it, first, r, r1, rows_)) { r1 = r; first = it; }
    } else {
      double r = it->second.row.constant / c;
      if (better(it, second, r, r2, rows_)) { r2 = r; second = it; }
    }
  }
  if (first != rows_.end()) return first;
  if (second != rows_.end()) return second;
  return third;
}

void Solver::removeMarkerEffects(Symbol marker, double weight) {
  if (!marker.valid() || weight == 0) return;
  auto it = rows_.find(marker.id);
  if (it != rows_.end()) {
    objective_.insert(it->second.row, -weight);
    noteObjective(it->second.row);
  } else {
    objective_.insert(marker, -weight);
    if (objective_.coefficient(marker) < 0.0) negativeInObjective_.push_back(marker);
  }
}

}  // namespace uikit::detail
