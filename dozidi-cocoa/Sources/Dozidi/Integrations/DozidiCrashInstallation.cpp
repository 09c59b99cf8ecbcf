#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashInstallation.h"

#include <atomic>

#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashReportSink.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrash.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSONCodec.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"

namespace {

// The block of the installation currently installed; read by the crash callback without locks.
std::atomic<DozidiCrashHandlerData*> gInstalledData{nullptr};
static_assert(std::atomic<DozidiCrashHandlerData*>::is_always_lock_free);

// Serialises install, uninstall and teardown of installations.
std::mutex& facadeLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

/// Runs during a crash: no allocation, no locks.
void crashCallback(const DozidiCrashReportWriter* writer) {
  DozidiCrashHandlerData* data = gInstalledData.load(std::memory_order_acquire);
  if (data == nullptr) return;
  for (std::int32_t i = 0; i < data->reportFieldsCount && i < DozidiCrashHandlerData::kMaxReportFields; ++i) {
    const DozidiCrashReportField* field = data->reportFields[i];
    if (field != nullptr && field->key != nullptr && field->value != nullptr) {
      writer->addJSONElement(writer, field->key, field->value, true);
    }
  }
  if (data->onCrash != nullptr) data->onCrash(writer);
}

}  // namespace

void DozidiCrashInstReportField::setKey(std::optional<std::string> key) {
  key_ = std::move(key);
  field_.key = key_ ? key_->c_str() : nullptr;
}

void DozidiCrashInstReportField::setValue(std::optional<foundation::Value> value) {
  if (!value) {
    field_.value = nullptr;
    json_.reset();
    return;
  }
  foundation::Error error("", 0);
  std::optional<std::string> json =
      DozidiCrashJSONCodec::encode(*value, DozidiCrashJSONCodec::kPrettyPrint | DozidiCrashJSONCodec::kSorted, &error);
  if (!json) {
    dozidicrashlog_logWithObjectFormat("ERROR", __FILE__, __LINE__, __func__,
                                       "Could not set value " + value->description() + " for property " +
                                           key_.value_or("(null)") + ": " + error.localizedDescription());
    return;
  }
  // The pair points at the new text before the old one is released.
  std::optional<std::string> previous = std::move(json_);
  json_ = std::move(json);
  field_.value = json_->c_str();
}

DozidiCrashInstallation::DozidiCrashInstallation(std::vector<std::string> requiredProperties)
    : requiredProperties_(std::move(requiredProperties)),
      prependedFilters_(DozidiCrashReportFilterPipeline::filterWithFilters({})) {}

DozidiCrashInstallation::~DozidiCrashInstallation() {
  std::lock_guard guard(facadeLock());
  forgetIfInstalled();
}

void DozidiCrashInstallation::forgetIfInstalled() {
  DozidiCrashHandlerData* mine = &data_;
  if (gInstalledData.compare_exchange_strong(mine, nullptr)) {
    if (auto facade = DozidiCrash::sharedInstance()) facade->setOnCrash(nullptr);
  }
}

DozidiCrashReportWriteCallback DozidiCrashInstallation::onCrash() {
  std::lock_guard guard(lock_);
  return data_.onCrash;
}

void DozidiCrashInstallation::setOnCrash(DozidiCrashReportWriteCallback onCrash) {
  std::lock_guard guard(lock_);
  data_.onCrash = onCrash;
}

DozidiCrashInstReportField* DozidiCrashInstallation::reportFieldForProperty(const std::string& propertyName) {
  std::lock_guard guard(lock_);
  for (auto& [name, field] : fields_) {
    if (name == propertyName) return field.get();
  }
  if (nextFieldIndex_ >= DozidiCrashHandlerData::kMaxReportFields) {
    DOZIDI_LOG_ERROR("Cannot add report field for " + propertyName + ": all 500 slots are taken");
    return nullptr;
  }
  auto field = std::make_unique<DozidiCrashInstReportField>(nextFieldIndex_);
  data_.reportFields[nextFieldIndex_] = field->field();
  ++nextFieldIndex_;
  data_.reportFieldsCount = nextFieldIndex_;
  fields_.emplace_back(propertyName, std::move(field));
  return fields_.back().second.get();
}

void DozidiCrashInstallation::reportFieldForPropertySetKey(const std::string& propertyName, std::optional<std::string> key) {
  if (auto* field = reportFieldForProperty(propertyName)) field->setKey(std::move(key));
}

void DozidiCrashInstallation::reportFieldForPropertySetValue(const std::string& propertyName,
                                                             std::optional<foundation::Value> value) {
  if (auto* field = reportFieldForProperty(propertyName)) field->setValue(std::move(value));
}

