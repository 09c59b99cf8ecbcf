#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"
#include "platform/foundation/Value.h"

class DozidiDisplayLinkWrapper;

/// A snapshot of the frame counts and, while a profile runs, of the slow and frozen frames'
/// intervals and the screen's frame-rate changes.
struct DozidiScreenFrames {
  std::uint64_t total = 0;
  std::uint64_t frozen = 0;
  std::uint64_t slow = 0;
  /// {"start_timestamp", "end_timestamp"} in seconds, one per slow or frozen frame.
  foundation::Array frameTimestamps;
  /// {"timestamp", "frame_rate"}, one per change of the frame rate.
  foundation::Array frameRateTimestamps;
};

/// Counts the app's rendered frames and classifies each as normal, slow or frozen from a display
/// link on the main run loop. The counters are atomic, so any thread may take a snapshot; the
/// profiling lists have their own lock. Start and stop from the main thread.
class DozidiFramesTracker {
 public:
  /// A frame longer than this is frozen.
  static constexpr double kFrozenFrameThreshold = 0.7;
  /// The rate assumed when the display link gives no frame duration.
  static constexpr double kDefaultFrameRate = 60.0;
  /// Frame rates closer than this count as the same rate.
  static constexpr double kFrameRateTolerance = static_cast<double>(1e-10f);

  /// The process's tracker, made on first use with a real display link.
  static std::shared_ptr<DozidiFramesTracker> sharedInstance();
  static std::shared_ptr<DozidiFramesTracker> initWithDisplayLinkWrapper(
      std::shared_ptr<DozidiDisplayLinkWrapper> wrapper);

  bool isRunning() const { return running_.load(std::memory_order_acquire); }
  /// Links the display link; frames count from the next callback on.
  void start();
  void stop();
  /// Counters to 0, no previous frame, empty profiling lists.
  void resetFrames();
  void resetProfilingTimestamps();
  DozidiScreenFrames currentFrames() const;
  /// Appends one slow or frozen frame's interval, only while a profile runs.
  void recordTimestampStart(double start, double end);

  /// Replaces the display link; for tests, while the tracker is stopped.
  void setDisplayLinkWrapper(std::shared_ptr<DozidiDisplayLinkWrapper> wrapper) {
    displayLinkWrapper_ = std::move(wrapper);
  }

  /// One display frame; the display link calls it on the main thread.
  void displayLinkCallback();

 private:
  explicit DozidiFramesTracker(std::shared_ptr<DozidiDisplayLinkWrapper> wrapper);

  std::atomic<std::uint32_t> totalFrames_{0}, slowFrames_{0}, frozenFrames_{0};
  std::atomic<bool> running_{false};
  std::shared_ptr<DozidiDisplayLinkWrapper> displayLinkWrapper_;
  /// Touched by the display-link callback and by resetFrames alone.
  std::atomic<double> previousFrameTimestamp_{-1.0};
  mutable std::mutex profilingLock_;
  foundation::Array frameTimestamps_;
  foundation::Array frameRateTimestamps_;
};

/// Runs the shared frame tracker while automatic performance tracking and tracing are on, or
/// whenever an outside layer asked for frames.
class DozidiFramesTrackingIntegration : public DozidiBaseIntegration {
 public:
  std::string integrationName() const override { return "DozidiFramesTrackingIntegration"; }
  std::uint32_t integrationOptions() const override {
    return kIntegrationOptionEnableAutoPerformanceTracking | kIntegrationOptionIsTracingEnabled;
  }
  bool installWithOptions(const DozidiOptions& options) override;
  void uninstall() override { stop(); }
  void stop();

  const std::shared_ptr<DozidiFramesTracker>& tracker() const { return tracker_; }

 private:
  std::shared_ptr<DozidiFramesTracker> tracker_;
};
