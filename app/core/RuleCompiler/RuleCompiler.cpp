#include "app/core/RuleCompiler/RuleCompiler.h"

#include <fcntl.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "app/core/RuleCompiler/RuleChecker.h"
#include "app/core/RuleCompiler/RuleFileWriting.h"
#include "app/core/RuleCompiler/RuleListReading.h"
#include "json/JSON.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/SystemCalls.h"

namespace fendrel {
namespace {

/// Sorts one rule into its bucket, or drops it, or leaves it out and counts why.
foundation::Result<void> bucketRule(foundation::Value raw, const RuleWhitelist& whitelist, RuleBuckets& buckets,
                                    LeftOutRules& leftOut) {
  const foundation::Value& typeValue = raw["action"]["type"];
  const std::string* type = typeValue.string();
  if (!type) {
    // Without a string action type the rule cannot be sorted; it is malformed, not of another kind.
    auto fault = checkRule(raw);
    ++leftOut.byFault[static_cast<std::size_t>(fault.value_or(RuleFault::NoActionType))];
    return {};
  }
  auto bucket = bucketForActionType(*type);
  if (!bucket) return {};
  auto kept = applyWhitelist(json::JSON(std::move(raw)), whitelist);
  if (!kept) return {};
  if (auto fault = checkRule(kept->object())) {
    ++leftOut.byFault[static_cast<std::size_t>(*fault)];
    return {};
  }
  return buckets.add(*bucket, *kept);
}

// ---------------------------------------------------------------------------------------------
// The direct road: a list that is a JSON array is read with the document parser, and every rule
// that is kept unchanged (nearly all of them) is written straight from the parsed document; no
// value tree is built. A list the parser does not take as an array goes the general road above.

using simdjson::dom::element;
using simdjson::dom::object;

/// The value of the last field `key` of `value` (the browser reads repeated keys so); none when
/// `value` is not an object or has no such field.
std::optional<element> lastField(element value, std::string_view key) {
  object fields;
  if (value.get_object().get(fields) != simdjson::SUCCESS) return std::nullopt;
  std::optional<element> found;
  for (auto field : fields) {
    if (field.key == key) found = field.value;
  }
  return found;
}

void appendQuoted(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (byte < 0x20) {
      out.append("\\u00");
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

/// Writes the fields of `value` (an object) compactly, with the last field `key` written by
/// `replace` instead of from the document.
template <class Replace>
void appendObjectReplacing(std::string& out, object value, std::string_view key, Replace&& replace) {
  std::size_t last = 0, index = 0;
  for (auto field : value) {
    if (field.key == key) last = index;
    ++index;
  }
  simdjson::internal::string_builder<> builder;
  out.push_back('{');
  index = 0;
  for (auto field : value) {
    if (index) out.push_back(',');
    appendQuoted(out, field.key);
    out.push_back(':');
    if (index == last && field.key == key) {
      replace(field.value);
    } else {
      builder.clear();
      builder.append(field.value);
      out.append(builder.str());
    }
    ++index;
  }
  out.push_back('}');
}

/// The whitelist's first step on a rule of a document, given its trigger: the whitelisted sites
/// its "if-domain" (a list of strings) loses. `kept` gets the sites that stay.
enum class DomainRewrite { Unchanged, Changed, Drop };
DomainRewrite rewriteIfDomain(std::optional<element> trigger, const RuleWhitelist& whitelist,
                              std::vector<std::string_view>& kept) {
  if (whitelist.empty() || !trigger) return DomainRewrite::Unchanged;
  auto domains = lastField(*trigger, "if-domain");
  simdjson::dom::array list;
  if (!domains || domains->get_array().get(list) != simdjson::SUCCESS) return DomainRewrite::Unchanged;
  kept.clear();
  std::size_t count = 0;
  for (element entry : list) {
    std::string_view domain;
    if (entry.get_string().get(domain) != simdjson::SUCCESS) return DomainRewrite::Unchanged;
    ++count;
    if (std::find(whitelist.stored.begin(), whitelist.stored.end(), domain) == whitelist.stored.end()) {
      kept.push_back(domain);
    }
  }
  if (kept.empty()) return DomainRewrite::Drop;
  return kept.size() == count ? DomainRewrite::Unchanged : DomainRewrite::Changed;
}

/// The rule's text with "if-domain" replaced by `kept`.
std::string rewrittenRuleText(element rule, const std::vector<std::string_view>& kept) {
  std::string out;
  appendObjectReplacing(out, rule.get_object().value_unsafe(), "trigger", [&](element trigger) {
    appendObjectReplacing(out, trigger.get_object().value_unsafe(), "if-domain", [&](element) {
      out.push_back('[');
      for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i) out.push_back(',');
        appendQuoted(out, kept[i]);
      }
      out.push_back(']');
    });
  });
  return out;
}

/// Walks the text of a JSON array that the parser has already validated, element by element, so
/// that a rule kept unchanged can be copied as it stands in the list. Strings are skipped with
/// memchr; only the bytes between them are looked at.
class ArrayElementTexts {
 public:
  explicit ArrayElementTexts(std::string_view text) : text_(text) {
    skipSpace();
    // Anything before the "[" (a byte-order mark) and the walk is not trusted: nothing is copied.
    if (pos_ < text_.size() && text_[pos_] == '[') {
      ++pos_;
    } else {
      pos_ = text_.size();
    }
  }

