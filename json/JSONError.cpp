#include "json/JSONError.h"

#include "platform/foundation/Error.h"

namespace json {

std::optional<JSONError> jsonErrorFromRawValue(std::int64_t rawValue) {
  switch (rawValue) {
    case 999: return JSONError::UnsupportedType;
    case 900: return JSONError::IndexOutOfBounds;
    case 902: return JSONError::ElementTooDeep;
    case 901: return JSONError::WrongType;
    case 500: return JSONError::NotExist;
    case 490: return JSONError::InvalidJSON;
    default: return std::nullopt;
  }
}

std::string localizedDescription(JSONError error) {
  switch (error) {
    case JSONError::UnsupportedType: return "It is an unsupported type.";
    case JSONError::IndexOutOfBounds: return "Array Index is out of bounds.";
    case JSONError::ElementTooDeep:
      return "Element too deep. Increase maxObjectDepth and make sure there is no reference loop.";
    case JSONError::WrongType: return "Couldn't merge, because the JSONs differ in type on top level.";
    case JSONError::NotExist: return "Dictionary key does not exist.";
    case JSONError::InvalidJSON: return "JSON is invalid.";
  }
  return "";
}

foundation::Dictionary errorUserInfo(JSONError error) {
  return foundation::Dictionary{{foundation::kLocalizedDescriptionKey, localizedDescription(error)}};
}

foundation::Error toError(JSONError error) {
  return foundation::Error(kJSONErrorDomain, errorCode(error), errorUserInfo(error));
}

}  // namespace json
