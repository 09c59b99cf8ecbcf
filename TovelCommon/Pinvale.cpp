#include "TovelCommon/Pinvale.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceFacts.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/URLRequest.h"
#include "platform/foundation/URLSession.h"
#include "platform/foundation/UTF8.h"

namespace tovel {
namespace {

using foundation::Value;

/// The track endpoint of the analytics service.
constexpr const char* kDefaultEndpoint = "https://api.pinvale.invalid/track/";

/// Screen points truncated to an unsigned integer; what cannot be one reads 0.
std::uint64_t truncatedPoints(double points) {
  if (!std::isfinite(points) || points <= 0) return 0;
  if (points >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(points);
}

}  // namespace

std::string Pinvale::defaultEndpoint() {
  static const std::string endpoint = [] {
    const char* override = std::getenv("FENDREL_ANALYTICS_ENDPOINT");
    return std::string(override && *override ? override : kDefaultEndpoint);
  }();
  return endpoint;
}

Pinvale::Pinvale(std::string token, std::optional<std::string> distinctId,
                 std::shared_ptr<foundation::URLSession> session)
    : token(std::move(token)), session(std::move(session)), distinctId(std::move(distinctId)) {}

std::unique_ptr<InternalAnalyticsHandler> Pinvale::clone() const { return std::make_unique<Pinvale>(*this); }

void Pinvale::setDistinctId(std::string id) { distinctId = std::move(id); }

std::optional<std::string> Pinvale::deviceModel() {
  std::string machine = foundation::DeviceFacts::current().machine;
  // The kernel's answer ends at its first zero byte.
  if (auto zero = machine.find('\0'); zero != std::string::npos) machine.resize(zero);
  if (!foundation::isValidUTF8(machine)) return std::nullopt;
  return machine;
}

foundation::Dictionary Pinvale::superProperties() {
  const foundation::DeviceFacts facts = foundation::DeviceFacts::current();
  const auto bundle = foundation::Bundle::main();
  foundation::Dictionary properties;
  properties.set("$manufacturer", "Apple");
  if (bundle) {
    if (auto version = bundle->object("CFBundleVersion").asString()) properties.set("$app_version", *version);
    if (auto release = bundle->object("CFBundleShortVersionString").asString())
      properties.set("$app_release", *release);
  }
  if (auto model = deviceModel()) properties.set("$model", *model);
  properties.set("mp_lib", "iphone");
  properties.set("$os", facts.systemName);
  properties.set("$os_version", facts.systemVersion);
  properties.set("$screen_width", truncatedPoints(facts.screen.width));
  properties.set("$screen_height", truncatedPoints(facts.screen.height));
  return properties;
}

std::string Pinvale::trackURLText(std::string_view jsonBody) const {
  std::string base64 = foundation::base64EncodedString(jsonBody);
  std::erase(base64, '\n');
  // The Base64 text goes into the query as it is: the service reads "+", "/" and "=" literally.
  return endpoint + "?data=" + base64 + "&ip=1";
}

void Pinvale::track(std::string_view event, const std::optional<foundation::Dictionary>& properties,
                    foundation::Date date, Completion completion) const {
  auto fail = [&completion] {
    if (completion) completion(false);
  };
  if (!enabled) return fail();

  foundation::Dictionary merged = superProperties();
  if (properties) {
    for (const auto& [key, value] : *properties) merged.set(key, value);
  }
  merged.set("token", token);
  merged.set("time", date.timeIntervalSince1970());
  if (distinctId) merged.set("distinct_id", *distinctId);

  const foundation::Dictionary body{{"event", Value(event)}, {"properties", Value(std::move(merged))}};
  auto json = foundation::JSONSerialization::dataWithJSONObject(Value(body));
  if (!json) return fail();
  auto url = foundation::URL::parse(trackURLText(*json));
  if (!url) return fail();

  auto target = session ? session : foundation::URLSession::shared();
  foundation::URLRequest request(*url, foundation::URLRequestCachePolicy::UseProtocolCachePolicy, kRequestTimeout);
  auto task = target->dataTask(request, [completion](std::optional<foundation::Data>,
                                                     std::shared_ptr<foundation::URLResponse> response,
                                                     std::optional<foundation::Error> error) {
    if (!completion) return;
    auto http = std::dynamic_pointer_cast<foundation::HTTPURLResponse>(response);
    completion(!error && http && http->statusCode() == 200);
  });
  task->resume();
}

}  // namespace tovel
