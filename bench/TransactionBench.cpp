// Starts a transaction, starts and finishes 100 child spans under it, finishes it and writes the
// transaction as JSON text the way an envelope item does: the tracer's whole road for one
// transaction. Beside it, the same road with the text written from the transaction's whole
// dictionary, and the reference, which builds a dictionary of the same shape by hand and writes
// it: what the serialisation through a dictionary alone costs. All run in the same process,
// interleaved; each is repeated, and min, median and max of the per-transaction time are printed.
//
// Run: build/release/bench/TransactionBench   (the goal is under 100 us per transaction)

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/Repetitions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransaction.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"

namespace {

using foundation::Array;
using foundation::Dictionary;

constexpr int kChildren = 100;

enum class Writing { Direct, ThroughDictionary };

void runTransactions(benchmark::State& state, Writing writing) {
  // A hub without a client: the tracer builds its transaction and hands it over, nothing is sent.
  auto hub = DozidiHub::initWithClient(nullptr, nullptr);
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto context = DozidiTransactionContext::initWithName("Checkout", "ui.load", DozidiSampleDecision::Yes);
    auto tracer = DozidiTracer::initWithTransactionContext(context, hub);
    for (int i = 0; i < kChildren; ++i) {
      auto child = tracer->startChildWithOperation("db.query", "SELECT * FROM rules WHERE id = ?");
      child->setDataValue(i, "row");
      child->finish();
    }
    tracer->finish();
    auto transaction = DozidiTransaction::initWithTrace(tracer, tracer->children());
    auto text = writing == Writing::Direct ? transaction->jsonData(nullptr)
                                           : DozidiSerialization::dataWithJSONObject(transaction->serialize(), nullptr);
    bytes = text ? text->size() : 0;
    benchmark::DoNotOptimize(bytes);
  }
  if (bytes == 0) state.SkipWithError("the transaction did not serialise");
  state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_TransactionWith100Spans(benchmark::State& state) { runTransactions(state, Writing::Direct); }

void BM_TransactionWith100SpansThroughDictionary(benchmark::State& state) {
  runTransactions(state, Writing::ThroughDictionary);
}

void BM_ReferenceSameDictionaryByHand(benchmark::State& state) {
  for (auto _ : state) {
    Array spans;
    spans.reserve(kChildren);
    for (int i = 0; i < kChildren; ++i) {
      spans.push_back(Dictionary{{"type", "trace"},
                                 {"span_id", "0123456789abcdef"},
                                 {"trace_id", "0123456789abcdef0123456789abcdef"},
                                 {"op", "db.query"},
                                 {"sampled", "true"},
                                 {"description", "SELECT * FROM rules WHERE id = ?"},
                                 {"parent_span_id", "fedcba9876543210"},
                                 {"status", "ok"},
                                 {"timestamp", 1'700'000'000.5 + i},
                                 {"start_timestamp", 1'700'000'000.25 + i},
                                 {"data", Dictionary{{"row", i}}}});
    }
    Dictionary transaction{{"event_id", "0123456789abcdef0123456789abcdef"},
                           {"timestamp", 1'700'000'001.0},
                           {"platform", "cocoa"},
                           {"type", "transaction"},
                           {"start_timestamp", 1'700'000'000.0},
                           {"spans", std::move(spans)},
                           {"contexts", Dictionary{{"trace", Dictionary{{"type", "trace"}, {"op", "ui.load"}}}}},
                           {"tags", Dictionary()},
                           {"extra", Dictionary()},
                           {"transaction", "Checkout"},
                           {"transaction_info", Dictionary{{"source", "custom"}}}};
    auto text = DozidiSerialization::dataWithJSONObject(transaction, nullptr);
    benchmark::DoNotOptimize(text ? text->size() : 0);
  }
}

BENCHMARK(BM_TransactionWith100Spans)->Apply(bench::minMedianMax);
BENCHMARK(BM_TransactionWith100SpansThroughDictionary)->Apply(bench::minMedianMax);
BENCHMARK(BM_ReferenceSameDictionaryByHand)->Apply(bench::minMedianMax);

}  // namespace

// Repetitions of the two benchmarks alternate, so that both see the same machine load.
int main(int argc, char** argv) { return bench::runInterleaved(argc, argv); }
