#include "dozidi-cocoa/Sources/DozidiCrash/Reporting/Filters/DozidiCrashReportFilter.h"

#include <atomic>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiSimpleConstructor.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Reporting/Filters/Tools/DozidiSanitize.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/UTF8.h"

namespace {

using foundation::Array;
using foundation::Error;
using foundation::Value;

constexpr const char* kPipeline = "DozidiCrashReportFilterPipeline";
constexpr const char* kCombine = "DozidiCrashReportFilterCombine";

void logError(const char* function, const std::string& message) {
  dozidicrashlog_logWithObjectFormat("ERROR", __FILE__, __LINE__, function, message);
}

// Array elements contribute their elements, anything else itself.
Array flattened(const Array& values) {
  Array out;
  for (const Value& value : values) {
    if (const Array* inner = value.array()) {
      for (const Value& element : *inner) out.push_back(element);
    } else {
      out.push_back(value);
    }
  }
  return out;
}

DozidiCrashReportFilterList withoutNulls(DozidiCrashReportFilterList filters) {
  std::erase(filters, nullptr);
  return filters;
}

// "%@" as the platform formats an object; a missing value formats as "(null)".
std::string formatObject(const Value& value) { return value.isAbsent() ? "(null)" : value.description(); }

// The separator format with each "%@" replaced by the key and "%%" by "%".
std::string formatSeparator(const std::string& format, const Value& key) {
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '@') {
      out += formatObject(key);
      ++i;
    } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

// Converts each report in order. The first that cannot be converted stops the filter with the
// results so far and its error.
template <class Convert>
void convertEach(const Array& reports, const DozidiCrashReportFilterCompletion& onCompletion, Convert convert) {
  Array results;
  for (const Value& report : reports) {
    foundation::Result<Value> converted = convert(report);
    if (!converted) return dozidicrash_callCompletion(onCompletion, std::move(results), false, converted.error());
    results.push_back(std::move(*converted));
  }
  dozidicrash_callCompletion(onCompletion, std::move(results), true, std::nullopt);
}

// Wraps a stage's completion so that a filter calling it twice cannot run the rest twice.
template <class F>
DozidiCrashReportFilterCompletion once(F body) {
  auto called = std::make_shared<std::atomic<bool>>(false);
  return [called, body = std::move(body)](std::optional<Array> filtered, bool completed,
                                          std::optional<Error> error) mutable {
    if (called->exchange(true)) return;
    body(std::move(filtered), completed, std::move(error));
  };
}

// One run of a pipeline: the filters as they were at its start and the caller's completion. Each
// stage's completion holds the run, so it lives until the last stage reports back.
struct PipelineRun {
  DozidiCrashReportFilterList filters;
  DozidiCrashReportFilterCompletion completion;
};

void runPipelineStage(const std::shared_ptr<PipelineRun>& run, std::size_t index, Array reports) {
  run->filters[index]->filterReports(
      std::move(reports), once([run, index](std::optional<Array> filtered, bool completed, std::optional<Error> error) {
        if (!completed)
          return dozidicrash_callCompletion(run->completion, std::move(filtered), false, std::move(error));
        if (!filtered) {
          return dozidicrash_callCompletion(run->completion, std::nullopt, false,
                                            dozidiErrorWithDomain(kPipeline, 0, "filteredReports was nil"));
        }
        if (index + 1 == run->filters.size()) {
          return dozidicrash_callCompletion(run->completion, std::move(filtered), completed, std::move(error));
        }
        runPipelineStage(run, index + 1, std::move(*filtered));
      }));
}

struct CombineRun {
  DozidiCrashReportFilterList filters;
  std::vector<std::string> keys;
  Array reports;
  std::vector<Array> outputs;
  DozidiCrashReportFilterCompletion completion;
};

void finishCombine(const CombineRun& run, bool completed, std::optional<Error> error) {
  Array combined;
  const std::size_t count = run.outputs.front().size();
  for (std::size_t i = 0; i < count; ++i) {
    foundation::Dictionary dictionary;
    for (std::size_t j = 0; j < run.outputs.size(); ++j) {
      if (const Value* entry = run.outputs[j].at(i)) dictionary.set(run.keys[j], *entry);
    }
    combined.push_back(std::move(dictionary));
  }
  dozidicrash_callCompletion(run.completion, std::move(combined), completed, std::move(error));
}

void runCombineStage(const std::shared_ptr<CombineRun>& run, std::size_t index) {
  run->filters[index]->filterReports(
      run->reports, once([run, index](std::optional<Array> filtered, bool completed, std::optional<Error> error) {
        if (!completed)
          return dozidicrash_callCompletion(run->completion, std::move(filtered), false, std::move(error));
        if (!filtered) {
          return dozidicrash_callCompletion(run->completion, std::nullopt, false,
                                            dozidiErrorWithDomain(kCombine, 0, "filteredReports was nil"));
        }
        run->outputs.push_back(std::move(*filtered));
        if (index + 1 == run->filters.size()) return finishCombine(*run, completed, std::move(error));
        runCombineStage(run, index + 1);
      }));
}

}  // namespace

