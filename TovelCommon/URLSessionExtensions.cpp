#include "TovelCommon/URLSessionExtensions.h"

#include "platform/foundation/URLSession.h"

namespace tovel {

foundation::Error makeError(URLSessionError code) {
  switch (code) {
    case URLSessionError::DataIsNil:
      return foundation::Error::withDescription(kURLSessionErrorDomain, static_cast<std::int64_t>(code),
                                                "cannot load the URL: the answer has no data");
    case URLSessionError::FailedHTTPStatusCode:
      return foundation::Error::withDescription(kURLSessionErrorDomain, static_cast<std::int64_t>(code),
                                                "cannot load the URL: the HTTP status is not a success");
  }
  return foundation::Error(kURLSessionErrorDomain, static_cast<std::int64_t>(code));
}

bool isSuccessStatusCode(const foundation::HTTPURLResponse& response) {
  return response.statusCode() >= 200 && response.statusCode() <= 299;
}

std::shared_ptr<foundation::URLSessionDataTask> dataTask(foundation::URLSession& session, const foundation::URL& url,
                                                         foundation::URLRequestCachePolicy cachePolicy,
                                                         double timeout, DataTaskResultCompletion completion) {
  foundation::URLRequest request(url, cachePolicy, timeout);
  return session.dataTask(
      request, [request, url, completion = std::move(completion)](std::optional<foundation::Data> data,
                                                                  std::shared_ptr<foundation::URLResponse> response,
                                                                  std::optional<foundation::Error> error) {
        if (error) return completion(std::move(*error));
        if (!data) return completion(makeError(URLSessionError::DataIsNil));
        DataWithBaggage baggage{std::move(*data), request, response};
        if (!url.isFileURL()) {
          auto http = std::dynamic_pointer_cast<foundation::HTTPURLResponse>(response);
          if (!http || !isSuccessStatusCode(*http)) return completion(makeError(URLSessionError::FailedHTTPStatusCode));
        }
        completion(std::move(baggage));
      });
}

}  // namespace tovel
