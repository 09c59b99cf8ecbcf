#include "app/core/RuleCompiler/RuleChecker.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <simdjson.h>

#include "platform/foundation/Value.h"

namespace fendrel {
namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

// ---------------------------------------------------------------------------------------------
// URL filters
//
// The browser parses a URL filter with the JavaScript regular-expression parser (no flags, so the
// web-compatibility grammar: a "{" that does not start a repetition is a literal, an escape of an
// ordinary character is that character, "\1" without groups is an octal escape) and then refuses
// every construct its URL matcher cannot build. The scanner below follows both steps.

/// The longest url-filter whose cost is judged without counting its matcher (below). The browser
/// takes filters of any length (a megabyte of text compiles), but its work grows with the square
/// of a filter's length when the filter repeats itself ("aaaa…", "abab…"), so every longer filter
/// is counted.
constexpr std::size_t kMaxQuickURLFilterLength = 2048;

/// The longest url-filter whose matcher is counted. Counting takes memory and time that grow with
/// the square of a filter's length; above this only plain text is counted (the quick way its
/// shape allows) and any other filter is left out. The browser's compiler needs a tenth of a
/// second or more at this length even for text that never repeats (about 20 microseconds a
/// character), and no real list comes near it.
constexpr std::size_t kMaxURLFilterLength = 8192;

/// A quick bound first: a filter with at most this many terms that match more than one character
/// (".", a class) without "*" or "+" where a match can start anywhere (no leading "^", or after a
/// "*" or "+") has far fewer matcher states than the limit below (each such term at most doubles
/// them), so only filters with more are counted exactly.
constexpr std::size_t kMaxFloatingWideTerms = 12;

/// The most states the deterministic matcher of one url-filter may have. The browser's compiler
/// turns a filter into an automaton that follows every place in the filter a URL can be at, and
/// then into one state for every set of such places a URL can reach; its time grows faster than
/// the number of those states. Measured against WebKit: 16,384 states ("a" and 13 ".") take about
/// 0.8 s, 65,536 about 3 s, 121,393 ("ab" and 22 ".") and 131,072 ("a" and 16 ".") 14 to 20 s.
/// The limit lies between: what is kept compiles in a few seconds, what is left out takes longer.
constexpr std::size_t kMaxMatcherStates = 98'304;

/// The most places the states of that matcher may hold together. Each state is built from its set
/// of places, so the browser's work grows with their sum as well: measured against WebKit, a filter
/// that overlaps itself at every character takes 0.3 s for 2,048 "a" (2.1 million places), 0.7 s
/// for 2,895 (4.2 million) and about 2 s for 4,096 (8.4 million); "ab" repeated 2,048 times (4.2
/// million) 0.5 to 1.1 s. The limit keeps what compiles in about two seconds, as the state limit
/// does, so that what is left out takes WebKit well over a second.
constexpr std::size_t kMaxMatcherPlaces = std::size_t{1} << 23;

/// Work allowed for counting those states (words of place sets and follow entries touched). A
/// filter that needs more holds far more places at once than any the limits above let through
/// ("a" followed by 2,047 "."); counting stops there and leaves it out.
constexpr std::size_t kMaxMatcherWork = std::size_t{1} << 27;

/// The most words the states found may take (32 MiB). Only a long filter with many states comes
/// near it (8,192 places and 32,000 states, 4,096 places and 64,000), which takes WebKit over a
/// second as well.
constexpr std::size_t kMaxMatcherStateWords = std::size_t{1} << 22;

/// Repetition bounds saturate here; a bound of this value means "no upper bound".
constexpr std::uint64_t kUnbounded = 0xFFFFFFFFu;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isOctalDigit(char c) { return c >= '0' && c <= '7'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isBuiltInClass(char c) {
  return c == 'd' || c == 'D' || c == 'w' || c == 'W' || c == 's' || c == 'S';
}
/// Characters that stand for themselves (or any character, "."): no syntax starts with them.
constexpr auto kPlain = [] {
  std::array<bool, 256> plain{};
  plain.fill(true);
  for (unsigned char c : std::string_view("|^$()[\\*+?{", 11)) plain[c] = false;
  plain[0] = false;
  return plain;
}();
bool isPlain(char c) { return kPlain[static_cast<unsigned char>(c)]; }
bool isNameStart(char c) { return isLetter(c) || c == '_' || c == '$'; }
bool isNamePart(char c) { return isNameStart(c) || isDigit(c); }

int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

/// A set of ASCII characters.
struct CharSet {
  std::uint64_t bits[2] = {0, 0};
  void add(unsigned c) { bits[c >> 6] |= std::uint64_t{1} << (c & 63); }
  void addRange(unsigned low, unsigned high) {
    for (unsigned c = low; c <= high && c < 128; ++c) add(c);
  }
  bool has(unsigned c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
  bool empty() const { return (bits[0] | bits[1]) == 0; }
  CharSet complement() const { return {{~bits[0], ~bits[1]}}; }
  /// The browser matches url-filters without regard to letter case: a letter stands for both.
  CharSet caseFolded() const {
    // Upper-case letters are bits 1 to 26 of the second word, lower-case ones bits 33 to 58.
    constexpr std::uint64_t kLetters = (std::uint64_t{1} << 26) - 1;
    const std::uint64_t letters = ((bits[1] >> 1) | (bits[1] >> 33)) & kLetters;
    return {{bits[0], bits[1] | (letters << 1) | (letters << 33)}};
  }
  static CharSet single(unsigned c) {
    CharSet set;
    set.add(c);
    return set;
  }
  /// "." matches every character but the line ends.
  static CharSet any() {
    CharSet set = CharSet{}.complement();
    set.bits[0] &= ~((std::uint64_t{1} << '\n') | (std::uint64_t{1} << '\r'));
    return set;
  }
};

/// The automaton the browser's compiler builds for one url-filter, as places in the filter (one
/// for each term that matches a character) and which place can follow which, and the number of
/// states of its deterministic form: one for every set of places a URL can be at once. Built
/// term by term while the filter is read. Without alternatives, a filter is a sequence of terms
/// and groups, each maybe repeated, so first, last and optional describe each part.
class MatcherStates {
 public:
  /// `maxPlaces` bounds the number of terms (a filter's length does); `floating` when a match
  /// can start anywhere (no leading "^").
  MatcherStates(std::size_t maxPlaces, bool floating)
      : words_((maxPlaces + 1 + 63) / 64), floating_(floating),
        follow_(maxPlaces * words_, 0) {
    sequences_.push_back(part());
  }

  /// A term matching one character of `chars`; an empty set (the end of the URL) adds no place.
  void term(CharSet chars) {
    pending_ = part();
    if (chars.empty()) return;
    const std::size_t place = chars_.size();
    chars_.push_back(chars.caseFolded());
    set(pending_.first, place);
    set(pending_.last, place);
    pending_.optional = false;
  }
  void openGroup() { sequences_.push_back(part()); }
  /// The group just closed becomes the pending term.
  void closeGroup() {
    pending_ = std::move(sequences_.back());
    sequences_.pop_back();
  }
  /// Applies the repetition `kind` ('*', '+', '?' or '\0') to the pending term and appends it.
  void repeat(char kind) {
    Part& item = pending_;
    if (kind == '*' || kind == '+') followAll(item.last, item.first);
    if (kind == '*' || kind == '?') item.optional = true;
    Part& sequence = sequences_.back();
    followAll(sequence.last, item.first);
    if (sequence.optional) orInto(sequence.first, item.first);
    if (item.optional) {
      orInto(sequence.last, item.last);
    } else {
      sequence.last = item.last;
    }
    sequence.optional = sequence.optional && item.optional;
  }

  /// Whether the deterministic form has more than `limit` states, or more than `placeLimit`
  /// places in all its states together, or counting them needs more than `work` word operations
  /// or more memory than kMaxMatcherStateWords.
  bool exceeds(std::size_t limit, std::size_t placeLimit, std::size_t work) const {
    const std::size_t places = chars_.size();
    // A state is the set of places a URL can be at, with the start (bit `places`) while a match
    // can still begin: always when floating, else only before the first character.
    const std::size_t words = (places + 1 + 63) / 64;
    const std::size_t start = places;
    // Characters that no place tells apart lead to the same state: one class each.
    std::vector<Bits> classes(128, Bits(words, 0));
    for (std::size_t place = 0; place < places; ++place) {
      for (unsigned c = 0; c < 128; ++c) {
        if (chars_[place].has(c)) set(classes[c], place);
      }
    }
    std::sort(classes.begin(), classes.end());
    classes.erase(std::unique(classes.begin(), classes.end()), classes.end());
    // The places that can follow each place, as a list where that is shorter than the row: a
    // filter's terms mostly lead to the next one only.
    std::vector<std::uint32_t> rowStart(places + 1, 0), targets;
    std::vector<std::uint8_t> dense(places, 0);
    for (std::size_t place = 0; place < places; ++place) {
      const std::uint64_t* row = &follow_[place * words_];
      std::size_t count = 0;
      for (std::size_t w = 0; w < words; ++w) count += static_cast<std::size_t>(std::popcount(row[w]));
      rowStart[place] = static_cast<std::uint32_t>(targets.size());
      if (count > words) {
        dense[place] = 1;
        continue;
      }
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t word = row[w]; word; word &= word - 1) {
          targets.push_back(static_cast<std::uint32_t>(w * 64 + static_cast<std::size_t>(std::countr_zero(word))));
        }
      }
    }
    rowStart[places] = static_cast<std::uint32_t>(targets.size());
    const Bits first(sequences_.front().first.begin(), sequences_.front().first.begin() + static_cast<std::ptrdiff_t>(words));

    // The states found, one after the other, and an open-addressing table of their numbers + 1.
    std::vector<std::uint64_t> found;
    std::vector<std::uint32_t> table(1024, 0);
    std::size_t count = 0;
    std::size_t placeSum = 0;  // the start counts as a place too: one more per state at most
    auto hash = [&](const std::uint64_t* bits) {
      std::uint64_t h = 0x9E3779B97F4A7C15u;
      for (std::size_t w = 0; w < words; ++w) h = (h ^ bits[w]) * 0xFF51AFD7ED558CCDu;
      // Products carry low bits only upwards: fold the high ones down before the table's mask.
      h ^= h >> 32;
      h *= 0xC4CEB9FE1A85EC53u;
      return static_cast<std::size_t>(h ^ (h >> 29));
    };
    // Adds `bits` unless found before; false when the limit is passed.
    auto add = [&](const std::uint64_t* bits) {
      if (2 * (count + 1) > table.size()) {
        std::vector<std::uint32_t> bigger(table.size() * 2, 0);
        for (std::size_t n = 0; n < count; ++n) {
          std::size_t slot = hash(&found[n * words]) & (bigger.size() - 1);
          while (bigger[slot]) slot = (slot + 1) & (bigger.size() - 1);
          bigger[slot] = static_cast<std::uint32_t>(n + 1);
        }
        table = std::move(bigger);
      }
      std::size_t slot = hash(bits) & (table.size() - 1);
      while (table[slot]) {
        if (std::equal(bits, bits + words, &found[(table[slot] - 1) * words])) return true;
        slot = (slot + 1) & (table.size() - 1);
      }
      if (count == limit || (count + 1) * words > kMaxMatcherStateWords) return false;
      for (std::size_t w = 0; w < words; ++w) placeSum += static_cast<std::size_t>(std::popcount(bits[w]));
      if (placeSum > placeLimit) return false;
      table[slot] = static_cast<std::uint32_t>(++count);
      found.insert(found.end(), bits, bits + words);
      return true;
    };
    Bits bits(words, 0), reach(words, 0), next(words, 0);
    set(bits, start);
    add(bits.data());
    std::size_t spent = 0;
    bool reachedNothing = false;  // the state of no place (but the start) was added
    for (std::size_t n = 0; n < count; ++n) {
      std::copy_n(&found[n * words], words, bits.begin());
      // Every place that can come next, whatever the character.
      std::fill(reach.begin(), reach.end(), 0);
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t word = bits[w]; word; word &= word - 1) {
          const std::size_t place = w * 64 + static_cast<std::size_t>(std::countr_zero(word));
          if (place == start) {
            orInto(reach, first);
            spent += words;
          } else if (dense[place]) {
            const std::uint64_t* row = &follow_[place * words_];
            for (std::size_t v = 0; v < words; ++v) reach[v] |= row[v];
            spent += words;
          } else {
            for (std::uint32_t t = rowStart[place]; t < rowStart[place + 1]; ++t) set(reach, targets[t]);
            spent += rowStart[place + 1] - rowStart[place] + 1;
          }
        }
      }
      // The words of `reach` that hold places: a long filter's states mostly reach one or two
      // places, which most classes miss, all leading to the same state of no place.
      std::size_t low = 0;
      while (low < words && !reach[low]) ++low;
      std::size_t high = low;  // an empty `reach` leaves the range empty
      for (std::size_t w = low; w < words; ++w) {
        if (reach[w]) high = w + 1;
      }
      for (const Bits& accepts : classes) {
        bool hits = false;
        for (std::size_t w = low; w < high; ++w) hits |= (reach[w] & accepts[w]) != 0;
        spent += high - low + 1;
        if (!hits && reachedNothing) continue;
        reachedNothing = reachedNothing || !hits;
        for (std::size_t w = 0; w < words; ++w) next[w] = reach[w] & accepts[w];
        if (floating_) set(next, start);
        spent += 2 * words;
        if (!add(next.data())) return true;
      }
      if (spent > work) return true;
    }
    return false;
  }

 private:
  using Bits = std::vector<std::uint64_t>;
  struct Part {
    Bits first, last;
    bool optional = true;
  };

  Part part() const { return {Bits(words_, 0), Bits(words_, 0), true}; }
  static void set(Bits& bits, std::size_t place) { bits[place / 64] |= std::uint64_t{1} << (place % 64); }
  static void orInto(Bits& into, const Bits& from) {
    for (std::size_t w = 0; w < into.size(); ++w) into[w] |= from[w];
  }
  /// Every place of `from` can be followed by every place of `to`.
  void followAll(const Bits& from, const Bits& to) {
    for (std::size_t w = 0; w < words_; ++w) {
      for (std::uint64_t word = from[w]; word; word &= word - 1) {
        std::uint64_t* row = &follow_[(w * 64 + static_cast<std::size_t>(std::countr_zero(word))) * words_];
        for (std::size_t v = 0; v < words_; ++v) row[v] |= to[v];
      }
    }
  }

  std::size_t words_;
  bool floating_;
  std::vector<std::uint64_t> follow_;
  std::vector<CharSet> chars_;
  std::vector<Part> sequences_;
  Part pending_;
};