void dozidicrash_callCompletion(const DozidiCrashReportFilterCompletion& onCompletion,
                                std::optional<Array> filteredReports, bool completed, std::optional<Error> error) {
  if (onCompletion) onCompletion(std::move(filteredReports), completed, std::move(error));
}

std::shared_ptr<DozidiCrashReportFilterPassthrough> DozidiCrashReportFilterPassthrough::filter() {
  return std::make_shared<DozidiCrashReportFilterPassthrough>();
}

void DozidiCrashReportFilterPassthrough::filterReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) {
  dozidicrash_callCompletion(onCompletion, std::move(reports), true, std::nullopt);
}

std::shared_ptr<DozidiCrashReportFilterPipeline> DozidiCrashReportFilterPipeline::initWithFiltersArray(
    DozidiCrashReportFilterList filters) {
  auto pipeline = std::make_shared<DozidiCrashReportFilterPipeline>();
  pipeline->filters_ = withoutNulls(std::move(filters));
  return pipeline;
}

void DozidiCrashReportFilterPipeline::addFilter(std::shared_ptr<DozidiCrashReportFilter> filter) {
  if (!filter) return;
  std::lock_guard guard(lock_);
  filters_.insert(filters_.begin(), std::move(filter));
}

DozidiCrashReportFilterList DozidiCrashReportFilterPipeline::filters() const {
  std::lock_guard guard(lock_);
  return filters_;
}

void DozidiCrashReportFilterPipeline::filterReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) {
  auto run = std::make_shared<PipelineRun>(PipelineRun{filters(), std::move(onCompletion)});
  if (run->filters.empty()) return dozidicrash_callCompletion(run->completion, std::move(reports), true, std::nullopt);
  runPipelineStage(run, 0, std::move(reports));
}

std::shared_ptr<DozidiCrashReportFilterCombine> DozidiCrashReportFilterCombine::initWithFilters(
    DozidiCrashReportFilterList filters, std::vector<std::string> keys) {
  auto combine = std::make_shared<DozidiCrashReportFilterCombine>();
  // A missing filter leaves with its key, so that the other keys still name their filters.
  for (std::size_t i = filters.size(); i-- > 0;) {
    if (filters[i]) continue;
    filters.erase(filters.begin() + static_cast<std::ptrdiff_t>(i));
    if (i < keys.size()) keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(i));
  }
  combine->filters_ = std::move(filters);
  combine->keys_ = std::move(keys);
  return combine;
}

std::shared_ptr<DozidiCrashReportFilterCombine> DozidiCrashReportFilterCombine::filterWithFiltersAndKeys(
    const std::vector<Entry>& entries) {
  DozidiCrashReportFilterList filters;
  std::vector<std::string> keys;
  bool expectingFilter = true;
  for (const Entry& entry : entries) {
    if (expectingFilter) {
      if (const auto* filter = std::get_if<std::shared_ptr<DozidiCrashReportFilter>>(&entry); filter && *filter) {
        filters.push_back(*filter);
      } else if (const auto* list = std::get_if<DozidiCrashReportFilterList>(&entry)) {
        filters.push_back(DozidiCrashReportFilterPipeline::initWithFiltersArray(*list));
      } else {
        const Value* value = std::get_if<Value>(&entry);
        logError(__func__, "Not a filter: " + formatObject(value ? *value : Value()));
        continue;
      }
    } else {
      const Value* key = std::get_if<Value>(&entry);
      if (key == nullptr || key->isAbsent()) {
        logError(__func__, "key entry was nil");
      } else {
        keys.push_back(key->string() ? *key->string() : key->description());
      }
    }
    expectingFilter = !expectingFilter;
  }
  return initWithFilters(std::move(filters), std::move(keys));
}

void DozidiCrashReportFilterCombine::filterReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) {
  if (filters_.empty()) return dozidicrash_callCompletion(onCompletion, std::move(reports), true, std::nullopt);
  if (filters_.size() != keys_.size()) {
    // The text keeps its unclosed parenthesis: it is the message callers have always seen.
    const std::string description = "Key/filter mismatch (" + std::to_string(keys_.size()) + " keys, " +
                                    std::to_string(filters_.size()) + " filters";
    return dozidicrash_callCompletion(onCompletion, std::move(reports), false,
                                      dozidiErrorWithDomain(kCombine, 0, description));
  }
  auto run = std::make_shared<CombineRun>(CombineRun{filters_, keys_, std::move(reports), {}, std::move(onCompletion)});
  run->outputs.reserve(run->filters.size());
  runCombineStage(run, 0);
}

