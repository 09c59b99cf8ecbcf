// Transactions started and sent through the hub: what the stored envelope holds, what sampling
// drops, and one upload to the loopback ingestion server.
#include <gtest/gtest.h>

#include <chrono>

#include "PerformanceTracerFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransaction.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "testing/Gzip.h"
#include "testing/IngestionServer.h"

namespace {

using foundation::Dictionary;
using foundation::Value;
using namespace performance_test;
using namespace std::chrono_literals;

class PerformanceHubTests : public TracerFixture {};

TEST_F(PerformanceHubTests, SampledTransactionIsStoredAsOneTransactionItemWithItsTrace) {
  auto tracer = hub->startTransactionWithName("Checkout", DozidiTransactionNameSource::View, "ui.load", true);
  EXPECT_EQ(hub->scope()->span(), tracer) << "bound to the scope";
  auto first = tracer->startChildWithOperation("first");
  clock->advance(0.1);
  auto second = first->startChildWithOperation("second", "nested");
  clock->advance(0.1);
  second->finish();
  first->finish();
  clock->advance(0.1);
  tracer->finish();
  EXPECT_FALSE(hub->scope()->span()) << "a finished transaction leaves the scope";

  const auto envelopes = transport->envelopes();
  ASSERT_EQ(envelopes.size(), 1u);
  ASSERT_EQ(envelopes[0]->items().size(), 1u);
  EXPECT_EQ(envelopes[0]->items()[0]->header().type, "transaction");
  const auto header = envelopes[0]->header().traceContext();
  ASSERT_TRUE(header);
  EXPECT_EQ(header->publicKey(), kPublicKey);
  EXPECT_EQ(header->traceId(), tracer->context()->traceId());
  EXPECT_EQ(header->sampleRate(), "1");

  const auto sent = sentTransactions();
  ASSERT_EQ(sent.size(), 1u);
  const auto& t = sent[0];
  EXPECT_EQ(t["type"].asString(), "transaction");
  EXPECT_EQ(t["transaction"].asString(), "Checkout");
  EXPECT_EQ(t["transaction_info"]["source"].asString(), "view");
  const auto& trace = t["contexts"]["trace"];
  EXPECT_EQ(trace["span_id"].asString(), tracer->context()->spanId().value());
  EXPECT_EQ(trace["trace_id"].asString(), tracer->context()->traceId().dozidiIdString());
  EXPECT_EQ(trace["op"].asString(), "ui.load");
  EXPECT_EQ(trace["status"].asString(), "ok");
  EXPECT_EQ(trace["sampled"].asString(), "true");
  const auto& spans = *t["spans"].array();
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0]["op"].asString(), "first") << "children in start order";
  EXPECT_EQ(spans[1]["op"].asString(), "second");
  EXPECT_EQ(spans[1]["parent_span_id"], spans[0]["span_id"]);
  EXPECT_EQ(spans[1]["trace_id"], trace["trace_id"]);
  EXPECT_LE(t["start_timestamp"].asDouble(), t["timestamp"].asDouble());
  EXPECT_NEAR(*t["timestamp"].asDouble() - *t["start_timestamp"].asDouble(), 0.3, 1e-6);
}

TEST_F(PerformanceHubTests, UnsampledTransactionIsCountedAsLostAndNotStored) {
  options->setTracesSampleRate(0.0);
  DozidiDependencyContainer::sharedInstance()->setRandom(TestRandom::returning(0.5));
  hub = DozidiHub::initWithClient(hub->getClient(), nullptr);
  DozidiDependencyContainer::reset();
  auto tracer = hub->startTransactionWithName("Checkout", "ui.load");
  EXPECT_EQ(tracer->context()->sampled(), DozidiSampleDecision::No);
  EXPECT_EQ(tracer->transactionContext()->sampleRate(), 0.0);
  tracer->startChildWithOperation("child")->finish();
  tracer->finish();
  EXPECT_TRUE(transport->envelopes().empty());
  const auto lost = transport->lostEvents();
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].first, DozidiDataCategory::Transaction);
  EXPECT_EQ(lost[0].second, DozidiDiscardReason::SampleRate);
}

TEST_F(PerformanceHubTests, EventsOfATracedScopeCarryTheTraceInTheirHeader) {
  auto tracer = hub->startTransactionWithName("Checkout", "ui.load", true);
  hub->captureMessage("inside");
  const auto envelopes = transport->envelopes();
  ASSERT_EQ(envelopes.size(), 1u);
  ASSERT_TRUE(envelopes[0]->header().traceContext());
  EXPECT_EQ(envelopes[0]->header().traceContext()->transaction(), "Checkout");
  tracer->finish();  // leaves the scope, which holds it
}

class PerformanceUploadTests : public foundation::test_support::TemporaryDeviceRoot {};

TEST_F(PerformanceUploadTests, TransactionReachesTheIngestionServer) {
  testing_support::IngestionServer server;
  auto options = DozidiOptions::create();
  options->setDsn(server.dsn(kPublicKey, "/42"));
  options->setTracesSampleRate(1.0);
  auto hub = DozidiHub::initWithClient(DozidiClient::initWithOptions(options), nullptr);
  auto tracer = hub->startTransactionWithName("Upload", "task");
  tracer->startChildWithOperation("child")->finish();
  tracer->finish();
  EXPECT_TRUE(hub->getClient()->flush(30));
  ASSERT_TRUE(server.waitForRequests(1, 30s));
  const auto request = server.requests()[0];
  auto envelope = DozidiSerialization::envelopeWithData(testing_support::gunzip(request.body).value_or(""));
  ASSERT_TRUE(envelope);
  ASSERT_EQ(envelope->items().size(), 1u);
  EXPECT_EQ(envelope->items()[0]->header().type, "transaction");
  ASSERT_TRUE(envelope->header().traceContext());
  EXPECT_EQ(envelope->header().traceContext()->publicKey(), kPublicKey);
  EXPECT_EQ(envelope->header().traceContext()->traceId(), tracer->context()->traceId());
}

}  // namespace