std::string DozidiCrashInstallation::makeKeyPath(const std::string& keyPath) {
  if (keyPath.empty() || keyPath.front() == '/') return keyPath;
  return "user/" + keyPath;
}

std::vector<std::string> DozidiCrashInstallation::makeKeyPaths(const std::vector<std::string>& keyPaths) {
  std::vector<std::string> result;
  result.reserve(keyPaths.size());
  for (const std::string& path : keyPaths) result.push_back(makeKeyPath(path));
  return result;
}

std::optional<std::optional<foundation::Value>> DozidiCrashInstallation::valueForProperty(const std::string&) const {
  return std::nullopt;
}

std::optional<foundation::Error> DozidiCrashInstallation::validateProperties() const {
  std::string notes;
  for (const std::string& name : requiredProperties_) {
    const auto value = valueForProperty(name);
    const char* note = !value ? "property not found" : !*value ? "is nil" : nullptr;
    if (note == nullptr) continue;
    notes += (notes.empty() ? "" : ", ") + name + " (" + note + ")";
  }
  if (notes.empty()) return std::nullopt;
  return foundation::Error::withDescription(className(), 0, "Installation properties failed validation: " + notes);
}

void DozidiCrashInstallation::install() {
  std::lock_guard guard(facadeLock());
  auto facade = DozidiCrash::sharedInstance();
  gInstalledData.store(&data_, std::memory_order_release);
  if (!facade) return;
  facade->setOnCrash(crashCallback);
  (void)facade->install();
}

void DozidiCrashInstallation::uninstall() {
  std::lock_guard guard(facadeLock());
  forgetIfInstalled();
  if (auto facade = DozidiCrash::sharedInstance()) facade->uninstall();
}

void DozidiCrashInstallation::sendAllReportsWithCompletion(DozidiCrashReportFilterCompletion onCompletion) {
  if (auto error = validateProperties()) return dozidicrash_callCompletion(onCompletion, std::nullopt, false, error);
  std::shared_ptr<DozidiCrashReportFilter> reportSink = sink();
  if (!reportSink) {
    return dozidicrash_callCompletion(
        onCompletion, std::nullopt, false,
        foundation::Error::withDescription(className(), 0, "Sink was nil (subclasses must implement method \"sink\")"));
  }
  auto facade = DozidiCrash::sharedInstance();
  if (!facade) {
    return dozidicrash_callCompletion(onCompletion, std::nullopt, false,
                                      foundation::Error::withDescription(className(), 0, "Could not locate cache directory path."));
  }
  DozidiCrashReportFilterList filters = prependedFilters_->filters();
  filters.push_back(std::move(reportSink));
  facade->setSink(DozidiCrashReportFilterPipeline::filterWithFilters(std::move(filters)));
  facade->sendAllReportsWithCompletion(std::move(onCompletion));
}

void DozidiCrashInstallation::addPreFilter(std::shared_ptr<DozidiCrashReportFilter> filter) {
  DozidiCrashReportFilterList filters = prependedFilters_->filters();
  filters.push_back(std::move(filter));
  prependedFilters_ = DozidiCrashReportFilterPipeline::filterWithFilters(std::move(filters));
}

DozidiCrashInstallationReporter::DozidiCrashInstallationReporter(std::shared_ptr<const DozidiInAppLogic> inAppLogic,
                                                                 std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                                                                 std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue)
    : DozidiCrashInstallation({}),
      inAppLogic_(std::move(inAppLogic)),
      crashWrapper_(std::move(crashWrapper)),
      dispatchQueue_(std::move(dispatchQueue)) {}

std::shared_ptr<DozidiCrashReportFilter> DozidiCrashInstallationReporter::sink() {
  return std::make_shared<DozidiCrashReportSink>(inAppLogic_, crashWrapper_, dispatchQueue_);
}

void DozidiCrashInstallationReporter::sendAllReportsWithCompletion(DozidiCrashReportFilterCompletion onCompletion) {
  DozidiCrashInstallation::sendAllReportsWithCompletion(
      [onCompletion](std::optional<foundation::Array> filtered, bool completed, std::optional<foundation::Error> error) {
        if (error) DOZIDI_LOG_ERROR(error->localizedDescription());
        DOZIDI_LOG_DEBUG("Sent " + std::to_string(filtered ? filtered->size() : 0) + " crash report(s)");
        // The caller learns the real outcome, also of a send that did not complete.
        dozidicrash_callCompletion(onCompletion, std::move(filtered), completed, std::move(error));
      });
}
