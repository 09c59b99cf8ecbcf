#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiTraceContext.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiUserFeedback.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiTransportAdapter.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"

namespace {

struct RecordingTransport : DozidiTransport {
  std::vector<std::shared_ptr<const DozidiEnvelope>> envelopes;
  std::vector<std::pair<DozidiDataCategory, DozidiDiscardReason>> lost;
  std::vector<double> flushes;
  void sendEnvelope(std::shared_ptr<const DozidiEnvelope> envelope) override { envelopes.push_back(envelope); }
  void recordLostEvent(DozidiDataCategory category, DozidiDiscardReason reason) override {
    lost.emplace_back(category, reason);
  }
  bool flush(double timeout) override {
    flushes.push_back(timeout);
    return true;
  }
};

std::vector<std::string> types(const DozidiEnvelope& envelope) {
  std::vector<std::string> all;
  for (const auto& item : envelope.items()) all.push_back(item->header().type + ":" + item->header().filename.value_or(""));
  return all;
}

class ReporterTransportAdapterTests : public foundation::test_support::TemporaryDeviceRoot {
 protected:
  void SetUp() override {
    TemporaryDeviceRoot::SetUp();
    options->maxAttachmentSize = 4;
  }
  std::shared_ptr<RecordingTransport> transport = std::make_shared<RecordingTransport>();
  std::shared_ptr<DozidiOptions> options = DozidiOptions::create();
  DozidiTransportAdapter adapter{transport, options};
  DozidiAttachments attachments{DozidiAttachment::initWithData(foundation::Data("12345"), "big.bin"),
                                DozidiAttachment::initWithData(foundation::Data("1234"), "small.bin")};
};

TEST_F(ReporterTransportAdapterTests, EventEnvelopesKeepTheItemOrderAndLeaveOutOversizedAttachments) {
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
  const auto extra = std::make_shared<const DozidiEnvelopeItem>(
      DozidiEnvelopeItemHeader{"profile", 2, std::nullopt, std::nullopt}, foundation::Data("{}"));
  adapter.sendEvent(*event, attachments, nullptr, {extra});
  auto session = DozidiSession::initWithReleaseName("1.0");
  const auto trace = std::make_shared<const DozidiTraceContext>(DozidiId(), "key", std::nullopt, std::nullopt,
                                                                std::nullopt, std::nullopt, std::nullopt);
  adapter.sendEvent(*event, *session, attachments, trace);

  ASSERT_EQ(transport->envelopes.size(), 2u);
  const auto& plain = *transport->envelopes[0];
  EXPECT_EQ(types(plain), (std::vector<std::string>{"event:", "attachment:small.bin", "profile:"}));
  EXPECT_EQ(plain.header().eventId(), event->eventId);
  EXPECT_FALSE(plain.header().traceContext());
  const auto& withSession = *transport->envelopes[1];
  EXPECT_EQ(types(withSession), (std::vector<std::string>{"event:", "attachment:small.bin", "session:"}));
  EXPECT_EQ(withSession.header().traceContext(), trace);
}

TEST_F(ReporterTransportAdapterTests, FeedbackAndPassThroughs) {
  const auto feedback = DozidiUserFeedback::initWithEventId(DozidiId());
  adapter.sendUserFeedback(*feedback);
  ASSERT_EQ(transport->envelopes.size(), 1u);
  EXPECT_EQ(types(*transport->envelopes[0]), (std::vector<std::string>{"user_report:"}));
  EXPECT_EQ(transport->envelopes[0]->header().eventId(), feedback->eventId());

  adapter.recordLostEvent(DozidiDataCategory::Error, DozidiDiscardReason::SampleRate);
  EXPECT_EQ(transport->lost.size(), 1u);
  EXPECT_TRUE(adapter.flush(2.5));
  EXPECT_EQ(transport->flushes, std::vector<double>{2.5});
}

}  // namespace