  /// The text of the next element; `compact` tells whether it holds no whitespace outside its
  /// strings (only such text is copied: the file is written without whitespace).
  std::string_view next(bool& compact) {
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == ',') ++pos_;
    skipSpace();
    const std::size_t start = pos_;
    compact = true;
    std::size_t depth = 0;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '"') {
        pos_ = stringEnd(pos_);
      } else if (c == '{' || c == '[') {
        ++depth;
        ++pos_;
      } else if (c == '}' || c == ']') {
        if (depth == 0) break;  // the end of the array
        --depth;
        ++pos_;
      } else if (depth == 0 && c == ',') {
        break;
      } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
        if (depth == 0) break;
        compact = false;
        ++pos_;
      } else {
        ++pos_;
      }
      if (depth == 0 && pos_ > start && (c == '}' || c == ']' || c == '"')) break;
    }
    return text_.substr(start, pos_ - start);
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\r' || text_[pos_] == '\t')) {
      ++pos_;
    }
  }

  /// The index after the closing quote of the string that opens at `open`.
  std::size_t stringEnd(std::size_t open) const {
    std::size_t at = open + 1;
    for (;;) {
      const void* found = std::memchr(text_.data() + at, '"', text_.size() - at);
      if (!found) return text_.size();
      const std::size_t quote = static_cast<std::size_t>(static_cast<const char*>(found) - text_.data());
      std::size_t backslashes = 0;
      while (quote - backslashes > open + 1 && text_[quote - backslashes - 1] == '\\') ++backslashes;
      if (backslashes % 2 == 0) return quote + 1;
      at = quote + 1;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

/// What the document road needs across lists: the buffer a list is read into and the parser,
/// whose memory serves every list, and the text builder.
struct DocumentReader {
  simdjson::dom::parser parser;
  simdjson::internal::string_builder<> builder;
  std::vector<std::string_view> kept;

  /// Reads `path` into the reused buffer, padded as the parser needs; false when it cannot be
  /// read. The buffer only grows, to the largest list read so far.
  bool load(const std::string& path) {
    foundation::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status;
    if (!fd || ::fstat(fd.get(), &status) != 0 || status.st_size < 0) return false;
    const auto expected = static_cast<std::size_t>(status.st_size);
    if (expected + simdjson::SIMDJSON_PADDING > capacity) {
      capacity = expected + simdjson::SIMDJSON_PADDING;
      buffer = std::make_unique_for_overwrite<char[]>(capacity);
    }
    size = 0;
    while (size < expected) {
      const ssize_t got = foundation::retryOnInterrupt([&] { return ::read(fd.get(), buffer.get() + size, expected - size); });
      if (got < 0) return false;
      if (got == 0) break;  // the file shrank meanwhile: what is there is parsed
      size += static_cast<std::size_t>(got);
    }
    std::memset(buffer.get() + size, 0, simdjson::SIMDJSON_PADDING);
    return true;
  }
  std::string_view text() const { return {buffer.get(), size}; }

  std::unique_ptr<char[]> buffer;
  std::size_t capacity = 0;
  std::size_t size = 0;
};

/// Sorts the rules of one list file on the document road; false (nothing added) when the file
/// cannot be loaded or does not parse as a JSON array.
bool bucketListDirectly(const foundation::URL& file, DocumentReader& reader, const RuleWhitelist& whitelist,
                        RuleBuckets& buckets, LeftOutRules& leftOut) {
  if (!reader.load(file.path())) return false;
  simdjson::dom::array rules;
  if (reader.parser.parse(reader.buffer.get(), reader.size, false).get_array().get(rules) != simdjson::SUCCESS) {
    return false;
  }
  ArrayElementTexts texts(reader.text());
  for (element rule : rules) {
    bool compact = false;
    const std::string_view ruleText = texts.next(compact);
    std::string_view type;
    // One pass over the rule's fields for its action and trigger (the last of repeated keys).
    std::optional<element> action, trigger;
    object fields;
    if (rule.get_object().get(fields) == simdjson::SUCCESS) {
      for (auto field : fields) {
        if (field.key == "action") {
          action = field.value;
        } else if (field.key == "trigger") {
          trigger = field.value;
        }
      }
    }
    auto typeValue = action ? lastField(*action, "type") : std::nullopt;
    if (!typeValue || typeValue->get_string().get(type) != simdjson::SUCCESS) {
      ++leftOut.byFault[static_cast<std::size_t>(checkRule(rule).value_or(RuleFault::NoActionType))];
      continue;
    }
    auto bucket = bucketForActionType(type);
    if (!bucket) continue;
    const DomainRewrite rewrite = rewriteIfDomain(trigger, whitelist, reader.kept);
    if (rewrite == DomainRewrite::Drop) continue;
    auto fault = checkRule(rule);
    if (rewrite == DomainRewrite::Unchanged) {
      if (fault) {
        ++leftOut.byFault[static_cast<std::size_t>(*fault)];
        continue;
      }
      if (compact && ruleText.size() >= 2 && ruleText.front() == '{' && ruleText.back() == '}') {
        buckets.addText(*bucket, ruleText);
      } else {
        reader.builder.clear();
        reader.builder.append(rule);
        buckets.addText(*bucket, reader.builder.str());
      }
      continue;
    }
    std::string changed = rewrittenRuleText(rule, reader.kept);
    if (fault) {
      // Removing sites can only mend the domain list; the changed rule is judged as it is written.
      auto value = foundation::JSONSerialization::JSONObjectWithData(changed);
      fault = value ? checkRule(*value) : std::optional<RuleFault>(RuleFault::NotAnObject);
      if (fault) {
        ++leftOut.byFault[static_cast<std::size_t>(*fault)];
        continue;
      }
    }
    buckets.addText(*bucket, changed);
  }
  return true;
}

}  // namespace

foundation::Result<RuleCompilationReport> bucketRules(const std::vector<CachedRuleList>& lists,
                                                      const RuleWhitelist& whitelist, RuleBuckets& buckets) {
  RuleCompilationReport report;
  DocumentReader reader;
  for (const auto& list : lists) {
    LeftOutRules leftOut{list.listID, list.listName, {}};
    const std::size_t keptBefore = buckets.totalCount();
    if (!bucketListDirectly(list.file, reader, whitelist, buckets, leftOut)) {
      RuleList rules = readRuleList(list.file);
      for (auto& rule : rules.rules) {
        if (auto added = bucketRule(std::move(rule), whitelist, buckets, leftOut); !added) return added.error();
      }
    }
    report.kept.push_back({list.listID, list.listName, buckets.totalCount() - keptBefore});
    if (leftOut.total() > 0) report.leftOut.push_back(std::move(leftOut));
  }
  // The exception rule only lifts other rules: with none kept, the built-in file is installed as is.
  auto exception = buckets.empty() ? std::nullopt : whitelistExceptionRule(whitelist);
  if (exception) {
    if (auto added = buckets.add(RuleBucket::IgnorePreviousRules, json::JSON(std::move(*exception))); !added) {
      return added.error();
    }
  }
  report.writtenRules = buckets.totalCount();
  return report;
}

foundation::Result<RuleCompilationReport> compileRuleFile(const RuleCompilerInputs& inputs) {
  auto buckets = RuleBuckets::open(inputs.output);
  if (!buckets) return buckets.error();
  auto report = bucketRules(inputs.lists, inputs.whitelist, *buckets);
  if (!report) return report.error();
  if (auto written = writeRuleFile(std::move(*buckets), inputs.output, inputs.builtInRuleFile); !written) {
    return written.error();
  }
  return report;
}

}  // namespace fendrel