/// Reads a url-filter once for its verdict; with `kBuildsMatcher`, builds its matcher as well
/// (only for the few filters that may be costly, so that the ordinary scan carries none of it).
template <bool kBuildsMatcher>
class URLFilterScanner {
 public:
  explicit URLFilterScanner(std::string_view pattern, MatcherStates* matcher = nullptr)
      : p_(pattern), matcher_(matcher) {}
  template <bool>
  friend class URLFilterScanner;

  URLFilterVerdict verdict() {
    if (!supported()) return URLFilterVerdict::Unsupported;
    if (p_.size() > kMaxURLFilterLength) {
      return literalTooCostly() ? URLFilterVerdict::TooCostly : URLFilterVerdict::Supported;
    }
    const bool mayBeCostly = p_.size() > kMaxQuickURLFilterLength || floatingWideTerms_ > kMaxFloatingWideTerms;
    if (mayBeCostly && matcherTooCostly()) return URLFilterVerdict::TooCostly;
    return URLFilterVerdict::Supported;
  }

 private:
  /// Judges a filter too long to count its matcher: one of plain text (ordinary characters and
  /// escaped punctuation, maybe "^" first and "$" last) is counted the quick way, as a matcher of
  /// text has one state for each length of its start a URL can end with, holding the places of
  /// every shorter start it ends with as well; any other is left out.
  bool literalTooCostly() const {
    std::string text;
    const bool anchored = p_.front() == '^';
    for (std::size_t i = anchored ? 1 : 0; i < p_.size(); ++i) {
      char c = p_[i];
      if (c == '$' && i + 1 == p_.size()) break;
      if (c == '\\' && i + 1 < p_.size() && !isLetter(p_[i + 1]) && !isDigit(p_[i + 1]) && p_[i + 1] != '\0') {
        c = p_[++i];
      } else if (!isPlain(c) || c == '.') {
        return true;
      }
      text.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    const std::size_t n = text.size();
    // Anchored: one state for each length read, and one for a URL that left the text.
    if (anchored) return n + 2 > kMaxMatcherStates;
    if (n + 1 > kMaxMatcherStates) return true;
    // Floating: the state after the first `k` characters holds the start and every place `j`
    // where the first `j` characters end the first `k` (the borders of the first `k`).
    std::vector<std::uint32_t> border(n + 1, 0), borders(n + 1, 0);
    std::size_t places = 1;
    for (std::size_t k = 1; k <= n; ++k) {
      if (k > 1) {
        std::uint32_t b = border[k - 1];
        while (b > 0 && text[b] != text[k - 1]) b = border[b];
        border[k] = text[b] == text[k - 1] ? b + 1 : 0;
      }
      borders[k] = borders[border[k]] + 1;
      places += 1 + borders[k];
      if (places > kMaxMatcherPlaces) return true;
    }
    return false;
  }

  /// Reads the filter again, building its matcher (see MatcherStates), and counts the states.
  bool matcherTooCostly() const {
    MatcherStates matcher(p_.size(), p_.front() != '^');
    URLFilterScanner<true> again(p_, &matcher);
    if (!again.supported()) return true;  // read the same way twice: never happens
    return matcher.exceeds(kMaxMatcherStates, kMaxMatcherPlaces, kMaxMatcherWork);
  }

  bool supported() {
    if (p_.empty()) return false;
    // What the scan needs first: no character outside ASCII (one sweep the compiler vectorises),
    // and whether group counts and names matter: only to an escape of a digit or "k" and to a
    // named group. Any "(?<" counts, escaped or not: counting the groups when they do not matter
    // changes nothing, so only a quick look for backslashes and that text is needed.
    unsigned char bits = 0;
    for (char c : p_) bits |= static_cast<unsigned char>(c);
    if (bits >= 0x80) return false;
    bool needsGroups = p_.find("(?<") != std::string_view::npos;
    for (std::size_t i = p_.find('\\'); !needsGroups && i < p_.size() - 1; i = p_.find('\\', i + 2)) {
      const char next = p_[i + 1];
      needsGroups = (next >= '1' && next <= '9') || next == 'k';
    }
    return (!needsGroups || countGroups()) && scan();
  }

  /// What one atom stands for, as far as the browser's checks care.
  struct Atom {
    bool ok = true;
    /// Matches only the NUL character, which the browser's matcher reads as the end of the URL.
    bool endOfURL = false;
    /// Matches more than one character.
    bool wide = false;
  };
  static Atom refused() {
    Atom atom;
    atom.ok = false;
    return atom;
  }

  /// Counts a term for the cost limit: `wide` tells whether it matches more than one character,
  /// `repetition` is the character of its repetition ('\0' for none).
  void countTerm(bool wide, char repetition) {
    if constexpr (kBuildsMatcher) matcher_->repeat(repetition);
    if (repetition == '*' || repetition == '+') {
      floating_ = true;  // a match of what follows can start after any character it takes
    } else if (wide && floating_) {
      ++floatingWideTerms_;
    }
  }

  bool atEnd(std::size_t i) const { return i >= p_.size(); }
  char at(std::size_t i) const { return i < p_.size() ? p_[i] : '\0'; }

  /// Counts the capturing groups and collects the group names of the whole pattern, as the parser
  /// does before it reads escapes: "\2" is a back-reference only when two groups exist, "\k" needs
  /// a name only when the pattern names a group. A malformed or repeated name is an error.
  bool countGroups() {
    for (std::size_t i = 0; i < p_.size(); ++i) {
      char c = p_[i];
      if (c == '\\') {
        ++i;
      } else if (c == '[') {
        ++i;
        while (i < p_.size() && p_[i] != ']') {
          if (p_[i] == '\\') ++i;
          ++i;
        }
      } else if (c == '(') {
        if (at(i + 1) != '?') {
          ++groups_;
        } else if (at(i + 2) == '<' && at(i + 3) != '=' && at(i + 3) != '!') {
          std::size_t start = i + 3, end = start;
          if (!isNameStart(at(end))) return false;
          while (isNamePart(at(end))) ++end;
          if (at(end) != '>') return false;
          std::string name(p_.substr(start, end - start));
          if (std::find(names_.begin(), names_.end(), name) != names_.end()) return false;
          names_.push_back(std::move(name));
          ++groups_;
        }
      }
    }
    return true;
  }

  /// A complete "{n}", "{n,}" or "{n,m}" at `i`: its bounds and the index after it.
  bool braceRepetition(std::size_t i, std::uint64_t& min, std::uint64_t& max, std::size_t& next) const {
    if (at(i) != '{' || !isDigit(at(i + 1))) return false;
    std::size_t j = i + 1;
    min = number(j);
    max = min;
    if (at(j) == ',') {
      ++j;
      max = isDigit(at(j)) ? number(j) : kUnbounded;
    }
    if (at(j) != '}') return false;
    next = j + 1;
    return true;
  }

  std::uint64_t number(std::size_t& i) const {
    std::uint64_t value = 0;
    while (isDigit(at(i))) {
      value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(at(i) - '0'), kUnbounded);
      ++i;
    }
    return value;
  }

