#include "platform/foundation/UTF8.h"

#include <gtest/gtest.h>

namespace foundation {
namespace {

TEST(UTF8Tests, SequencesAreCheckedAtTheEdgesOfEachForm) {
  const struct {
    const char* name;
    std::string_view text;
    std::size_t length;  // of the sequence at the start; 0 when it is not well-formed
    std::u32string points;
  } cases[] = {
      {"ASCII", "a", 1, U"a"},
      {"NUL", std::string_view("\0", 1), 1, std::u32string(1, U'\0')},
      {"two bytes, lowest", "\xC2\x80", 2, U"\u0080"},
      {"three bytes, lowest", "\xE0\xA0\x80", 3, U"\u0800"},
      {"last before the surrogates", "\xED\x9F\xBF", 3, U"\uD7FF"},
      {"first after the surrogates", "\xEE\x80\x80", 3, U"\uE000"},
      {"four bytes, lowest", "\xF0\x90\x80\x80", 4, U"\U00010000"},
      {"highest code point", "\xF4\x8F\xBF\xBF", 4, U"\U0010FFFF"},
      {"overlong two bytes", "\xC0\x80", 0, {}},
      {"overlong two bytes, C1", "\xC1\xBF", 0, {}},
      {"overlong three bytes", "\xE0\x9F\xBF", 0, {}},
      {"overlong four bytes", "\xF0\x8F\xBF\xBF", 0, {}},
      {"surrogate", "\xED\xA0\x80", 0, {}},
      {"above U+10FFFF", "\xF4\x90\x80\x80", 0, {}},
      {"lead byte F5", "\xF5\x80\x80\x80", 0, {}},
      {"stray continuation", "\x80", 0, {}},
      {"truncated", "\xE2\x82", 0, {}},
      {"ASCII where a continuation belongs", "\xC3(", 0, {}},
      {"empty", "", 0, U""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf8SequenceLength(c.text), c.length);
    const bool valid = c.length == c.text.size();
    EXPECT_EQ(isValidUTF8(c.text), valid);
    EXPECT_EQ(decodeUTF8(c.text), valid ? std::optional(c.points) : std::nullopt);
  }
}

TEST(UTF8Tests, WholeTextsAreCheckedPastTheirASCIIRuns) {
  const std::string ascii(40, 'a');
  EXPECT_TRUE(isValidUTF8(ascii + "\xC3\xA9" + ascii));
  EXPECT_FALSE(isValidUTF8(ascii + "\xFF" + ascii));
  EXPECT_FALSE(isValidUTF8(ascii + "\xE2\x82"));
  EXPECT_EQ(decodeUTF8("a\xC3\xA9\xE2\x82\xAC"), U"a\u00E9\u20AC");
}

}  // namespace
}  // namespace foundation
