#include "core/base/quoted.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quorvel {
namespace {

// Names each instantiated case after its `name` field.
template <class Case>
std::string case_name(const testing::TestParamInfo<Case>& param_info) {
  return std::string(param_info.param.name);
}

// Expected texts are written out by hand; the classification of each code
// point is taken from the Unicode 15.0 data files, not from the tables.
struct QuoteCase {
  std::string_view name;
  std::string_view input;
  std::string_view expected;
};

class QuoteTest : public testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteTest, RendersQuotedForm) { EXPECT_EQ(quote(GetParam().input), GetParam().expected); }

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD, as UTF-8

INSTANTIATE_TEST_SUITE_P(
    Escapes, QuoteTest,
    testing::Values(
        QuoteCase{"Empty", "", R"("")"},
        QuoteCase{"PlainAscii", "WMO BLOCK NUMBER", R"("WMO BLOCK NUMBER")"},
        QuoteCase{"SpaceUnchanged", " a b ", R"(" a b ")"},
        QuoteCase{"DoubleQuote", R"(say "hi")", R"("say \"hi\"")"},
        QuoteCase{"Backslash", R"(a\b)", R"("a\\b")"},
        QuoteCase{"SingleQuoteUnchanged", "it's", R"("it's")"},
        QuoteCase{"Tab", "a\tb", R"("a\tb")"}, QuoteCase{"CarriageReturn", "a\rb", R"("a\rb")"},
        QuoteCase{"LineFeed", "a\nb", R"("a\nb")"},
        QuoteCase{"Nul", std::string_view("a\0b", 3), R"("a\0b")"},
        QuoteCase{"NulThenDigit",
                  std::string_view("\0"
                                   "1",
                                   2),
                  R"("\01")"},
        QuoteCase{"Bell", "\x07", R"("\u{7}")"}, QuoteCase{"Escape", "\x1B", R"("\u{1b}")"},
        QuoteCase{"VerticalTab", "\v", R"("\u{b}")"}, QuoteCase{"Delete", "\x7F", R"("\u{7f}")"},
        QuoteCase{"TildeUnchanged", "~", R"("~")"},
        QuoteCase{"NextLineC1", "\u0085", R"("\u{85}")"},
        QuoteCase{"NoBreakSpaceZs", "\u00A0", R"("\u{a0}")"},
        QuoteCase{"InvertedExclamationUnchanged", "\u00A1", "\"\u00A1\""},
        QuoteCase{"SoftHyphenCf", "\u00AD", R"("\u{ad}")"},
        QuoteCase{"CombiningGraveGraphemeExtend", "e\u0300", R"("e\u{300}")"},
        QuoteCase{"UnassignedCn", "\u0378", R"("\u{378}")"},
        QuoteCase{"AssignedAfterGapUnchanged", "\u037A", "\"\u037A\""},
        QuoteCase{"ZeroWidthNonJoinerCfAndExtend", "\u200C", R"("\u{200c}")"},
        QuoteCase{"ZeroWidthJoinerCf", "\u200D", R"("\u{200d}")"},
        QuoteCase{"LineSeparatorZl", "\u2028", R"("\u{2028}")"},
        QuoteCase{"ParagraphSeparatorZp", "\u2029", R"("\u{2029}")"},
        QuoteCase{"IdeographicSpaceZs", "\u3000", R"("\u{3000}")"},
        QuoteCase{"PrivateUseFirstCo", "\uE000", R"("\u{e000}")"},
        QuoteCase{"PrivateUseLastCo", "\uF8FF", R"("\u{f8ff}")"},
        QuoteCase{"CompatibilityIdeographUnchanged", "\uF900", "\"\uF900\""},
        QuoteCase{"ByteOrderMarkCf", "\uFEFF", R"("\u{feff}")"},
        QuoteCase{"HalfwidthVoicedMarkLmButExtend", "\uFF9E", R"("\u{ff9e}")"},
        QuoteCase{"NoncharacterCn", "\uFFFF", R"("\u{ffff}")"},
        QuoteCase{"ReplacementCharacterUnchanged", "\uFFFD", "\"\uFFFD\""},
        QuoteCase{"VariationSelectorSupplement", "\U000E0100", R"("\u{e0100}")"},
        QuoteCase{"LastCodePointCn", "\U0010FFFF", R"("\u{10ffff}")"},
        QuoteCase{"AccentedLetterUnchanged", "é", "\"é\""},
        QuoteCase{"CjkUnchanged", "日本", "\"日本\""},
        QuoteCase{"EmojiUnchanged", "\U0001F600", "\"\U0001F600\""},
        QuoteCase{"Mixed", "°C\t\"x\"\u00A0", R"("°C\t\"x\"\u{a0}")"}),
    case_name<QuoteCase>);

// Invalid UTF-8 becomes one U+FFFD per maximal subpart, the same split that
// Python's errors="replace" makes, so the output is always valid UTF-8. The
// split itself is decode_utf8's, tested with it.
struct InvalidCase {
  std::string_view name;
  std::string_view input;
  std::string expected;
};

class QuoteInvalidUtf8Test : public testing::TestWithParam<InvalidCase> {};

TEST_P(QuoteInvalidUtf8Test, ReplacesEachMaximalSubpart) {
  EXPECT_EQ(quote(GetParam().input), GetParam().expected);
}

std::string replaced(int count, std::string_view before = "", std::string_view after = "") {
  // Appends only: g++ 12 warns falsely (-Wrestrict) on "literal" + std::string.
  std::string text = "\"";
  text += before;
  for (int i = 0; i < count; ++i) {
    text += kReplacement;
  }
  text += after;
  text += '"';
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Replacement, QuoteInvalidUtf8Test,
    testing::Values(InvalidCase{"LoneContinuations", "\x80\x80", replaced(2)},
                    InvalidCase{"TruncatedThenValid", "\xE2\x82\xE2\x82\xAC",
                                replaced(1, "", "\u20AC")},
                    InvalidCase{"InvalidBeforeQuote", "\xFF\"", replaced(1, "", "\\\"")},
                    InvalidCase{"InvalidThenControl", "\xC3\x07", replaced(1, "", "\\u{7}")}),
    case_name<InvalidCase>);

}  // namespace
}  // namespace quorvel
