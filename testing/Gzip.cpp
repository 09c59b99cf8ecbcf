#include "testing/Gzip.h"

#include <zlib.h>

namespace testing_support {

std::optional<std::string> gunzip(std::string_view bytes) {
  z_stream stream{};
  if (inflateInit2(&stream, 31) != Z_OK) return std::nullopt;
  std::string out;
  char buffer[65536];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END || stream.avail_in != 0) return std::nullopt;
  return out;
}

}  // namespace testing_support
