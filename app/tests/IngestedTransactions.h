#pragma once
// The transaction payloads an ingestion server received, for the app's end-to-end tests.
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Value.h"
#include "testing/Gzip.h"
#include "testing/IngestionServer.h"

namespace fendrel::test_support {

/// The transaction payloads among `requests`, in order of arrival: each envelope's line that
/// follows an item header of type "transaction".
inline std::vector<foundation::Value> ingestedTransactions(const std::vector<testing_support::IngestionRequest>& requests) {
  std::vector<foundation::Value> found;
  for (const auto& request : requests) {
    const auto body = request.header("Content-Encoding") == "gzip" ? testing_support::gunzip(request.body)
                                                                    : std::optional(request.body);
    if (!body) continue;
    std::istringstream lines(*body);
    std::string line;
    bool nextIsTransaction = false;
    while (std::getline(lines, line)) {
      auto parsed = foundation::JSONSerialization::JSONObjectWithData(line);
      if (!parsed.ok() || !parsed->dictionary()) continue;
      if (nextIsTransaction) found.push_back(*parsed);
      nextIsTransaction = (*parsed->dictionary())["type"].asString() == "transaction";
    }
  }
  return found;
}

}  // namespace fendrel::test_support
