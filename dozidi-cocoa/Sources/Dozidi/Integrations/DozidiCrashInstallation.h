#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportWriter.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Reporting/Filters/DozidiCrashReportFilter.h"
#include "platform/foundation/Value.h"

class DozidiCrashReportFilterPipeline;
class DozidiCrashWrapper;
class DozidiDispatchQueueWrapper;
class DozidiInAppLogic;

/// One extra report field: a key and its JSON text, both NUL-terminated, read by the crash
/// callback while a report is written.
struct DozidiCrashReportField {
  const char* key = nullptr;
  const char* value = nullptr;
};

/// The block the crash callback reads without locks while a crash is written. Its address stays
/// valid for as long as its installation lives.
struct DozidiCrashHandlerData {
  static constexpr int kMaxReportFields = 500;
  DozidiCrashReportWriteCallback onCrash = nullptr;
  std::int32_t reportFieldsCount = 0;
  DozidiCrashReportField* reportFields[kMaxReportFields] = {};
};

/// A report field of one installation property: owns the key and JSON copies its pair points to.
class DozidiCrashInstReportField {
 public:
  explicit DozidiCrashInstReportField(std::int32_t index) : index_(index) {}
  std::int32_t index() const { return index_; }
  void setKey(std::optional<std::string> key);
  /// Encodes `value` (pretty, sorted keys); none clears the field so it is no longer written. A
  /// value that cannot be encoded is logged and changes nothing.
  void setValue(std::optional<foundation::Value> value);
  DozidiCrashReportField* field() { return &field_; }

 private:
  std::int32_t index_;
  std::optional<std::string> key_;
  std::optional<std::string> json_;
  DozidiCrashReportField field_;
};

/// Ties the crash recorder facade to a delivery road: extra fields written into every report's
/// "user" section, pre-filters, and a sink that receives the stored reports at the next launch.
/// Install, uninstall and teardown serialise on the shared facade.
class DozidiCrashInstallation {
 public:
  explicit DozidiCrashInstallation(std::vector<std::string> requiredProperties);
  virtual ~DozidiCrashInstallation();
  DozidiCrashInstallation(const DozidiCrashInstallation&) = delete;
  DozidiCrashInstallation& operator=(const DozidiCrashInstallation&) = delete;

  DozidiCrashHandlerData* crashHandlerData() { return &data_; }
  DozidiCrashReportWriteCallback onCrash();
  void setOnCrash(DozidiCrashReportWriteCallback onCrash);

  /// The field of a property, made on first use in the next free slot; none once all 500 slots
  /// are taken.
  DozidiCrashInstReportField* reportFieldForProperty(const std::string& propertyName);
  void reportFieldForPropertySetKey(const std::string& propertyName, std::optional<std::string> key);
  void reportFieldForPropertySetValue(const std::string& propertyName, std::optional<foundation::Value> value);

  /// Relative paths address the report's "user" section: "a/b" becomes "user/a/b"; an empty
  /// path and one starting with "/" are returned unchanged.
  static std::string makeKeyPath(const std::string& keyPath);
  static std::vector<std::string> makeKeyPaths(const std::vector<std::string>& keyPaths);

  /// An error naming every required property that is nil or unknown; none when all are set.
  std::optional<foundation::Error> validateProperties() const;

  void install();
  void uninstall();
  /// Validates, then runs every stored report through the pre-filters and the sink. The
  /// completion, when given, always receives the real outcome.
  virtual void sendAllReportsWithCompletion(DozidiCrashReportFilterCompletion onCompletion);
  void addPreFilter(std::shared_ptr<DozidiCrashReportFilter> filter);
  virtual std::shared_ptr<DozidiCrashReportFilter> sink() { return nullptr; }

  /// The class's name, the domain of its errors.
  virtual std::string className() const { return "DozidiCrashInstallation"; }

 protected:
  /// The value of a property by name: none when there is no such property, a present optional
  /// holding none when the property is nil. Subclasses with required properties answer here.
  virtual std::optional<std::optional<foundation::Value>> valueForProperty(const std::string& name) const;

 private:
  void forgetIfInstalled();

  DozidiCrashHandlerData data_;
  std::int32_t nextFieldIndex_ = 0;
  std::vector<std::pair<std::string, std::unique_ptr<DozidiCrashInstReportField>>> fields_;
  std::vector<std::string> requiredProperties_;
  std::shared_ptr<DozidiCrashReportFilterPipeline> prependedFilters_;
  mutable std::mutex lock_;
};

/// The one installation the reporter uses: no required properties, no fields, and a new report
/// sink for every send.
class DozidiCrashInstallationReporter final : public DozidiCrashInstallation {
 public:
  DozidiCrashInstallationReporter(std::shared_ptr<const DozidiInAppLogic> inAppLogic,
                                  std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                                  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue);
  std::shared_ptr<DozidiCrashReportFilter> sink() override;
  void sendAllReports() { sendAllReportsWithCompletion(nullptr); }
  /// Logs the outcome ("Sent %lu crash report(s)") and hands it to `onCompletion`.
  void sendAllReportsWithCompletion(DozidiCrashReportFilterCompletion onCompletion) override;
  std::string className() const override { return "DozidiCrashInstallationReporter"; }

 private:
  std::shared_ptr<const DozidiInAppLogic> inAppLogic_;
  std::shared_ptr<DozidiCrashWrapper> crashWrapper_;
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue_;
};
