#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"

/// Captures the reporter's diagnostic lines while alive; the earlier output comes back afterwards.
class LogCapture {
 public:
  LogCapture() : previous_(DozidiLog::logOutput()) { DozidiLog::setLogOutput(output_); }
  ~LogCapture() { DozidiLog::setLogOutput(previous_); }

  std::vector<std::string> lines() const {
    std::lock_guard lock(output_->mutex);
    return output_->lines;
  }

 private:
  struct Output : DozidiLogOutput {
    mutable std::mutex mutex;
    std::vector<std::string> lines;
    void log(const std::string& line) override {
      std::lock_guard lock(mutex);
      lines.push_back(line);
    }
  };
  std::shared_ptr<Output> output_ = std::make_shared<Output>();
  std::shared_ptr<DozidiLogOutput> previous_;
};
