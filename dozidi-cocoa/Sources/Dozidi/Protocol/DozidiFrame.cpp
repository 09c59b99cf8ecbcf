#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiFrame.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/foundation/TextCase.h"

using foundation::Dictionary;

namespace {

void setIfPresent(Dictionary& result, const char* key, const std::optional<std::string>& text) {
  if (text) result.set(key, *text);
}
void setIfPresent(Dictionary& result, const char* key, const std::optional<foundation::Number>& number) {
  if (number) result.set(key, *number);
}

// The reporter's frames are those of its own image, told by the image's file name: a folder on
// the way (a home folder, a build folder) named after the reporter does not make an app's image
// the reporter's.
bool isSdkFrame(const DozidiFrame& frame) {
  if (!frame.package) return false;
  std::string package = foundation::lowercased(frame.package->substr(frame.package->find_last_of('/') + 1));
  constexpr std::string_view kHomeFolder = "users/dozidi";
  for (auto at = package.find(kHomeFolder); at != std::string::npos; at = package.find(kHomeFolder, at)) {
    package.erase(at, kHomeFolder.size());
  }
  return package.find("dozidi") != std::string::npos;
}

}  // namespace

std::shared_ptr<DozidiFrame> DozidiFrame::create() {
  auto frame = std::shared_ptr<DozidiFrame>(new DozidiFrame());
  frame->function = "<redacted>";
  return frame;
}

Dictionary DozidiFrame::serialize() const {
  Dictionary result;
  setIfPresent(result, "symbol_addr", symbolAddress);
  setIfPresent(result, "filename", fileName);
  setIfPresent(result, "function", function);
  setIfPresent(result, "module", module);
  setIfPresent(result, "lineno", lineNumber);
  setIfPresent(result, "colno", columnNumber);
  setIfPresent(result, "package", package);
  setIfPresent(result, "image_addr", imageAddress);
  setIfPresent(result, "instruction_addr", instructionAddress);
  setIfPresent(result, "platform", platform);
  setIfPresent(result, "in_app", inApp);
  setIfPresent(result, "stack_start", stackStart);
  return result;
}

std::vector<std::shared_ptr<DozidiFrame>> DozidiFrameRemover::removeNonSdkFrames(
    const std::vector<std::shared_ptr<DozidiFrame>>& frames) {
  auto first = std::find_if(frames.begin(), frames.end(), [](const auto& frame) { return !isSdkFrame(*frame); });
  if (first == frames.end()) return frames;
  return {first, frames.end()};
}
