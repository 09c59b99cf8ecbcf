#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/URLRequest.h"
#include "platform/foundation/URLResponse.h"

namespace foundation {
class URLSession;
class URLSessionDataTask;
}  // namespace foundation

namespace tovel {

/// Domain of the failures the data-task wrapper adds to the transport's own (URLSession.Error).
inline constexpr const char* kURLSessionErrorDomain = "TovelCommon.URLSession.Error";

/// Codes in kURLSessionErrorDomain.
enum class URLSessionError : std::int64_t {
  DataIsNil = 0,             ///< the task ended without error but without data
  FailedHTTPStatusCode = 1,  ///< the response is not an HTTP response with a status from 200 to 299
};

foundation::Error makeError(URLSessionError code);

/// What a successful data task received: the body, the request that was sent and the response.
struct DataWithBaggage {
  foundation::Data data;
  foundation::URLRequest request;
  std::shared_ptr<foundation::URLResponse> response;  ///< null when there was none
};

using DataTaskResultCompletion = std::function<void(foundation::Result<DataWithBaggage>)>;

/// A data task (not started: the caller resumes it) for a GET of `url` that reports one result,
/// exactly once, on the session's queue: the transport's error, DataIsNil, or for any URL other
/// than a file URL FailedHTTPStatusCode unless the response is HTTP with a status from 200 to 299.
/// An empty body is data, not missing data.
std::shared_ptr<foundation::URLSessionDataTask> dataTask(foundation::URLSession& session, const foundation::URL& url,
                                                         foundation::URLRequestCachePolicy cachePolicy,
                                                         double timeout, DataTaskResultCompletion completion);

/// True exactly when the status code is from 200 to 299.
bool isSuccessStatusCode(const foundation::HTTPURLResponse& response);

}  // namespace tovel
