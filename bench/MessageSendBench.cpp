// A message send through the runtime's method table against a direct C++ virtual call, run side
// by side in the same process and alternating. The receiver is an app-style subclass two levels
// below the class that has the method, so the send walks the class chain as an app controller's
// lifecycle send does; the table's implementation calls the same virtual function the reference
// calls. Each side makes 1,000,000 calls per sample: the printed milliseconds per sample
// (min, median, max) read as nanoseconds per call.
//
// Run: build/release/bench/MessageSendBench   (the goal is under 20 ns per send)

#include <benchmark/benchmark.h>

#include "bench/SideBySide.h"
#include "platform/runtime/Methods.h"

namespace {

constexpr int kCallsPerSample = 1'000'000;

class Controller : public runtime::Object {
 public:
  virtual void tick(int amount) { total_ += amount; }
  long total() const { return total_; }

 private:
  long total_ = 0;
};
class AppController : public Controller {
 public:
  void tick(int amount) override { Controller::tick(amount + 1); }
};
class DetailController : public AppController {};

}  // namespace

RUNTIME_CLASS(Controller, runtime::Object, "Bench.Controller");
RUNTIME_CLASS(AppController, Controller, "Bench.AppController");
RUNTIME_CLASS(DetailController, AppController, "Bench.DetailController");

namespace {

void BM_MessageSendVersusVirtualCall(benchmark::State& state) {
  runtime::SEL tick = runtime::sel_registerName("tick:");
  runtime::class_addMethod(runtime::classOf<Controller>(), tick,
                           runtime::imp_implementationWithBlock<void(int)>(
                               [](runtime::Object* self, int amount) { static_cast<Controller*>(self)->tick(amount); }));
  DetailController receiver;
  Controller* direct = &receiver;
  benchmark::DoNotOptimize(direct);
  bench::runSideBySide(state, {{"send",
                                [&] {
                                  for (int i = 0; i < kCallsPerSample; ++i) runtime::msgSend<void(int)>(&receiver, tick, i);
                                  return std::string();
                                }},
                               {"virtual", [&] {
                                  for (int i = 0; i < kCallsPerSample; ++i) {
                                    benchmark::DoNotOptimize(direct);
                                    direct->tick(i);
                                  }
                                  return std::string();
                                }}});
  benchmark::DoNotOptimize(receiver.total());
}
BENCHMARK(BM_MessageSendVersusVirtualCall)->Iterations(30)->Unit(benchmark::kMillisecond);

}  // namespace
