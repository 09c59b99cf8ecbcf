#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiTransportFactory.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiHttpTransport.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiNSURLRequestBuilder.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiReachability.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiRequestManager.h"
#include "platform/foundation/URLSession.h"

std::shared_ptr<DozidiTransport> DozidiTransportFactory::initTransport(
    std::shared_ptr<DozidiOptions> options, std::shared_ptr<DozidiFileManager> dozidiFileManager) {
  auto session = foundation::URLSession::create(foundation::URLSessionConfiguration::ephemeralSessionConfiguration(),
                                                options->urlSessionDelegate.lock());
  auto requestManager = DozidiQueueableRequestManager::initWithSession(std::move(session));
  DozidiHttpDateParser httpDateParser;
  DozidiRetryAfterHeaderParser retryAfterHeaderParser(httpDateParser);
  DozidiRateLimitParser rateLimitParser;
  auto rateLimits = std::make_shared<DozidiDefaultRateLimits>(retryAfterHeaderParser, rateLimitParser);
  auto envelopeRateLimit = std::make_shared<DozidiEnvelopeRateLimit>(rateLimits);
  // Uploads are background work; the queue's priority has no counterpart here.
  auto dispatchQueueWrapper = DozidiDispatchQueueWrapper::initWithName("dozidi-http-transport");
  auto requestBuilder = std::make_shared<DozidiNSURLRequestBuilder>();
  auto reachability = DozidiReachability::create();
  return DozidiHttpTransport::initWithOptions(std::move(options), std::move(dozidiFileManager),
                                              std::move(requestManager), std::move(requestBuilder),
                                              std::move(rateLimits), std::move(envelopeRateLimit),
                                              std::move(dispatchQueueWrapper), std::move(reachability));
}
