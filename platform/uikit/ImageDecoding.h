#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/uikit/Image.h"

namespace uikit {

/// Decodes a PNG or JPEG file's bytes into an image of `scale` pixels per point, turned upright
/// by the file's EXIF orientation. Other formats, damaged files and images of more than 64 Mi
/// pixels fail with an error of the toolkit's domain. Any thread.
foundation::Result<std::shared_ptr<UIImage>> decodeImage(std::string_view bytes, double scale = 1.0);

/// Reads and decodes the PNG or JPEG file at `path`.
foundation::Result<std::shared_ptr<UIImage>> readImageFile(const std::string& path, double scale = 1.0);

/// Makes images named in archives decode their bundle's files: "<name>@2x.png" at two pixels per
/// point when the bundle has one, else "<name>.png" at one. A file that does not decode gives no
/// image, as a missing one does. For programs that draw; main thread, before archives load.
void useDecodedArchiveImages();

}  // namespace uikit
