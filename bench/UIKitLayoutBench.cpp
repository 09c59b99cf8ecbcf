// Auto Layout of a table-like screen: 125 rows of a cell with seven parts, 1,000 views and about
// 6,000 constraints. "Full" lays the tree out from scratch; "AfterLabelChange" lays it out again
// after one label's text changed, which the solver absorbs incrementally. The "constraints"
// counter is what the solver holds after the layout, the views' own size constraints included.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/Label.h"
#include "platform/uikit/View.h"

namespace {

using namespace uikit;

constexpr int kRows = 125;

struct Screen {
  std::shared_ptr<UIView> root;
  std::vector<std::shared_ptr<UILabel>> titles;
};

std::shared_ptr<UIView> part(const std::shared_ptr<UIView>& parent, std::shared_ptr<UIView> v = nullptr) {
  if (!v) v = std::make_shared<UIView>();
  v->setTranslatesAutoresizingMaskIntoConstraints(false);
  parent->addSubview(v);
  return v;
}

std::shared_ptr<UILabel> label(const std::shared_ptr<UIView>& parent, std::string text) {
  auto l = std::make_shared<UILabel>();
  l->setText(std::move(text));
  part(parent, l);
  return l;
}

Screen buildScreen() {
  Screen s;
  s.root = UIView::create({0, 0, 390, 100000});
  auto table = part(s.root);
  std::vector<std::shared_ptr<NSLayoutConstraint>> all{
      table->leadingAnchor().constraintEqualTo(s.root->leadingAnchor()),
      table->trailingAnchor().constraintEqualTo(s.root->trailingAnchor()),
      table->topAnchor().constraintEqualTo(s.root->topAnchor()),
  };
  std::shared_ptr<UIView> previous;
  for (int row = 0; row < kRows; ++row) {
    auto cell = part(table);
    auto icon = part(cell);
    auto title = label(cell, "Filter list " + std::to_string(row));
    auto subtitle = label(cell, "Blocks ads and trackers on " + std::to_string(row * 7) + " sites");
    auto toggle = part(cell);
    auto download = part(cell);
    auto badge = label(cell, std::to_string(row));
    auto separator = part(cell);
    s.titles.push_back(title);
    auto low = [](std::shared_ptr<NSLayoutConstraint> c, UILayoutPriority p) {
      c->setPriority(p);
      return c;
    };
    std::vector<std::shared_ptr<NSLayoutConstraint>> rowConstraints{
        cell->leadingAnchor().constraintEqualTo(table->leadingAnchor()),
        cell->trailingAnchor().constraintEqualTo(table->trailingAnchor()),
        previous ? cell->topAnchor().constraintEqualTo(previous->bottomAnchor())
                 : cell->topAnchor().constraintEqualTo(table->topAnchor()),
        cell->heightAnchor().constraintGreaterThanOrEqualToConstant(44),
        icon->leadingAnchor().constraintEqualTo(cell->leadingAnchor(), 16),
        icon->centerYAnchor().constraintEqualTo(cell->centerYAnchor()),
        icon->widthAnchor().constraintEqualToConstant(40),
        icon->heightAnchor().constraintEqualToConstant(40),
        icon->topAnchor().constraintGreaterThanOrEqualTo(cell->topAnchor(), 8),
        icon->bottomAnchor().constraintLessThanOrEqualTo(cell->bottomAnchor(), -8),
        title->leadingAnchor().constraintEqualTo(icon->trailingAnchor(), 12),
        title->topAnchor().constraintEqualTo(cell->topAnchor(), 8),
        title->trailingAnchor().constraintLessThanOrEqualTo(badge->leadingAnchor(), -8),
        subtitle->leadingAnchor().constraintEqualTo(title->leadingAnchor()),
        subtitle->topAnchor().constraintEqualTo(title->bottomAnchor(), 4),
        subtitle->trailingAnchor().constraintLessThanOrEqualTo(badge->leadingAnchor(), -8),
        low(subtitle->bottomAnchor().constraintEqualTo(cell->bottomAnchor(), -8), 750),
        toggle->trailingAnchor().constraintEqualTo(cell->trailingAnchor(), -15),
        toggle->centerYAnchor().constraintEqualTo(cell->centerYAnchor()),
        toggle->widthAnchor().constraintEqualToConstant(51),
        toggle->heightAnchor().constraintEqualToConstant(31),
        download->trailingAnchor().constraintEqualTo(toggle->leadingAnchor(), -8),
        download->centerYAnchor().constraintEqualTo(cell->centerYAnchor()),
        download->widthAnchor().constraintEqualToConstant(35),
        download->heightAnchor().constraintEqualTo(download->widthAnchor()),
        badge->trailingAnchor().constraintEqualTo(download->leadingAnchor(), -4),
        badge->centerYAnchor().constraintEqualTo(cell->centerYAnchor()),
        separator->leadingAnchor().constraintEqualTo(title->leadingAnchor()),
        separator->trailingAnchor().constraintEqualTo(cell->trailingAnchor()),
        separator->bottomAnchor().constraintEqualTo(cell->bottomAnchor()),
        separator->heightAnchor().constraintEqualToConstant(0.5),
        title->bottomAnchor().constraintLessThanOrEqualTo(cell->bottomAnchor(), -8),
        subtitle->heightAnchor().constraintGreaterThanOrEqualToConstant(10),
        badge->widthAnchor().constraintGreaterThanOrEqualToConstant(16),
        toggle->topAnchor().constraintGreaterThanOrEqualTo(cell->topAnchor(), 4),
        download->topAnchor().constraintGreaterThanOrEqualTo(cell->topAnchor(), 4),
    };
    all.insert(all.end(), rowConstraints.begin(), rowConstraints.end());
    previous = cell;
  }
  NSLayoutConstraint::activateConstraints(all);
  return s;
}

void BM_LayoutFull(benchmark::State& state) {
  std::size_t constraints = 0, views = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Screen s = buildScreen();
    views = 2 + kRows * 8;
    state.ResumeTiming();
    s.root->layoutIfNeeded();
    benchmark::DoNotOptimize(s.titles.back()->frame());
    state.PauseTiming();
    constraints = s.root->solverConstraintCount();
    s = Screen();
    state.ResumeTiming();
  }
  state.counters["views"] = static_cast<double>(views);
  state.counters["constraints"] = static_cast<double>(constraints);
}
BENCHMARK(BM_LayoutFull)->Unit(benchmark::kMillisecond);

void BM_LayoutAfterLabelChange(benchmark::State& state) {
  Screen s = buildScreen();
  s.root->layoutIfNeeded();
  int flip = 0;
  auto& title = s.titles[kRows / 2];
  for (auto _ : state) {
    title->setText(++flip % 2 ? "A much longer title for this filter list" : "Short");
    s.root->layoutIfNeeded();
    benchmark::DoNotOptimize(title->frame());
  }
}
BENCHMARK(BM_LayoutAfterLabelChange)->Unit(benchmark::kMicrosecond);

}  // namespace
