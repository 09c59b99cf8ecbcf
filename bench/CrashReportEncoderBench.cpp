// Writes a crash-report-shaped document of about 64 KiB into a file descriptor: with the crash
// recorder's streaming encoder through its 1024-byte buffered writer (what a crash handler does),
// and, side by side, with the platform's JSON writer from a value tree built beforehand.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFileUtils.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSON.h"
#include "platform/foundation/JSONSerialization.h"

namespace {

// Counts chosen so that the compact document is close to 64 KiB.
constexpr int kImageCount = 60;
constexpr int kThreadCount = 13;
constexpr int kFramesPerThread = 24;

struct Frame {
  std::string objectName;
  std::uint64_t objectAddress;
  std::string symbolName;
  std::uint64_t symbolAddress;
  std::uint64_t instructionAddress;
};

struct Image {
  std::string name;
  std::uint64_t address;
  std::uint64_t size;
  std::string uuid;
};

struct Report {
  std::vector<Image> images;
  std::vector<std::vector<Frame>> threads;
};

const Report& report() {
  static const Report built = [] {
    Report r;
    for (int i = 0; i < kImageCount; ++i) {
      r.images.push_back({"/usr/lib/x86_64-linux-gnu/libexample" + std::to_string(i) + ".so.6",
                          0x7f0000000000ULL + static_cast<std::uint64_t>(i) * 0x200000, 0x1f000 + static_cast<std::uint64_t>(i),
                          "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F" + std::to_string(i % 10)});
    }
    for (int t = 0; t < kThreadCount; ++t) {
      std::vector<Frame> frames;
      for (int f = 0; f < kFramesPerThread; ++f) {
        const Image& image = r.images[static_cast<std::size_t>((t * 7 + f) % kImageCount)];
        frames.push_back({image.name.substr(image.name.rfind('/') + 1), image.address,
                          "_ZN7example6Worker3runEv" + std::to_string(f), image.address + 0x1000 + static_cast<std::uint64_t>(f) * 64,
                          image.address + 0x1010 + static_cast<std::uint64_t>(f) * 64});
      }
      r.threads.push_back(std::move(frames));
    }
    return r;
  }();
  return built;
}

int writeToBufferedWriter(const char* data, int length, void* userData) {
  return dozidicrashfu_writeBufferedWriter(static_cast<DozidiCrashBufferedWriter*>(userData), data, length)
             ? DozidiCrashJSON_OK
             : DozidiCrashJSON_ERROR_CANNOT_ADD_DATA;
}

int encodeStreaming(const Report& r, DozidiCrashJSONEncodeContext* e) {
  auto i64 = [](std::uint64_t v) { return static_cast<std::int64_t>(v); };
  int result = dozidicrashjson_beginObject(e, nullptr);
  dozidicrashjson_beginObject(e, "report");
  dozidicrashjson_addStringElement(e, "version", "3.2.0", -1);
  dozidicrashjson_addStringElement(e, "id", "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", -1);
  dozidicrashjson_addStringElement(e, "process_name", "fendrel", -1);
  dozidicrashjson_addIntegerElement(e, "timestamp", 1'700'000'000);
  dozidicrashjson_addStringElement(e, "type", "standard", -1);
  dozidicrashjson_endContainer(e);
  dozidicrashjson_beginArray(e, "binary_images");
  for (const Image& image : r.images) {
    dozidicrashjson_beginObject(e, nullptr);
    dozidicrashjson_addIntegerElement(e, "image_addr", i64(image.address));
    dozidicrashjson_addIntegerElement(e, "image_size", i64(image.size));
    dozidicrashjson_addStringElement(e, "name", image.name.c_str(), -1);
    dozidicrashjson_addStringElement(e, "uuid", image.uuid.c_str(), -1);
    dozidicrashjson_endContainer(e);
  }
  dozidicrashjson_endContainer(e);
  dozidicrashjson_beginObject(e, "crash");
  dozidicrashjson_beginArray(e, "threads");
  int index = 0;
  for (const auto& frames : r.threads) {
    dozidicrashjson_beginObject(e, nullptr);
    dozidicrashjson_beginObject(e, "backtrace");
    dozidicrashjson_beginArray(e, "contents");
    for (const Frame& frame : frames) {
      dozidicrashjson_beginObject(e, nullptr);
      dozidicrashjson_addStringElement(e, "object_name", frame.objectName.c_str(), -1);
      dozidicrashjson_addIntegerElement(e, "object_addr", i64(frame.objectAddress));
      dozidicrashjson_addStringElement(e, "symbol_name", frame.symbolName.c_str(), -1);
      dozidicrashjson_addIntegerElement(e, "symbol_addr", i64(frame.symbolAddress));
      dozidicrashjson_addIntegerElement(e, "instruction_addr", i64(frame.instructionAddress));
      dozidicrashjson_endContainer(e);
    }
    dozidicrashjson_endContainer(e);
    dozidicrashjson_addIntegerElement(e, "skipped", 0);
    dozidicrashjson_endContainer(e);
    dozidicrashjson_addIntegerElement(e, "index", index);
    dozidicrashjson_addBooleanElement(e, "crashed", index == 0);
    result = dozidicrashjson_endContainer(e);
    ++index;
  }
  if (result == DozidiCrashJSON_OK) result = dozidicrashjson_endEncode(e);
  return result;
}

foundation::Value buildValue(const Report& r) {
  using foundation::Array;
  using foundation::Dictionary;
  auto i64 = [](std::uint64_t v) { return static_cast<std::int64_t>(v); };
  Array images;
  for (const Image& image : r.images) {
    images.push_back(Dictionary{{"image_addr", i64(image.address)}, {"image_size", i64(image.size)},
                                {"name", image.name}, {"uuid", image.uuid}});
  }
  Array threads;
  int index = 0;
  for (const auto& frames : r.threads) {
    Array contents;
    for (const Frame& frame : frames) {
      contents.push_back(Dictionary{{"object_name", frame.objectName}, {"object_addr", i64(frame.objectAddress)},
                                    {"symbol_name", frame.symbolName}, {"symbol_addr", i64(frame.symbolAddress)},
                                    {"instruction_addr", i64(frame.instructionAddress)}});
    }
    threads.push_back(Dictionary{{"backtrace", Dictionary{{"contents", contents}, {"skipped", 0}}},
                                 {"index", index}, {"crashed", index == 0}});
    ++index;
  }
  return Dictionary{{"report", Dictionary{{"version", "3.2.0"}, {"id", "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"},
                                          {"process_name", "fendrel"}, {"timestamp", 1'700'000'000},
                                          {"type", "standard"}}},
                    {"binary_images", images},
                    {"crash", Dictionary{{"threads", threads}}}};
}

/// A scratch file rewritten from its start on every iteration.
struct ScratchFile {
  std::string path;
  int fd;
  ScratchFile() {
    char name[] = "/tmp/crash-encoder-bench-XXXXXX";
    fd = ::mkstemp(name);
    path = name;
  }
  ~ScratchFile() {
    ::close(fd);
    ::unlink(path.c_str());
  }
};

void BM_StreamingEncoderToFD(benchmark::State& state) {
  const Report& r = report();
  ScratchFile file;
  off_t written = 0;
  // The writer's buffer lives on the crash handler's stack: 1 KiB as the report writer uses, and
  // larger sizes to show what the number of write calls costs.
  std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    ::lseek(file.fd, 0, SEEK_SET);
    DozidiCrashBufferedWriter writer{buffer.data(), static_cast<int>(buffer.size()), 0, file.fd};
    DozidiCrashJSONEncodeContext encoder;
    dozidicrashjson_beginEncode(&encoder, false, writeToBufferedWriter, &writer);
    if (encodeStreaming(r, &encoder) != DozidiCrashJSON_OK || !dozidicrashfu_flushBufferedWriter(&writer)) {
      state.SkipWithError("encoding failed");
      return;
    }
    written = ::lseek(file.fd, 0, SEEK_CUR);
  }
  state.counters["document_bytes"] = static_cast<double>(written);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * written);
}
BENCHMARK(BM_StreamingEncoderToFD)->Arg(1024)->Arg(16384)->Arg(65536)->Unit(benchmark::kMicrosecond);

void BM_FoundationWriterToFD(benchmark::State& state) {
  const foundation::Value value = buildValue(report());
  ScratchFile file;
  std::size_t written = 0;
  for (auto _ : state) {
    auto text = foundation::JSONSerialization::dataWithJSONObject(value, foundation::JSONWritingOptions::WithoutEscapingSlashes);
    if (!text) {
      state.SkipWithError("writing failed");
      return;
    }
    ::lseek(file.fd, 0, SEEK_SET);
    if (!dozidicrashfu_writeBytesToFD(file.fd, text->data(), static_cast<int>(text->size()))) {
      state.SkipWithError("writing failed");
      return;
    }
    written = text->size();
  }
  state.counters["document_bytes"] = static_cast<double>(written);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * written));
}
BENCHMARK(BM_FoundationWriterToFD)->Unit(benchmark::kMicrosecond);

}  // namespace