  bool startsRepetition(std::size_t i) const {
    char c = at(i);
    if (atEnd(i)) return false;
    if (c == '*' || c == '+' || c == '?') return true;
    std::uint64_t min, max;
    std::size_t next;
    return braceRepetition(i, min, max, next);
  }

  /// Reads the repetition after an atom, if any. Only "?", "*" and "+" (in any spelling) are
  /// supported; a lazy "?" may follow.
  bool repetition(std::size_t& i) const {
    std::uint64_t min = 0, max = 0;
    char c = at(i);
    if (atEnd(i)) return true;
    if (c == '*') {
      min = 0, max = kUnbounded, ++i;
    } else if (c == '+') {
      min = 1, max = kUnbounded, ++i;
    } else if (c == '?') {
      min = 0, max = 1, ++i;
    } else {
      std::size_t next;
      if (!braceRepetition(i, min, max, next)) return true;
      i = next;
    }
    const bool supported = (min == 0 && max == 1) || (min == 0 && max == kUnbounded) || (min == 1 && max == kUnbounded);
    if (!supported) return false;
    if (at(i) == '?' && !atEnd(i)) ++i;
    return true;
  }

  /// An octal escape starting at `i` (a digit 0 to 7): up to three digits, at most 0377.
  unsigned octal(std::size_t& i) const {
    unsigned value = static_cast<unsigned>(at(i) - '0');
    const std::size_t most = value <= 3 ? 3 : 2;
    ++i;
    for (std::size_t n = 1; n < most && isOctalDigit(at(i)) && !atEnd(i); ++n, ++i) {
      value = value * 8 + static_cast<unsigned>(at(i) - '0');
    }
    return value;
  }

