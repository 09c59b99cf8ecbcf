#pragma once
#include <functional>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

/// Called once when a filter is done: the filtered reports (none when the filter produced
/// nothing), whether it completed, and its error. It may be called on any thread.
using DozidiCrashReportFilterCompletion = std::function<void(std::optional<foundation::Array> filteredReports,
                                                             bool completed, std::optional<foundation::Error> error)>;

/// One step that stored crash reports pass through before delivery: it takes an array of reports
/// and hands a (possibly transformed) array to its completion, at once or later, on any thread.
/// An empty completion is allowed; nothing is reported back then.
class DozidiCrashReportFilter {
 public:
  virtual ~DozidiCrashReportFilter() = default;
  virtual void filterReports(foundation::Array reports, DozidiCrashReportFilterCompletion onCompletion) = 0;
};

using DozidiCrashReportFilterList = std::vector<std::shared_ptr<DozidiCrashReportFilter>>;

/// Calls `onCompletion` when there is one.
void dozidicrash_callCompletion(const DozidiCrashReportFilterCompletion& onCompletion,
                                std::optional<foundation::Array> filteredReports, bool completed,
                                std::optional<foundation::Error> error);

/// Hands the reports on unchanged.
class DozidiCrashReportFilterPassthrough final : public DozidiCrashReportFilter {
 public:
  static std::shared_ptr<DozidiCrashReportFilterPassthrough> filter();
  void filterReports(foundation::Array reports, DozidiCrashReportFilterCompletion onCompletion) override;
};

/// Runs its filters one after another, each on the previous one's output. A stage that does not
/// complete, or completes without reports, ends the run with its flag and error.
class DozidiCrashReportFilterPipeline final : public DozidiCrashReportFilter {
 public:
  static std::shared_ptr<DozidiCrashReportFilterPipeline> initWithFiltersArray(DozidiCrashReportFilterList filters);
  static std::shared_ptr<DozidiCrashReportFilterPipeline> filterWithFilters(DozidiCrashReportFilterList filters) {
    return initWithFiltersArray(std::move(filters));
  }

  /// Puts `filter` in front of the others.
  void addFilter(std::shared_ptr<DozidiCrashReportFilter> filter);
  DozidiCrashReportFilterList filters() const;
  void filterReports(foundation::Array reports, DozidiCrashReportFilterCompletion onCompletion) override;

 private:
  mutable std::mutex lock_;
  DozidiCrashReportFilterList filters_;
};

/// Runs every filter on the same reports and combines their outputs: report i becomes a
/// dictionary that maps key j to entry i of filter j's output.
class DozidiCrashReportFilterCombine final : public DozidiCrashReportFilter {
 public:
  /// One entry of an alternating list: a filter, a list of filters (run as one pipeline), or a
  /// value (a key; an absent value stands for a missing key).
  using Entry = std::variant<std::shared_ptr<DozidiCrashReportFilter>, DozidiCrashReportFilterList, foundation::Value>;

  static std::shared_ptr<DozidiCrashReportFilterCombine> initWithFilters(DozidiCrashReportFilterList filters,
                                                                         std::vector<std::string> keys);
  /// Reads filter, key, filter, key… Entries in filter position that are not filters are logged
  /// ("Not a filter: …") and skipped; a missing key is logged ("key entry was nil").
  static std::shared_ptr<DozidiCrashReportFilterCombine> filterWithFiltersAndKeys(const std::vector<Entry>& entries);

  const DozidiCrashReportFilterList& filters() const { return filters_; }
  const std::vector<std::string>& keys() const { return keys_; }
  void filterReports(foundation::Array reports, DozidiCrashReportFilterCompletion onCompletion) override;

 private:
  DozidiCrashReportFilterList filters_;
  std::vector<std::string> keys_;
};

/// Replaces each report with its value at `key`: a key path for a text key, a plain lookup
/// otherwise. A missing value becomes an empty dictionary with `allowNotFound`, else it stops the
/// filter with the error "Key not found: <key>".
class DozidiCrashReportFilterObjectForKey final : public DozidiCrashReportFilter {
 public:
  static std::shared_ptr<DozidiCrashReportFilterObjectForKey> filterWithKey(foundation::Value key, bool allowNotFound);
  const foundation::Value& key() const { return key_; }
  bool allowNotFound() const { return allowNotFound_; }
  void filterReports(foundation::Array reports, DozidiCrashReportFilterCompletion onCompletion) override;

 private:
  foundation::Value key_;
  bool allowNotFound_ = false;
};

/// Replaces each report with one text: the values at its key paths, joined by the separator
/// format ("%@" in it stands for the key that follows).
class DozidiCrashReportFilterConcatenate final : public DozidiCrashReportFilter {
 public:
  /// Array elements among the keys contribute their elements.
  static std::shared_ptr<DozidiCrashReportFilterConcatenate> initWithSeparatorFmt(std::string separatorFmt,
                                                                                  const foundation::Array& keys);
  const std::string& separatorFmt() const { return separatorFmt_; }
  const foundation::Array& keys() const { return keys_; }
  void filterReports(foundation::Array reports, DozidiCrashReportFilterCompletion onCompletion) override;

 private:
  std::string separatorFmt_;
  foundation::Array keys_;
};

/// Replaces each report with a dictionary of the values at its key paths, each under the path's
/// last component. A missing value stops the filter with "Report did not have key path <path>".
class DozidiCrashReportFilterSubset final : public DozidiCrashReportFilter {
 public:
  /// Array elements among the key paths contribute their elements.
  static std::shared_ptr<DozidiCrashReportFilterSubset> initWithKeysArray(const foundation::Array& keyPaths);
  const foundation::Array& keyPaths() const { return keyPaths_; }
  void filterReports(foundation::Array reports, DozidiCrashReportFilterCompletion onCompletion) override;

 private:
  foundation::Array keyPaths_;
};

/// Turns each report's data into its UTF-8 text. Data that is not valid UTF-8 (or a report that
/// is not data) stops the filter with "Could not convert report from UTF-8".
class DozidiCrashReportFilterDataToString final : public DozidiCrashReportFilter {
 public:
  static std::shared_ptr<DozidiCrashReportFilterDataToString> filter();
  void filterReports(foundation::Array reports, DozidiCrashReportFilterCompletion onCompletion) override;
};

/// Turns each report's text into its UTF-8 data. A text that is not valid UTF-8 (or a report
/// that is not text) stops the filter with "Could not convert report to UTF-8".
class DozidiCrashReportFilterStringToData final : public DozidiCrashReportFilter {
 public:
  static std::shared_ptr<DozidiCrashReportFilterStringToData> filter();
  void filterReports(foundation::Array reports, DozidiCrashReportFilterCompletion onCompletion) override;
};
