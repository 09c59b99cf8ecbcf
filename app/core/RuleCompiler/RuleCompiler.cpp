#include "app/core/RuleCompiler/RuleCompiler.h"

#include <fcntl.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
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
/// its "if-domain" (a list of strings) loses. `kept` gets the sites that stay, `keptAt` whether
/// each entry of the list stays.
enum class DomainRewrite { Unchanged, Changed, Drop };
DomainRewrite rewriteIfDomain(std::optional<element> trigger, const RuleWhitelist& whitelist,
                              std::vector<std::string_view>& kept, std::vector<std::uint8_t>& keptAt) {
  if (whitelist.empty() || !trigger) return DomainRewrite::Unchanged;
  auto domains = lastField(*trigger, "if-domain");
  simdjson::dom::array list;
  if (!domains || domains->get_array().get(list) != simdjson::SUCCESS) return DomainRewrite::Unchanged;
  kept.clear();
  keptAt.clear();
  std::size_t count = 0;
  for (element entry : list) {
    std::string_view domain;
    if (entry.get_string().get(domain) != simdjson::SUCCESS) return DomainRewrite::Unchanged;
    ++count;
    const bool keep = std::find(whitelist.stored.begin(), whitelist.stored.end(), domain) == whitelist.stored.end();
    if (keep) kept.push_back(domain);
    keptAt.push_back(keep);
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

bool isJSONSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

/// How a structural character changes the nesting depth: +1 for "{" and "[", -1 for "}" and "]".
constexpr auto kDepthChange = [] {
  std::array<signed char, 256> change{};
  change['{'] = change['['] = 1;
  change['}'] = change[']'] = -1;
  return change;
}();

/// The index after the closing quote of the string that opens at `open` in `text`; none when the
/// string does not end within `text`.
std::optional<std::size_t> stringEnd(std::string_view text, std::size_t open) {
  std::size_t at = open + 1;
  for (;;) {
    const void* found = at < text.size() ? std::memchr(text.data() + at, '"', text.size() - at) : nullptr;
    if (!found) return std::nullopt;
    const std::size_t quote = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    std::size_t backslashes = 0;
    while (quote - backslashes > open + 1 && text[quote - backslashes - 1] == '\\') ++backslashes;
    if (backslashes % 2 == 0) return quote + 1;
    at = quote + 1;
  }
}

/// How far one array element reaches in the text read so far.
enum class ElementScan { Complete, NeedsMore, Malformed };

/// Finds the end of the array element that starts at `pos` (not whitespace), tracking strings and
/// nesting only; the parser judges the element's text afterwards. On Complete, `pos` is after
/// the element and `compact` tells whether it holds no whitespace outside its strings (only such
/// text is copied as it stands: the rule file is written without whitespace). `atEnd` says that
/// `text` reaches the end of the file.
ElementScan scanElement(std::string_view text, std::size_t& pos, bool atEnd, bool& compact) {
  const auto incomplete = atEnd ? ElementScan::Malformed : ElementScan::NeedsMore;
  std::size_t at = pos;
  compact = true;
  const char first = text[at];
  if (first == '"') {
    auto end = stringEnd(text, at);
    if (!end) return incomplete;
    pos = *end;
    return ElementScan::Complete;
  }
  if (first == '{' || first == '[') {
    std::size_t depth = 0;
    while (at < text.size()) {
      const char c = text[at];
      if (c == '"') {
        auto end = stringEnd(text, at);
        if (!end) return incomplete;
        at = *end;
        continue;
      }
      ++at;
      if (c == '{' || c == '[') {
        ++depth;
      } else if (c == '}' || c == ']') {
        if (--depth == 0) {
          pos = at;
          return ElementScan::Complete;
        }
      } else if (isJSONSpace(c)) {
        compact = false;
      }
    }
    return incomplete;
  }
  // A number or a literal: up to the next delimiter.
  while (at < text.size()) {
    const char c = text[at];
    if (c == ',' || c == ']' || c == '}' || c == '[' || c == '{' || c == '"' || isJSONSpace(c)) break;
    ++at;
  }
  if (at == pos) return ElementScan::Malformed;
  if (at == text.size() && !atEnd) return ElementScan::NeedsMore;
  pos = at;
  return ElementScan::Complete;
}

// The whitelist's change to a compact rule, made on the rule's own text: everything but the
// sites that go is copied as it stands in the list, as an unchanged rule is. The text is valid,
// compact JSON (the parser has read it), so a value ends where its brackets balance again.

/// The index after the value that starts at `at` in compact, valid JSON `text`.
std::size_t valueEnd(std::string_view text, std::size_t at) {
  std::size_t depth = 0;
  for (;;) {
    const char c = text[at];
    if (c == '"') {
      at = *stringEnd(text, at);
    } else if (c == '{' || c == '[') {
      ++depth;
      ++at;
    } else if (c == '}' || c == ']') {
      --depth;
      ++at;
    } else {
      ++at;
    }
    if (depth == 0 && (at == text.size() || text[at] == ',' || text[at] == '}' || text[at] == ']')) return at;
  }
}

/// Where the value of the last member `name` of the object at `open` in compact, valid JSON
/// `text` lies: [first, second). Fails when the object has none, or when a key is written with
/// an escape (it could stand for `name`; the parser's reading decides then).
enum class MemberSearch { Found, Missing, Unsure };
MemberSearch lastMember(std::string_view text, std::size_t open, std::string_view name,
                        std::pair<std::size_t, std::size_t>& value) {
  MemberSearch result = MemberSearch::Missing;
  std::size_t at = open + 1;
  if (text[at] == '}') return result;
  for (;;) {
    const std::size_t keyEnd = *stringEnd(text, at);
    const std::string_view key = text.substr(at + 1, keyEnd - at - 2);
    if (key.find('\\') != std::string_view::npos) return MemberSearch::Unsure;
    const std::size_t start = keyEnd + 1;  // after ":"
    const std::size_t end = valueEnd(text, start);
    if (key == name) {
      value = {start, end};
      result = MemberSearch::Found;
    }
    if (text[end] == '}') return result;
    at = end + 1;
  }
}

/// Writes to `out` the compact `rule` with the entries of its trigger's "if-domain" list that
/// `keptAt` does not keep left out. False when the text cannot be changed so with certainty (a
/// key written with an escape), and the caller writes the rule from the parsed document instead.
bool spliceIfDomain(std::string_view rule, const std::vector<std::uint8_t>& keptAt, std::string& out) {
  std::pair<std::size_t, std::size_t> trigger, domains;
  if (lastMember(rule, 0, "trigger", trigger) != MemberSearch::Found || rule[trigger.first] != '{') return false;
  if (lastMember(rule, trigger.first, "if-domain", domains) != MemberSearch::Found || rule[domains.first] != '[') {
    return false;
  }
  out.assign(rule.substr(0, domains.first + 1));
  std::size_t at = domains.first + 1, index = 0;
  bool first = true;
  while (rule[at] != ']') {
    const std::size_t end = valueEnd(rule, at);
    if (index >= keptAt.size()) return false;
    if (keptAt[index++]) {
      if (!first) out.push_back(',');
      out.append(rule.substr(at, end - at));
      first = false;
    }
    at = rule[end] == ',' ? end + 1 : end;
  }
  if (index != keptAt.size()) return false;
  out.append(rule.substr(domains.second - 1));
  return true;
}

/// Bytes of a list read at a time. Rules are parsed a window at a time, so that the memory a
/// compilation needs stays the same whatever the size of the lists; a rule longer than the
/// window makes it grow to fit.
constexpr std::size_t kListWindowBytes = 32 * 1024;

/// What the document road keeps across lists: the window a list is read through and the parser
/// its rules are parsed with, both sized for the window once and reused, so that no list frees
/// memory that the next one touches afresh.
struct DocumentReader {
  simdjson::dom::parser parser;
  simdjson::internal::string_builder<> builder;
  std::vector<std::string_view> kept;
  std::vector<std::uint8_t> keptAt;
  /// A rule changed by the whitelist, written here before it goes to its bucket.
  std::string changed;

  /// The window: bytes [start, end) of `window()` are read but not yet used. The storage holds
  /// one byte before the window (where a batch's "[" may go), and one for "]" and the parser's
  /// padding after it.
  std::unique_ptr<char[]> storage;
  std::size_t windowCapacity = 0;
  std::size_t start = 0;
  std::size_t end = 0;
  bool atEnd = false;

  /// One element of the batch: where its text lies in the window.
  struct Element {
    std::size_t from = 0;
    std::size_t to = 0;
    bool compact = false;
  };
  std::vector<Element> elements;

  char* window() { return storage.get() + 1; }

  /// Sizes the window and the parser for `capacity` bytes, keeping the unused bytes. False when
  /// the parser cannot get its memory.
  bool reserve(std::size_t capacity) {
    // The byte before, the window, the "]" that may follow its last byte, and the padding.
    const std::size_t size = 1 + capacity + 1 + simdjson::SIMDJSON_PADDING;
    auto grown = std::make_unique_for_overwrite<char[]>(size);
    foundation::prefaultForWriting(grown.get(), size);
    // A batch is at most the window with "[" before it and "]" after it. The parser sizes its
    // document for the longest text it has been given, so it is given that length once, as
    // blanks (which it takes as an empty text), rather than growing batch by batch.
    std::memset(grown.get(), ' ', size);
    if (parser.parse(grown.get(), capacity + 2, false).error() != simdjson::EMPTY) return false;
    // The parser's buffers are sized for the worst text; a window of rules fills about a
    // capacity's worth of bytes of each (one structural character in five, mostly strings).
    // Those pages come in one call each rather than one fault at a time.
    foundation::prefaultForWriting(parser.implementation->structural_indexes.get(), capacity);
    foundation::prefaultForWriting(parser.doc.tape.get(), capacity);
    foundation::prefaultForWriting(parser.doc.string_buf.get(), capacity);
    if (end > start) std::memcpy(grown.get() + 1, window() + start, end - start);
    end -= start;
    start = 0;
    storage = std::move(grown);
    windowCapacity = capacity;
    // Room for a window of rules of 64 bytes or more (they are about 150).
    elements.reserve(capacity / 64);
    return true;
  }

  /// Gives back a window grown for a rule longer than it, so that one rare rule does not hold
  /// its memory for the life of the process; the next list starts with the usual size.
  void shrink() {
    if (windowCapacity <= kListWindowBytes) return;
    parser = simdjson::dom::parser();
    storage.reset();
    windowCapacity = start = end = 0;
  }

  /// Keeps the unused bytes, moved to the front of the window, and reads more behind them; the
  /// window doubles when the unused bytes fill it. False on a read error.
  bool refill(int fd) {
    if (start > 0) {
      std::memmove(window(), window() + start, end - start);
      end -= start;
      start = 0;
    }
    if (end == windowCapacity && !reserve(windowCapacity ? windowCapacity * 2 : kListWindowBytes)) return false;
    while (end < windowCapacity) {
      const ssize_t got =
          foundation::retryOnInterrupt([&] { return ::read(fd, window() + end, windowCapacity - end); });
      if (got < 0) return false;
      if (got == 0) {
        atEnd = true;
        break;
      }
      end += static_cast<std::size_t>(got);
    }
    return true;
  }
};

/// The reader the compilations of this process share, one at a time: its window and parser keep
/// their memory from one compilation to the next. It is never freed; the process's exit gives
/// its memory back in one go instead of unmapping it piece by piece.
struct SharedReader {
  std::mutex mutex;
  DocumentReader reader;
};

SharedReader& sharedReader() {
  static SharedReader* const shared = new SharedReader;
  return *shared;
}

/// Whether `key` is `name`, compared with a length known when compiling.
template <std::size_t N>
bool keyIs(std::string_view key, const char (&name)[N]) {
  return key.size() == N - 1 && std::memcmp(key.data(), name, N - 1) == 0;
}

/// Sorts one rule of a parsed batch; `ruleText` is its text as it stands in the list, copied when
/// the rule is kept unchanged and `compact`.
void bucketParsedRule(element rule, std::string_view ruleText, bool compact, DocumentReader& reader,
                      const RuleWhitelist& whitelist, RuleBuckets& buckets, LeftOutRules& leftOut) {
  // One pass over the rule's fields for its action and trigger, one over the action's for its
  // type and selector, each the last of repeated keys as the browser reads them; the checker is
  // handed what they found rather than looking for it again.
  std::optional<element> action, trigger;
  object fields;
  if (rule.get_object().get(fields) == simdjson::SUCCESS) {
    for (auto field : fields) {
      if (keyIs(field.key, "action")) {
        action = field.value;
      } else if (keyIs(field.key, "trigger")) {
        trigger = field.value;
      }
    }
  }
  std::string_view type;
  std::optional<std::string_view> selector;
  bool typed = false;
  object actionFields;
  if (action && action->get_object().get(actionFields) == simdjson::SUCCESS) {
    std::optional<element> typeValue, selectorValue;
    for (auto field : actionFields) {
      if (keyIs(field.key, "type")) {
        typeValue = field.value;
      } else if (keyIs(field.key, "selector")) {
        selectorValue = field.value;
      }
    }
    typed = typeValue && typeValue->get_string().get(type) == simdjson::SUCCESS;
    std::string_view text;
    if (selectorValue && selectorValue->get_string().get(text) == simdjson::SUCCESS) selector = text;
  }
  if (!typed) {
    ++leftOut.byFault[static_cast<std::size_t>(checkRule(rule).value_or(RuleFault::NoActionType))];
    return;
  }
  auto bucket = bucketForActionType(type);
  if (!bucket) return;
  const DomainRewrite rewrite = rewriteIfDomain(trigger, whitelist, reader.kept, reader.keptAt);
  if (rewrite == DomainRewrite::Drop) return;
  auto fault = trigger && trigger->is_object() ? checkRuleParts(*trigger, type, selector) : checkRule(rule);
  if (rewrite == DomainRewrite::Unchanged) {
    if (fault) {
      ++leftOut.byFault[static_cast<std::size_t>(*fault)];
      return;
    }
    if (compact && ruleText.size() >= 2 && ruleText.front() == '{' && ruleText.back() == '}') {
      buckets.addText(*bucket, ruleText);
    } else {
      reader.builder.clear();
      reader.builder.append(rule);
      buckets.addText(*bucket, reader.builder.str());
    }
    return;
  }
  std::string& changed = reader.changed;
  if (!compact || !spliceIfDomain(ruleText, reader.keptAt, changed)) changed = rewrittenRuleText(rule, reader.kept);
  if (fault) {
    // Removing sites can only mend the domain list; the changed rule is judged as it is written.
    auto value = foundation::JSONSerialization::JSONObjectWithData(changed);
    fault = value ? checkRule(*value) : std::optional<RuleFault>(RuleFault::NotAnObject);
    if (fault) {
      ++leftOut.byFault[static_cast<std::size_t>(*fault)];
      return;
    }
  }
  buckets.addText(*bucket, changed);
}

/// Sorts the rules of a parsed batch, the reader's elements giving where each one's text lies.
void bucketElements(simdjson::dom::array rules, DocumentReader& reader, const RuleWhitelist& whitelist,
                    RuleBuckets& buckets, LeftOutRules& leftOut) {
  std::size_t index = 0;
  for (element rule : rules) {
    const auto& at = reader.elements[index++];
    const std::string_view ruleText(reader.window() + at.from, at.to - at.from);
    bucketParsedRule(rule, ruleText, at.compact, reader, whitelist, buckets, leftOut);
  }
}

/// Parses the elements gathered in the reader as one batch and sorts its rules; false when the
/// batch is not valid JSON. The batch is parsed where it lies in the window: the byte before its
/// first element becomes "[" and the byte after its last one "]" while it is parsed (the parser
/// copies what it keeps of strings), and both are put back afterwards.
bool bucketBatch(DocumentReader& reader, const RuleWhitelist& whitelist, RuleBuckets& buckets, LeftOutRules& leftOut) {
  if (reader.elements.empty()) return true;
  char* const open = reader.window() + reader.elements.front().from - 1;
  char* const close = reader.window() + reader.elements.back().to;
  const char openWas = *open, closeWas = *close;
  *open = '[';
  *close = ']';
  simdjson::dom::array rules;
  const bool parsed =
      reader.parser.parse(open, static_cast<std::size_t>(close - open) + 1, false).get_array().get(rules) ==
          simdjson::SUCCESS &&
      // Valid JSON splits into the same elements as the scan; anything else is not trusted.
      rules.size() == reader.elements.size();
  if (parsed) bucketElements(rules, reader, whitelist, buckets, leftOut);
  *open = openWas;
  *close = closeWas;
  reader.elements.clear();
  return parsed;
}

/// Where a batch of whole elements that starts at `from` (an element's first byte) may end: at
/// the end of the file, the array's closing "]"; before it, the last "," of the window that
/// stands between a "}" and a "{" (whitespace aside), which in a rule list parts two rules. A
/// guess only, made without reading the window from the start; parseGuessedBatch proves it.
std::optional<std::size_t> guessBatchEnd(std::string_view text, std::size_t from, bool atEnd) {
  if (atEnd) {
    std::size_t last = text.size();
    while (last > from && isJSONSpace(text[last - 1])) --last;
    if (last > from && text[last - 1] == ']') return last - 1;
    return std::nullopt;
  }
  std::size_t before = text.size();
  while (before > from + 1) {
    const void* found = ::memrchr(text.data() + from + 1, '{', before - from - 1);
    if (!found) return std::nullopt;
    std::size_t at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    before = at;
    while (at > from && isJSONSpace(text[at - 1])) --at;
    if (at <= from || text[at - 1] != ',') continue;
    const std::size_t comma = --at;
    while (at > from && isJSONSpace(text[at - 1])) --at;
    if (at > from && text[at - 1] == '}') return comma;
  }
  return std::nullopt;
}

/// Parses text [from, end) of the window as one batch, "[" and "]" standing in for the bytes
/// before and at `end` as in bucketBatch, and finds its elements without reading the text again:
/// from the positions of its structural characters, which the parser has just found. The parse
/// is what proves the guessed end: text that stops inside a string or inside an element never
/// parses as an array once "]" is put after it, so a batch that parses ends after an element.
/// False, with nothing sorted, when the batch does not parse (the window is then scanned).
bool parseGuessedBatch(DocumentReader& reader, std::size_t from, std::size_t end, const RuleWhitelist& whitelist,
                       RuleBuckets& buckets, LeftOutRules& leftOut) {
  char* const open = reader.window() + from - 1;
  char* const close = reader.window() + end;
  const char openWas = *open, closeWas = *close;
  *open = '[';
  *close = ']';
  const std::size_t length = static_cast<std::size_t>(close - open) + 1;
  simdjson::dom::array rules;
  bool parsed = reader.parser.parse(open, length, false).get_array().get(rules) == simdjson::SUCCESS;
  if (parsed) {
    // The structural characters of the batch in order, the batch's "[" first and its "]" last:
    // every element starts at the one after "[" or after a "," outside all elements, and ends
    // before that "," or the final "]" (less whitespace). An element is compact when none of its
    // structural characters but its first follows whitespace: text between them is a token or
    // nothing. In valid JSON the byte before a structural character is whitespace exactly when
    // it is at most a space (nothing else that low stands outside a string).
    const auto& stage1 = *reader.parser.implementation;
    const std::uint32_t* index = stage1.structural_indexes.get();
    const std::uint32_t last = stage1.n_structural_indexes - 1;
    reader.elements.clear();
    const auto addElement = [&](std::uint32_t first, std::uint32_t separator, bool compact) {
      std::size_t to = index[separator];
      while (isJSONSpace(open[to - 1])) --to;
      // Window offsets: the window starts one byte after "[".
      reader.elements.push_back({index[first] - 1 + from, to - 1 + from, compact});
    };
    // The first element's first structural character follows "[" itself; every later one's is
    // taken with the "," before it, so that the whitespace before it does not count.
    int depth = 0;
    std::uint32_t first = 1;
    bool space = false;
    for (std::uint32_t s = 1; s < last; ++s) {
      const auto c = static_cast<unsigned char>(open[index[s]]);
      if (c == ',' && depth == 0) {
        addElement(first, s, !space);
        first = s + 1;
        space = false;
        if (first < last) {
          depth += kDepthChange[static_cast<unsigned char>(open[index[first]])];
          ++s;
        }
        continue;
      }
      space |= static_cast<unsigned char>(open[index[s] - 1]) <= ' ';
      depth += kDepthChange[c];
    }
    if (first < last) addElement(first, last, !space);
    // The parser's own count of elements confirms the walk; a disagreement leaves the window
    // to the scan.
    parsed = rules.size() == reader.elements.size();
  }
  if (parsed) {
    bucketElements(rules, reader, whitelist, buckets, leftOut);
  }
  *open = openWas;
  *close = closeWas;
  reader.elements.clear();
  return parsed;
}

/// Sorts the rules of one list file on the document road: the file is read a window at a time,
/// split into its top-level elements, and each window's rules are parsed as one batch. False
/// when the file cannot be read or is not one JSON array (a byte-order mark included); what the
/// list added is then taken back by the caller.
bool bucketListDirectly(const foundation::URL& file, DocumentReader& reader, const RuleWhitelist& whitelist,
                        RuleBuckets& buckets, LeftOutRules& leftOut) {
  foundation::FileDescriptor fd(::open(file.path().c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  (void)::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  reader.start = reader.end = 0;
  reader.atEnd = false;
  reader.elements.clear();
  // Where the scan stands in the array's text.
  enum class Expect { Open, FirstOrClose, Element, CommaOrClose, Nothing } expect = Expect::Open;
  for (;;) {
    if (!reader.refill(fd.get())) return false;
    const std::string_view text(reader.window(), reader.end);
    std::size_t pos = reader.start;
    // The window's elements are first taken as one guessed batch (see guessBatchEnd); the ones
    // the guess leaves, or all when it fails, are found by the scan.
    bool guess = true;
    for (;;) {
      while (pos < text.size() && isJSONSpace(text[pos])) ++pos;
      if (pos == text.size()) break;
      const char c = text[pos];
      if (expect == Expect::Open) {
        if (c != '[') return false;
        ++pos;
        expect = Expect::FirstOrClose;
      } else if (expect == Expect::CommaOrClose) {
        if (c != ',' && c != ']') return false;
        ++pos;
        expect = c == ',' ? Expect::Element : Expect::Nothing;
      } else if (expect == Expect::FirstOrClose && c == ']') {
        ++pos;
        expect = Expect::Nothing;
      } else if (expect == Expect::Nothing) {
        return false;
      } else {
        if (guess && reader.elements.empty()) {
          guess = false;
          const auto end = guessBatchEnd(text, pos, reader.atEnd);
          if (end && parseGuessedBatch(reader, pos, *end, whitelist, buckets, leftOut)) {
            expect = text[*end] == ']' ? Expect::Nothing : Expect::Element;
            pos = *end + 1;
            guess = expect == Expect::Element;
            continue;
          }
        }
        DocumentReader::Element found{pos, pos, false};
        const ElementScan scan = scanElement(text, found.to, reader.atEnd, found.compact);
        if (scan == ElementScan::Malformed) return false;
        if (scan == ElementScan::NeedsMore) break;
        reader.elements.push_back(found);
        pos = found.to;
        expect = Expect::CommaOrClose;
      }
    }
    // Whatever the scan has not used yet (an element cut by the window) waits for the next read.
    reader.start = pos;
    if (!bucketBatch(reader, whitelist, buckets, leftOut)) return false;
    if (reader.atEnd) return expect == Expect::Nothing && reader.start == reader.end;
  }
}

}  // namespace

foundation::Result<RuleCompilationReport> bucketRules(const std::vector<CachedRuleList>& lists,
                                                      const RuleWhitelist& whitelist, RuleBuckets& buckets) {
  RuleCompilationReport report;
  // The process's reader, unless another compilation is using it.
  SharedReader& shared = sharedReader();
  std::unique_lock lock(shared.mutex, std::try_to_lock);
  std::optional<DocumentReader> own;
  DocumentReader& reader = lock.owns_lock() ? shared.reader : own.emplace();
  struct Shrink {
    DocumentReader& reader;
    ~Shrink() { reader.shrink(); }
  } shrinkAtEnd{reader};
  for (const auto& list : lists) {
    LeftOutRules leftOut{list.listID, list.listName, {}};
    const std::size_t keptBefore = buckets.totalCount();
    const RuleBuckets::Mark mark = buckets.mark();
    if (!bucketListDirectly(list.file, reader, whitelist, buckets, leftOut)) {
      // Not an array the document road takes: nothing of what it added stays, and the general
      // road reads the list as a whole.
      buckets.rollBack(mark);
      leftOut.byFault = {};
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