  /// "\x" with two hex digits or "\u" with four at `i` (the letter): the value and the index after
  /// it; none when the digits are missing (the letter then stands for itself).
  std::optional<unsigned> hexEscape(std::size_t i, std::size_t& next) const {
    const std::size_t digits = at(i) == 'x' ? 2 : 4;
    unsigned value = 0;
    for (std::size_t n = 1; n <= digits; ++n) {
      if (atEnd(i + n) || !isHexDigit(at(i + n))) return std::nullopt;
      value = value * 16 + static_cast<unsigned>(hexValue(at(i + n)));
    }
    next = i + digits + 1;
    return value;
  }

  /// One character of a class or an escape that stands for one character, at `i` (after the
  /// backslash for an escape). Sets `value`; fails on what the browser refuses.
  enum class Char { Value, BuiltIn, Error };
  Char escapedChar(std::size_t& i, bool inClass, unsigned& value) const {
    if (atEnd(i)) return Char::Error;
    char c = p_[i];
    if (isBuiltInClass(c)) return Char::BuiltIn;
    switch (c) {
      case 'f': value = '\f'; ++i; return Char::Value;
      case 'n': value = '\n'; ++i; return Char::Value;
      case 'r': value = '\r'; ++i; return Char::Value;
      case 't': value = '\t'; ++i; return Char::Value;
      case 'v': value = '\v'; ++i; return Char::Value;
      case 'b': value = 8; ++i; return Char::Value;  // only reached inside a class
      case 'c': {
        char next = at(i + 1);
        if (!atEnd(i + 1) && (isLetter(next) || (inClass && (isDigit(next) || next == '_')))) {
          value = static_cast<unsigned>(next) % 32;
          i += 2;
          return Char::Value;
        }
        // Not a control escape: the backslash stands for itself and "c" is read next.
        value = '\\';
        return Char::Value;
      }
      case 'x':
      case 'u': {
        std::size_t next;
        if (auto hex = hexEscape(i, next)) {
          value = *hex;
          i = next;
          return value < 0x80 ? Char::Value : Char::Error;
        }
        value = static_cast<unsigned char>(c);
        ++i;
        return Char::Value;
      }
      case 'k':
        if (!names_.empty()) return Char::Error;
        value = 'k';
        ++i;
        return Char::Value;
      default:
        if (isOctalDigit(c)) {
          value = octal(i);
          return value < 0x80 ? Char::Value : Char::Error;
        }
        value = static_cast<unsigned char>(c);
        ++i;
        return Char::Value;
    }
  }

