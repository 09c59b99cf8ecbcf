#include "platform/uikit/ImageDecoding.h"

#include <optional>
#include <utility>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/UIKitError.h"
#include "platform/uikit/detail/CairoDrawing.h"
#include "platform/uikit/detail/Pixbuf.h"

// Decoding goes through gdk-pixbuf: the GNOME image loader that GTK already brings, kept up to
// date by Debian's security team, with libpng and libjpeg-turbo behind it and EXIF orientation
// support in its JPEG loader. The loader is picked by the file's signature, never by guessing, so
// only those two well-worn decoders ever see outside bytes.

namespace uikit {
namespace {

struct Unref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, Unref>;

const char* loaderFor(std::string_view bytes) {
  if (bytes.size() >= 8 && bytes.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8)) return "png";
  if (bytes.size() >= 3 && bytes.substr(0, 3) == std::string_view("\xff\xd8\xff", 3)) return "jpeg";
  return nullptr;
}

std::uint32_t bigEndian(std::string_view bytes, std::size_t at, int count) {
  std::uint32_t v = 0;
  for (int i = 0; i < count; ++i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

/// What a file's headers declare, read before any decoder sees it.
struct Declared {
  std::uint32_t width = 0, height = 0;
  /// Where the image data starts; the end marker must come after it.
  std::size_t dataStart = 0;
};

std::optional<Declared> readPNGHeader(std::string_view bytes) {
  if (bytes.size() < 33 || bytes.substr(12, 4) != "IHDR") return std::nullopt;
  return Declared{bigEndian(bytes, 16, 4), bigEndian(bytes, 20, 4), 33};
}

/// Walks the JPEG's marker segments to its frame header (the size) and its first scan (the data).
std::optional<Declared> readJPEGHeader(std::string_view bytes) {
  std::optional<Declared> found;
  std::size_t at = 2;
  while (at + 4 <= bytes.size()) {
    if (static_cast<unsigned char>(bytes[at]) != 0xFF) return std::nullopt;
    unsigned marker = static_cast<unsigned char>(bytes[at + 1]);
    if (marker == 0xFF) { ++at; continue; }  // fill byte
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { at += 2; continue; }
    if (marker == 0xD9) return std::nullopt;
    std::uint32_t length = bigEndian(bytes, at + 2, 2);
    if (marker == 0xDA) {
      if (found) found->dataStart = at + 2 + length;
      return found;
    }
    bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame && !found) {
      if (at + 9 > bytes.size()) return std::nullopt;
      found = Declared{bigEndian(bytes, at + 7, 2), bigEndian(bytes, at + 5, 2), 0};
    }
    at += 2 + length;
  }
  return std::nullopt;
}

/// The loaders hand back whatever rows arrived when a file stops early, which would show a cut
/// image as if it were whole; a file without its end marker after its data is refused instead.
/// (Inside JPEG scan data a marker byte is always escaped, so the end marker cannot appear by
/// chance; an embedded thumbnail's end marker lies before the main scan.)
bool hasEnd(std::string_view bytes, std::string_view type, std::size_t dataStart) {
  if (type == "png") return bytes.find(std::string_view("\0\0\0\0IEND\xae\x42\x60\x82", 12), dataStart) != std::string_view::npos;
  return bytes.find(std::string_view("\xff\xd9", 2), dataStart) != std::string_view::npos;
}

std::string messageOf(GError* error) {
  std::string text = error && error->message ? error->message : "unknown reason";
  if (error) g_error_free(error);
  return text;
}

}  // namespace

std::shared_ptr<CGImage> detail::bitmapOfPixbuf(const GdkPixbuf* pixbuf) {
  auto image = std::make_shared<CGImage>();
  image->width = gdk_pixbuf_get_width(pixbuf);
  image->height = gdk_pixbuf_get_height(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf), stride = gdk_pixbuf_get_rowstride(pixbuf);
  const bool hasAlpha = gdk_pixbuf_get_has_alpha(pixbuf);
  const guchar* data = gdk_pixbuf_read_pixels(pixbuf);
  image->pixels.resize(static_cast<std::size_t>(image->width) * image->height);
  for (int y = 0; y < image->height; ++y) {
    const guchar* row = data + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < image->width; ++x) {
      const guchar* p = row + static_cast<std::ptrdiff_t>(x) * channels;
      std::uint32_t a = hasAlpha ? p[3] : 255;
      auto pre = [a](guchar c) { return static_cast<std::uint32_t>((c * a + 127) / 255); };
      image->pixels[static_cast<std::size_t>(y) * image->width + x] = a << 24 | pre(p[0]) << 16 | pre(p[1]) << 8 | pre(p[2]);
    }
  }
  return image;
}

foundation::Result<std::shared_ptr<UIImage>> decodeImage(std::string_view bytes, double scale) {
  const char* type = loaderFor(bytes);
  if (!type) return makeUIKitError(UIKitError::ImageUnsupportedFormat, "unknown signature");
  auto declared = std::string_view(type) == "png" ? readPNGHeader(bytes) : readJPEGHeader(bytes);
  if (!declared) return makeUIKitError(UIKitError::ImageDecoding, "no image header in the file");
  // A small file can declare billions of pixels: the size is checked before a decoder allocates.
  if (static_cast<double>(declared->width) * declared->height > detail::kMaxBitmapPixels ||
      declared->width > detail::kMaxBitmapSide || declared->height > detail::kMaxBitmapSide)
    return makeUIKitError(UIKitError::ImageTooLarge, "more than 64 Mi pixels");
  if (!hasEnd(bytes, type, declared->dataStart)) return makeUIKitError(UIKitError::ImageDecoding, "the file ends early");
  GError* error = nullptr;
  GObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new_with_type(type, &error));
  if (!loader) return makeUIKitError(UIKitError::ImageDecoding, messageOf(error));
  bool written = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), &error);
  // The loader must be closed even after a failed write; a second error is dropped.
  bool closed = gdk_pixbuf_loader_close(loader.get(), written ? &error : nullptr);
  if (!written || !closed) return makeUIKitError(UIKitError::ImageDecoding, messageOf(error));
  GdkPixbuf* decoded = gdk_pixbuf_loader_get_pixbuf(loader.get());
  if (!decoded) return makeUIKitError(UIKitError::ImageDecoding, "no image in the file");
  GObjectPtr<GdkPixbuf> upright(gdk_pixbuf_apply_embedded_orientation(decoded));
  if (!upright) return makeUIKitError(UIKitError::ImageDecoding, "cannot apply the orientation");
  return UIImage::createWithCGImage(detail::bitmapOfPixbuf(upright.get()), scale);
}

foundation::Result<std::shared_ptr<UIImage>> readImageFile(const std::string& path, double scale) {
  auto data = foundation::FileManager::defaultManager().readFile(path);
  if (!data) return data.error();
  return decodeImage(data->view(), scale);
}

void useDecodedArchiveImages() {
  setArchiveImageLoader([](const std::string& name, const std::shared_ptr<const foundation::Bundle>& bundle) {
    std::shared_ptr<UIImage> none;
    if (!bundle) return none;
    for (auto [suffix, scale] : {std::pair<const char*, double>{"@2x", 2.0}, {"", 1.0}}) {
      auto path = bundle->path(name + suffix, "png");
      if (!path) continue;
      auto image = readImageFile(*path, scale);
      return image ? *image : none;
    }
    return none;
  });
}

}  // namespace uikit
