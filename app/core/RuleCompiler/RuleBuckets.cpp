#include "app/core/RuleCompiler/RuleBuckets.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "json/JSON.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/SystemCalls.h"

namespace fendrel {
namespace {

constexpr std::string_view kBucketNames[kRuleBucketCount] = {"block", "css-display-none", "ignore-previous-rules"};

/// Bytes a bucket gathers before they go to its file. Large enough that writes cost few system
/// calls (a rule is about 150 bytes), small enough that three of them stay far below the size of a
/// list.
constexpr std::size_t kStreamBufferBytes = 64 * 1024;

/// An anonymous file in `folder` for a bucket that comes later in the rule file: it has no name,
/// so nothing is left behind whatever happens to the process. -1 and errno when none can be made.
int anonymousFile(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // A file system without anonymous files: a named one, unlinked at once.
  std::string path = folder + "/.rules.XXXXXX";
  fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(path.c_str());
  return fd;
}

/// Room a bucket's buffer is made with: a rule that fits in what is left above the flush
/// threshold is appended without the buffer growing.
constexpr std::size_t kStreamBufferCapacity = kStreamBufferBytes + kStreamBufferBytes / 4;

/// The buffers of finished compilations, kept for the next one, so that each compilation writes
/// into memory already touched rather than into fresh pages, and none is unmapped when a
/// compilation ends. At most one compilation's worth is kept; the pool is never freed, so the
/// process's exit gives it back in one go.
struct BufferPool {
  std::mutex mutex;
  std::vector<std::string> buffers;
};

BufferPool& bufferPool() {
  static BufferPool* const pool = new BufferPool;
  return *pool;
}

std::string takeBuffer() {
  BufferPool& pool = bufferPool();
  {
    std::lock_guard lock(pool.mutex);
    if (!pool.buffers.empty()) {
      std::string buffer = std::move(pool.buffers.back());
      pool.buffers.pop_back();
      return buffer;
    }
  }
  std::string buffer;
  buffer.reserve(kStreamBufferCapacity);
  // Filled to the flush threshold before it is written out: its pages come in one call.
  foundation::prefaultForWriting(buffer.data(), kStreamBufferBytes);
  return buffer;
}

void giveBackBuffer(std::string&& buffer) {
  if (buffer.capacity() < kStreamBufferCapacity) return;
  buffer.clear();
  BufferPool& pool = bufferPool();
  std::lock_guard lock(pool.mutex);
  if (pool.buffers.size() < kRuleBucketCount) pool.buffers.push_back(std::move(buffer));
}

}  // namespace

std::optional<RuleBucket> bucketForActionType(std::string_view type) {
  for (std::size_t i = 0; i < kRuleBucketCount; ++i) {
    if (type == kBucketNames[i]) return static_cast<RuleBucket>(i);
  }
  return std::nullopt;
}

foundation::Result<RuleBuckets> RuleBuckets::open(const foundation::URL& outputURL) {
  const std::string output = outputURL.path();
  const std::string folder = outputURL.deletingLastPathComponent().path();
  // Named and locked as every other atomic write's, so that a sweep of leftovers in another
  // process finds it if this process dies, and leaves it alone while it lives.
  std::string temporary;
  const int fd = foundation::createLockedTemporaryFile(output, temporary);
  if (fd < 0) return foundation::fileWriteError(output, errno);
  RuleBuckets buckets(output, temporary);
  buckets.streams_[0].fd = fd;
  struct stat existing;
  (void)::fchmod(fd, ::stat(output.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644);
  for (std::size_t i = 1; i < kRuleBucketCount; ++i) {
    buckets.streams_[i].fd = anonymousFile(folder);
    if (buckets.streams_[i].fd < 0) return foundation::fileWriteError(output, errno);
  }
  for (auto& stream : buckets.streams_) stream.buffer = takeBuffer();
  buckets.streams_[0].buffer.push_back('[');
  return buckets;
}

RuleBuckets::RuleBuckets(RuleBuckets&& other) noexcept
    : output_(std::move(other.output_)),
      temporary_(std::move(other.temporary_)),
      streams_(std::move(other.streams_)),
      error_(other.error_),
      finished_(other.finished_) {
  for (auto& stream : other.streams_) stream.fd = -1;
  other.temporary_.clear();
}

RuleBuckets::~RuleBuckets() {
  for (auto& stream : streams_) {
    if (stream.fd >= 0) ::close(stream.fd);
    giveBackBuffer(std::move(stream.buffer));
  }
  if (!finished_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

foundation::Result<void> RuleBuckets::add(RuleBucket bucket, const json::JSON& rule) {
  auto text = foundation::JSONSerialization::dataWithJSONObject(rule.object());
  if (!text) return text.error();
  addText(bucket, *text);
  return {};
}

void RuleBuckets::addText(RuleBucket bucket, std::string_view rule) {
  Stream& stream = streams_[static_cast<std::size_t>(bucket)];
  // A rule that would make the buffer grow goes after what the buffer holds.
  if (stream.buffer.size() + rule.size() + 1 > stream.buffer.capacity()) flush(stream);
  // The first rule of a later bucket gets its comma when the buckets are joined.
  if (stream.count > 0) stream.buffer.push_back(',');
  stream.buffer.append(rule);
  ++stream.count;
  if (stream.buffer.size() >= kStreamBufferBytes) flush(stream);
}

void RuleBuckets::flush(Stream& stream) {
  if (!error_ && !stream.buffer.empty()) {
    error_ = foundation::writeFully(stream.fd, stream.buffer);
    stream.written += stream.buffer.size();
  }
  stream.buffer.clear();
}

RuleBuckets::Mark RuleBuckets::mark() const {
  Mark mark;
  for (std::size_t i = 0; i < kRuleBucketCount; ++i) {
    mark.counts[i] = streams_[i].count;
    mark.bytes[i] = streams_[i].written + streams_[i].buffer.size();
  }
  return mark;
}

void RuleBuckets::rollBack(const Mark& mark) {
  for (std::size_t i = 0; i < kRuleBucketCount; ++i) {
    Stream& stream = streams_[i];
    stream.count = mark.counts[i];
    if (mark.bytes[i] >= stream.written) {
      stream.buffer.resize(static_cast<std::size_t>(mark.bytes[i] - stream.written));
      continue;
    }
    // Part of what goes back is already in the file: cut the file there and write on from there.
    stream.buffer.clear();
    if (error_) continue;
    const auto length = static_cast<off_t>(mark.bytes[i]);
    if (foundation::retryOnInterrupt([&] { return ::ftruncate(stream.fd, length); }) != 0 ||
        ::lseek(stream.fd, length, SEEK_SET) != length) {
      error_ = errno;
      continue;
    }
    stream.written = mark.bytes[i];
  }
}

void RuleBuckets::append(Stream& from) {
  flush(from);
  if (error_) return;
  Stream& file = streams_[0];
  flush(file);
  if (error_) return;
  off_t offset = 0;
  for (;;) {
    // The kernel copies between the two files; no byte passes through this process.
    const ssize_t copied = foundation::retryOnInterrupt(
        [&] { return ::copy_file_range(from.fd, &offset, file.fd, nullptr, 1 << 30, 0); });
    if (copied > 0) continue;
    if (copied == 0) return;
    if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL) {
      error_ = errno;
      return;
    }
    break;
  }
  // A kernel or file system that cannot copy: through the buffer, a bounded piece at a time.
  std::string& piece = file.buffer;
  piece.resize(kStreamBufferBytes);
  for (;;) {
    const ssize_t got = foundation::retryOnInterrupt([&] { return ::pread(from.fd, piece.data(), piece.size(), offset); });
    if (got < 0) error_ = errno;
    if (got <= 0) break;
    offset += got;
    error_ = foundation::writeFully(file.fd, std::string_view(piece.data(), static_cast<std::size_t>(got)));
    if (error_) break;
  }
  piece.clear();
}

std::size_t RuleBuckets::totalCount() const {
  std::size_t total = 0;
  for (const auto& stream : streams_) total += stream.count;
  return total;
}

foundation::Result<void> RuleBuckets::finish() {
  Stream& file = streams_[0];
  bool any = file.count > 0;
  for (std::size_t i = 1; i < kRuleBucketCount; ++i) {
    if (streams_[i].count == 0) continue;
    if (any) file.buffer.push_back(',');
    append(streams_[i]);
    any = true;
  }
  file.buffer.push_back(']');
  flush(file);
  if (!error_ && ::fsync(file.fd) != 0) error_ = errno;
  // Renamed before the close: closing lets go of the file's lock, and a sweep of leftovers in
  // another process would then take the unlocked file for one and remove it.
  if (!error_ && ::rename(temporary_.c_str(), output_.c_str()) != 0) error_ = errno;
  const int fd = file.fd;
  file.fd = -1;
  if (::close(fd) != 0 && !error_) error_ = errno;
  if (error_) return foundation::fileWriteError(output_, error_);
  finished_ = true;
  return {};
}

}  // namespace fendrel