  /// A class at `i` (its "["); `i` ends after its "]".
  Atom characterClass(std::size_t& i) {
    Atom atom;
    if constexpr (kBuildsMatcher) atomChars_ = {};
    ++i;
    if (at(i) == '^' && !atEnd(i)) ++i;
    const bool negated = at(i - 1) == '^' && p_[i - 2] == '[';
    bool any = false, onlyNUL = true, several = negated;
    auto classChar = [&](std::size_t& j, unsigned& value) -> Char {
      if (p_[j] != '\\') {
        value = static_cast<unsigned char>(p_[j]);
        ++j;
        return Char::Value;
      }
      ++j;
      return escapedChar(j, true, value);
    };
    for (;;) {
      if (atEnd(i)) return refused();
      if (p_[i] == ']') break;
      unsigned low = 0;
      if (classChar(i, low) != Char::Value) return refused();
      unsigned high = low;
      if (at(i) == '-' && !atEnd(i + 1) && at(i + 1) != ']') {
        ++i;
        if (classChar(i, high) != Char::Value || high < low) return refused();
      }
      if (any || high != low) several = true;
      if constexpr (kBuildsMatcher) atomChars_.addRange(low, high);
      any = true;
      if (low != 0 || high != 0) onlyNUL = false;
    }
    ++i;
    atom.endOfURL = any && onlyNUL;
    atom.wide = several;
    // Letter case is folded before a negation, so that "[^a]" leaves out "A" as well.
    if constexpr (kBuildsMatcher) {
      if (negated) atomChars_ = atomChars_.caseFolded().complement();
    }
    return atom;
  }

