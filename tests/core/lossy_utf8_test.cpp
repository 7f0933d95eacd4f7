// Invalid UTF-8 made valid for display, one U+FFFD per maximal subpart.
#include "core/base/lossy_utf8.hpp"

#include <gtest/gtest.h>

#include <string_view>

#include "support/case_name.hpp"

namespace quorvel {
namespace {

#define QV_FFFD "\xEF\xBF\xBD"

struct LossyCase {
  std::string_view name;
  std::string_view input;
  std::string_view expected;
};

class Utf8LossyTest : public testing::TestWithParam<LossyCase> {};

TEST_P(Utf8LossyTest, ReplacesEachMaximalSubpart) {
  EXPECT_EQ(to_utf8_lossy(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Utf8LossyTest,
    testing::Values(LossyCase{"Empty", "", ""}, LossyCase{"Ascii", "1003.table", "1003.table"},
                    LossyCase{"ValidMultibyte", "r\xC3\xA9gion \xF0\x9F\x98\x80",
                              "r\xC3\xA9gion \xF0\x9F\x98\x80"},
                    LossyCase{"ReplacementCharacterKept", QV_FFFD "x", QV_FFFD "x"},
                    LossyCase{"TwoBadBytes", "\xFF\xFE", QV_FFFD QV_FFFD},
                    LossyCase{"LeadThenAscii", "\xC3(", QV_FFFD "("}),
    test::case_name<LossyCase>);

}  // namespace
}  // namespace quorvel