std::shared_ptr<DozidiCrashReportFilterObjectForKey> DozidiCrashReportFilterObjectForKey::filterWithKey(
    Value key, bool allowNotFound) {
  auto filter = std::make_shared<DozidiCrashReportFilterObjectForKey>();
  filter->key_ = std::move(key);
  filter->allowNotFound_ = allowNotFound;
  return filter;
}

void DozidiCrashReportFilterObjectForKey::filterReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) {
  convertEach(reports, onCompletion, [this](const Value& report) -> foundation::Result<Value> {
    Value object = key_.string() ? dozidi_objectForKeyPath(report, *key_.string())
                                 : dozidi_objectForDeepKey(report, DozidiDeepKey{key_});
    if (!object.isAbsent()) return object;
    if (allowNotFound_) return Value(foundation::Dictionary{});
    return dozidiErrorWithDomain("DozidiCrashReportFilterObjectForKey", 0, "Key not found: " + formatObject(key_));
  });
}

std::shared_ptr<DozidiCrashReportFilterConcatenate> DozidiCrashReportFilterConcatenate::initWithSeparatorFmt(
    std::string separatorFmt, const Array& keys) {
  auto filter = std::make_shared<DozidiCrashReportFilterConcatenate>();
  filter->separatorFmt_ = std::move(separatorFmt);
  filter->keys_ = flattened(keys);
  return filter;
}

void DozidiCrashReportFilterConcatenate::filterReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) {
  Array results;
  for (const Value& report : reports) {
    std::string text;
    bool first = true;
    for (const Value& key : keys_) {
      if (!first) text += formatSeparator(separatorFmt_, key);
      first = false;
      const std::string keyPath = key.string() ? *key.string() : key.description();
      text += formatObject(dozidi_objectForKeyPath(report, keyPath));
    }
    results.push_back(std::move(text));
  }
  dozidicrash_callCompletion(onCompletion, std::move(results), true, std::nullopt);
}

std::shared_ptr<DozidiCrashReportFilterSubset> DozidiCrashReportFilterSubset::initWithKeysArray(const Array& keyPaths) {
  auto filter = std::make_shared<DozidiCrashReportFilterSubset>();
  filter->keyPaths_ = flattened(keyPaths);
  return filter;
}

void DozidiCrashReportFilterSubset::filterReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) {
  convertEach(reports, onCompletion, [this](const Value& report) -> foundation::Result<Value> {
    foundation::Dictionary subset;
    for (const Value& keyPathValue : keyPaths_) {
      const std::string keyPath = keyPathValue.string() ? *keyPathValue.string() : keyPathValue.description();
      Value object = dozidi_objectForKeyPath(report, keyPath);
      if (object.isAbsent()) {
        return dozidiErrorWithDomain("DozidiCrashReportFilterSubset", 0, "Report did not have key path " + keyPath);
      }
      subset.set(keyPath.substr(keyPath.rfind('/') + 1), std::move(object));
    }
    return Value(std::move(subset));
  });
}

std::shared_ptr<DozidiCrashReportFilterDataToString> DozidiCrashReportFilterDataToString::filter() {
  return std::make_shared<DozidiCrashReportFilterDataToString>();
}

void DozidiCrashReportFilterDataToString::filterReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) {
  // Undecodable data stops the filter with what was converted so far: dropping the report
  // silently would lose it.
  convertEach(reports, onCompletion, [](const Value& report) -> foundation::Result<Value> {
    const foundation::Data* data = report.data();
    if (data != nullptr && foundation::isValidUTF8(data->view())) return Value(data->bytes());
    return dozidiErrorWithDomain("DozidiCrashReportFilterDataToString", 0, "Could not convert report from UTF-8");
  });
}

std::shared_ptr<DozidiCrashReportFilterStringToData> DozidiCrashReportFilterStringToData::filter() {
  return std::make_shared<DozidiCrashReportFilterStringToData>();
}

void DozidiCrashReportFilterStringToData::filterReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) {
  convertEach(reports, onCompletion, [](const Value& report) -> foundation::Result<Value> {
    const std::string* text = report.string();
    if (text != nullptr && foundation::isValidUTF8(*text)) return Value(foundation::Data(*text));
    return dozidiErrorWithDomain("DozidiCrashReportFilterStringToData", 0, "Could not convert report to UTF-8");
  });
}