  /// An escape outside a class at `i` (its backslash); `i` ends after it.
  Atom escape(std::size_t& i) {
    ++i;
    if (atEnd(i)) return refused();
    char c = p_[i];
    if (c == 'b' || c == 'B') return refused();
    if (c == 'k' && !names_.empty()) return refused();  // a named back-reference, or a broken one
    if (c >= '1' && c <= '9') {
      std::size_t j = i;
      std::uint64_t reference = number(j);
      if (reference <= groups_) {
        i = j;  // a back-reference
        // The browser's compiler matches it as one character that no ordinary term names, not as
        // nothing nor as its group again: "(a)\1" and 16 "." cost it as little as "ab" and 16 "."
        // (0.4 s), "(.)\1" and 20 "." as much as "a" and 20 "." (more than 25 s).
        if constexpr (kBuildsMatcher) atomChars_ = CharSet::single(1);
        return {};
      }
      if (c == '8' || c == '9') {
        ++i;
        if constexpr (kBuildsMatcher) atomChars_ = CharSet::single(static_cast<unsigned char>(c));
        return {};
      }
    }
    unsigned value = 0;
    if (escapedChar(i, false, value) != Char::Value) return refused();
    if constexpr (kBuildsMatcher) atomChars_ = value == 0 ? CharSet{} : CharSet::single(value);
    return {true, value == 0};
  }

  /// The repetition at `i` as '*', '+' or '?' (whatever its spelling); '\0' for none.
  char repetitionKind(std::size_t i) const {
    if (atEnd(i)) return '\0';
    const char c = at(i);
    if (c == '*' || c == '+' || c == '?') return c;
    std::uint64_t min = 0, max = 0;
    std::size_t next = 0;
    if (!braceRepetition(i, min, max, next)) return '\0';
    if (max == kUnbounded) return min == 0 ? '*' : '+';
    return '?';
  }

  bool scan() {
    std::size_t i = 0;
    floating_ = p_.front() != '^';
    std::size_t depth = 0;
    bool onlyStartAnchors = true;  // every top-level term so far was "^"
    bool ended = false;            // a "$" or an end-of-URL character came at the top level
    while (!atEnd(i)) {
      if (ended) return false;
      const char c = p_[i];
      if (isPlain(c)) {
        // A run of ordinary characters: only the last can carry a repetition.
        // Every "." but the last is a wide term without repetition; they count only where a
        // match can start anywhere, so they are counted only then.
        const std::size_t runStart = i;
        while (!atEnd(i) && isPlain(p_[i])) ++i;
        const std::size_t dots =
            floating_ ? static_cast<std::size_t>(std::count(p_.begin() + static_cast<std::ptrdiff_t>(runStart),
                                                            p_.begin() + static_cast<std::ptrdiff_t>(i), '.'))
                      : 0;
        if constexpr (kBuildsMatcher) {
          for (std::size_t k = runStart; k < i; ++k) {
            matcher_->term(p_[k] == '.' ? CharSet::any() : CharSet::single(static_cast<unsigned char>(p_[k])));
            if (k + 1 < i) matcher_->repeat('\0');
          }
        }
        const bool lastIsDot = p_[i - 1] == '.';
        if (floating_) floatingWideTerms_ += dots - (lastIsDot ? 1 : 0);
        countTerm(lastIsDot, repetitionKind(i));
        onlyStartAnchors = false;
        if (!repetition(i)) return false;
        continue;
      }
      Atom atom;
      switch (c) {
        case '|':
          return false;
        case '^':
          if (depth > 0 || !onlyStartAnchors) return false;
          ++i;
          if (startsRepetition(i)) return false;
          continue;
        case '$':
          if (depth > 0) return false;
          ++i;
          ended = true;
          continue;
        case '(':
          ++i;
          if (at(i) == '?') {
            if (at(i + 1) == ':') {
              i += 2;
            } else if (at(i + 1) == '<' && isNameStart(at(i + 2))) {
              i = p_.find('>', i) + 1;  // checked by countGroups
            } else {
              return false;  // look-around or an unknown group
            }
          }
          ++depth;
          if constexpr (kBuildsMatcher) matcher_->openGroup();
          onlyStartAnchors = false;
          if (startsRepetition(i)) return false;
          continue;
        case ')':
          if (depth == 0) return false;
          --depth;
          ++i;
          break;
        case '[':
          atom = characterClass(i);
          break;
        case '\\':
          atom = escape(i);
          break;
        case '*':
        case '+':
        case '?':
          return false;
        case '{':
          if (startsRepetition(i)) return false;
          ++i;
          break;
        default:
          atom.endOfURL = c == '\0';
          ++i;
          break;
      }
      if (!atom.ok) return false;
      if constexpr (kBuildsMatcher) {
        if (c == ')') {
          matcher_->closeGroup();
        } else if (c == '{') {
          matcher_->term(CharSet::single('{'));
        } else {
          matcher_->term(c == '[' || c == '\\' ? atomChars_ : CharSet{});  // none for the end of the URL
        }
      }
      onlyStartAnchors = false;
      if (atom.endOfURL) {
        if (depth > 0) return false;
        ended = true;
      }
      countTerm(atom.wide, repetitionKind(i));
      if (!repetition(i)) return false;
    }
    return depth == 0;
  }

  std::string_view p_;
  std::uint64_t groups_ = 0;
  std::vector<std::string> names_;
  /// Whether a match of the terms read so far can start after any character (see countTerm).
  bool floating_ = true;
  std::size_t floatingWideTerms_ = 0;
  /// The matcher built while the filter is read (with kBuildsMatcher only).
  MatcherStates* matcher_;
  /// The characters of the class or escape just read, while the matcher is built.
  CharSet atomChars_;
};

// ---------------------------------------------------------------------------------------------
// Rules

constexpr std::string_view kConditionKeys[] = {"if-domain",  "unless-domain", "if-top-url",
                                               "unless-top-url", "if-frame-url", "unless-frame-url"};
