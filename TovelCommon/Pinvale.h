#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "TovelCommon/Analytics.h"
#include "platform/foundation/Value.h"

namespace foundation {
class URLSession;
}

namespace tovel {

/// The Pinvale client: the event sink that turns each event into one GET request to the track
/// endpoint, "<endpoint>?data=<Base64 of {"event", "properties"}>&ip=1". No queue, no batching, no
/// retry: an event is sent at once or lost. A value type; each call works on its own copy.
struct Pinvale final : InternalAnalyticsHandler {
  bool enabled = true;
  std::string token;
  std::shared_ptr<foundation::URLSession> session;
  std::string endpoint = defaultEndpoint();
  std::optional<std::string> distinctId;

  /// The track endpoint without query: the app's host and "/track/", or FENDREL_ANALYTICS_ENDPOINT.
  static std::string defaultEndpoint();
  /// Time-out of one track request, in seconds.
  static constexpr double kRequestTimeout = 60.0;

  Pinvale() = default;
  Pinvale(std::string token, std::optional<std::string> distinctId, std::shared_ptr<foundation::URLSession> session);

  std::unique_ptr<InternalAnalyticsHandler> clone() const override;
  void setDistinctId(std::string distinctId) override;
  /// Merges the event's properties over superProperties(), forces "token", "time" (seconds since
  /// 1970 with fraction) and "distinct_id" (when set), and starts the request. `completion` gets
  /// false at once when nothing is sent, else true exactly for an HTTP 200 answer, on the session's
  /// queue.
  void track(std::string_view event, const std::optional<foundation::Dictionary>& properties,
             foundation::Date date, Completion completion = {}) const override;

  /// The device and app properties sent with every event, gathered afresh on each call.
  static foundation::Dictionary superProperties();
  /// The hardware machine name.
  static std::optional<std::string> deviceModel();
  /// The request URL text for an event body (the JSON text of {"event", "properties"}).
  std::string trackURLText(std::string_view jsonBody) const;
};

}  // namespace tovel
