#pragma once
#include <memory>
#include <mutex>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSpan.h"

/// The span handed out wherever a real span cannot be started (a finished or vanished tracer).
/// One shared instance; it records nothing, is never finished and serializes as an empty
/// dictionary. Its two dates are plain stored values behind a lock.
class DozidiNoOpSpan final : public DozidiSpan {
 public:
  static std::shared_ptr<DozidiNoOpSpan> shared();

  std::shared_ptr<DozidiSpan> startChildWithOperation(const std::string&, std::optional<std::string> = std::nullopt) override {
    return shared();
  }
  void setDataValue(foundation::Value, const std::string&) override {}
  void removeDataForKey(const std::string&) override {}
  std::optional<foundation::Dictionary> data() const override { return std::nullopt; }
  void setTagValue(std::optional<std::string>, const std::string&) override {}
  void removeTagForKey(const std::string&) override {}
  void setMeasurement(const std::string&, foundation::Number, std::shared_ptr<const DozidiMeasurementUnit> = nullptr) override {}
  foundation::Dictionary tags() const override { return {}; }
  bool isFinished() const override { return false; }
  void finish() override {}
  void finishWithStatus(DozidiSpanStatus) override {}
  foundation::Dictionary serialize() const override { return {}; }

  std::shared_ptr<DozidiSpanContext> context() const override { return context_; }
  std::optional<foundation::Date> timestamp() const override;
  void setTimestamp(std::optional<foundation::Date> timestamp) override;
  std::optional<foundation::Date> startTimestamp() const override;
  void setStartTimestamp(std::optional<foundation::Date> startTimestamp) override;

 private:
  DozidiNoOpSpan();
  std::shared_ptr<DozidiSpanContext> context_;
  mutable std::mutex lock_;
  std::optional<foundation::Date> timestamp_, startTimestamp_;
};