// checkTrigger's dispatch by key length writes these positions.
static_assert(kConditionKeys[0] == "if-domain" && kConditionKeys[1] == "unless-domain" &&
              kConditionKeys[2] == "if-top-url" && kConditionKeys[3] == "unless-top-url" &&
              kConditionKeys[4] == "if-frame-url" && kConditionKeys[5] == "unless-frame-url");
constexpr std::string_view kResourceTypes[] = {"document", "image", "style-sheet", "script", "font",
                                               "raw", "svg-document", "media", "popup", "ping",
                                               "fetch", "websocket", "other", "csp-report"};
constexpr std::string_view kLoadTypes[] = {"first-party", "third-party"};
constexpr std::string_view kLoadContexts[] = {"top-frame", "child-frame"};
constexpr std::string_view kRequestMethods[] = {"get", "head", "options", "trace", "put",
                                                "delete", "post", "patch", "connect"};

/// Whether `key` is `name`, compared with a length known when compiling.
template <std::size_t N>
bool keyIs(std::string_view key, const char (&name)[N]) {
  return key.size() == N - 1 && std::memcmp(key.data(), name, N - 1) == 0;
}

template <std::size_t N>
bool oneOf(std::string_view text, const std::string_view (&names)[N]) {
  return std::find(std::begin(names), std::end(names), text) != std::end(names);
}

bool hasNonASCII(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The checks below read a rule through one of two accessors, so that the compiler can check the
// parser's own document without building values first, and everyone else can check values. Each
// accessor has a node type (absent or a JSON value) and: member(node, key) (absent unless node is
// an object with that key; the last of repeated keys, as the browser reads them), isObject,
// string (none unless a string), isArray, size and forEach over an array's elements.

struct ValueAccess {
  using Node = const Value*;
  static Node member(Node node, std::string_view key) {
    const Dictionary* object = node ? node->dictionary() : nullptr;
    return object ? object->find(key) : nullptr;
  }
  static bool present(Node node) { return node != nullptr; }
  static bool isObject(Node node) { return node && node->dictionary(); }
  template <class F>
  static void forEachField(Node node, F&& f) {
    for (const auto& [key, value] : *node->dictionary()) f(std::string_view(key), &value);
  }
  static std::optional<std::string_view> string(Node node) {
    const std::string* text = node ? node->string() : nullptr;
    if (!text) return std::nullopt;
    return std::string_view(*text);
  }
  static bool isArray(Node node) { return node && node->array(); }
  static std::size_t size(Node node) { return node->array()->size(); }
  template <class F>
  static bool all(Node node, F&& f) {
    for (const Value& element : *node->array()) {
      if (!f(&element)) return false;
    }
    return true;
  }
};

struct DocumentAccess {
  struct Node {
    simdjson::dom::element element;
    bool present = false;
  };
  static Node member(Node node, std::string_view key) {
    simdjson::dom::object object;
    if (!node.present || node.element.get_object().get(object) != simdjson::SUCCESS) return {};
    Node found;
    for (auto field : object) {
      if (field.key == key) found = {field.value, true};
    }
    return found;
  }
  static bool present(Node node) { return node.present; }
  static bool isObject(Node node) { return node.present && node.element.is_object(); }
  template <class F>
  static void forEachField(Node node, F&& f) {
    for (auto field : simdjson::dom::object(node.element)) f(field.key, Node{field.value, true});
  }
  static std::optional<std::string_view> string(Node node) {
    std::string_view text;
    if (!node.present || node.element.get_string().get(text) != simdjson::SUCCESS) return std::nullopt;
    return text;
  }
  static bool isArray(Node node) { return node.present && node.element.is_array(); }
  static std::size_t size(Node node) { return simdjson::dom::array(node.element).size(); }
  template <class F>
  static bool all(Node node, F&& f) {
    for (simdjson::dom::element element : simdjson::dom::array(node.element)) {
      if (!f(Node{element, true})) return false;
    }
    return true;
  }
};

/// A list of names the browser knows ("resource-type", "load-type", "load-context"); absent is fine.
template <class A, std::size_t N>
bool validFlags(typename A::Node value, const std::string_view (&names)[N]) {
  if (!A::present(value)) return true;
  if (!A::isArray(value)) return false;
  return A::all(value, [&](typename A::Node v) {
    auto name = A::string(v);
    return name && oneOf(*name, names);
  });
}

template <class A>
bool validRequestMethod(typename A::Node value) {
  if (!A::present(value)) return true;
  auto method = A::string(value);
  if (!method) return false;
  std::string lower(*method);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return oneOf(lower, kRequestMethods);
}

template <class A>
std::optional<RuleFault> checkCondition(std::string_view key, typename A::Node value) {
  const bool domains = key == "if-domain" || key == "unless-domain";
  const RuleFault listFault = domains ? RuleFault::BadDomainList : RuleFault::BadURLList;
  if (!A::isArray(value) || A::size(value) == 0) return listFault;
  std::optional<RuleFault> fault;
  A::all(value, [&](typename A::Node v) {
    auto entry = A::string(v);
    if (!entry || entry->empty()) {
      fault = listFault;
    } else if (domains) {
      const bool lowerASCII = std::none_of(entry->begin(), entry->end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80 || (c >= 'A' && c <= 'Z');
      });
      if (!lowerASCII) fault = RuleFault::DomainNotLowerCaseASCII;
    } else if (!isSupportedURLFilter(*entry)) {
      fault = RuleFault::BadURLList;
    }
    return !fault;
  });
  return fault;
}

template <class A>
std::optional<RuleFault> checkTrigger(typename A::Node trigger) {
  // One pass over the trigger's fields; a repeated key counts once, with its last value.
  using Node = typename A::Node;
  Node filterValue{}, resourceType{}, loadType{}, loadContext{}, requestMethod{};
  Node conditions[std::size(kConditionKeys)]{};
  A::forEachField(trigger, [&](std::string_view key, Node value) {
    // By length first: every rule has several fields, and most keys are told apart by it.
    switch (key.size()) {
      case 9:
        if (keyIs(key, "load-type")) loadType = value;
        else if (keyIs(key, "if-domain")) conditions[0] = value;
        break;
      case 10:
        if (keyIs(key, "url-filter")) filterValue = value;
        else if (keyIs(key, "if-top-url")) conditions[2] = value;
        break;
      case 12:
        if (keyIs(key, "load-context")) loadContext = value;
        else if (keyIs(key, "if-frame-url")) conditions[4] = value;
        break;
      case 13:
        if (keyIs(key, "resource-type")) resourceType = value;
        else if (keyIs(key, "unless-domain")) conditions[1] = value;
        break;
      case 14:
        if (keyIs(key, "request-method")) requestMethod = value;
        else if (keyIs(key, "unless-top-url")) conditions[3] = value;
        break;
      case 16:
        if (keyIs(key, "unless-frame-url")) conditions[5] = value;
        break;
      default:
        break;
    }
  });

  auto filter = A::string(filterValue);
  if (!filter || filter->empty()) return RuleFault::NoURLFilter;
  // One scan of the filter; only a refused one is looked at again, for the reason.
  switch (judgeURLFilter(*filter)) {
    case URLFilterVerdict::Supported: break;
    case URLFilterVerdict::Unsupported:
      return hasNonASCII(*filter) ? RuleFault::NonASCIIURLFilter : RuleFault::UnsupportedURLFilter;
    case URLFilterVerdict::TooCostly: return RuleFault::CostlyURLFilter;
  }

  std::size_t condition = std::size(kConditionKeys);
  for (std::size_t i = 0; i < std::size(kConditionKeys); ++i) {
    if (!A::present(conditions[i])) continue;
    if (condition != std::size(kConditionKeys)) return RuleFault::SeveralConditions;
    condition = i;
  }
  if (condition != std::size(kConditionKeys)) {
    if (auto fault = checkCondition<A>(kConditionKeys[condition], conditions[condition])) return fault;
  }
  if (!validFlags<A>(resourceType, kResourceTypes)) return RuleFault::BadResourceType;
  if (!validFlags<A>(loadType, kLoadTypes)) return RuleFault::BadLoadType;
  if (!validFlags<A>(loadContext, kLoadContexts)) return RuleFault::BadLoadContext;
  if (!validRequestMethod<A>(requestMethod)) return RuleFault::BadRequestMethod;
  return std::nullopt;
}

template <class A>
std::optional<RuleFault> checkRuleWith(typename A::Node rule) {
  if (!A::isObject(rule)) return RuleFault::NotAnObject;
  auto trigger = A::member(rule, "trigger");
  if (!A::isObject(trigger)) return RuleFault::NoTrigger;
  auto action = A::member(rule, "action");
  if (!A::isObject(action)) return RuleFault::NoAction;
  auto type = A::string(A::member(action, "type"));
  if (!type) return RuleFault::NoActionType;
  if (auto fault = checkTrigger<A>(trigger)) return fault;
  if (*type == "css-display-none") {
    auto selector = A::string(A::member(action, "selector"));
    if (!selector || selector->empty()) return RuleFault::NoSelector;
  }
  return std::nullopt;
}

}  // namespace

std::string_view describe(RuleFault fault) {
  switch (fault) {
    case RuleFault::NotAnObject: return "the rule is not an object";
    case RuleFault::NoTrigger: return "no trigger object";
    case RuleFault::NoAction: return "no action object";
    case RuleFault::NoActionType: return "the action has no type";
    case RuleFault::NoURLFilter: return "no url-filter, or an empty one";
    case RuleFault::NonASCIIURLFilter: return "the url-filter is not ASCII";
    case RuleFault::UnsupportedURLFilter: return "the url-filter is not a regular expression the browser supports";
    case RuleFault::BadDomainList: return "a domain condition is not a list of domains";
    case RuleFault::DomainNotLowerCaseASCII: return "a domain is not lower-case ASCII";
    case RuleFault::BadURLList: return "a URL condition is not a list of supported filters";
    case RuleFault::SeveralConditions: return "more than one domain or URL condition";
    case RuleFault::BadResourceType: return "an unknown resource-type";
    case RuleFault::BadLoadType: return "an unknown load-type";
    case RuleFault::BadLoadContext: return "an unknown load-context";
    case RuleFault::BadRequestMethod: return "an unknown request-method";
    case RuleFault::NoSelector: return "css-display-none without a selector";
    case RuleFault::CostlyURLFilter: return "the url-filter would take the browser's compiler too long or too much memory";
  }
  return "unknown";
}

URLFilterVerdict judgeURLFilter(std::string_view filter) { return URLFilterScanner<false>(filter).verdict(); }

bool isSupportedURLFilter(std::string_view filter) { return judgeURLFilter(filter) == URLFilterVerdict::Supported; }

std::optional<RuleFault> checkRule(const Value& rule) { return checkRuleWith<ValueAccess>(&rule); }

std::optional<RuleFault> checkRule(const simdjson::dom::element& rule) {
  return checkRuleWith<DocumentAccess>({rule, true});
}

std::optional<RuleFault> checkRuleParts(const simdjson::dom::element& trigger, std::string_view type,
                                        std::optional<std::string_view> selector) {
  if (auto fault = checkTrigger<DocumentAccess>({trigger, true})) return fault;
  if (type == "css-display-none" && (!selector || selector->empty())) return RuleFault::NoSelector;
  return std::nullopt;
}

}  // namespace fendrel
