#include "core/tables/formats/csv_reader.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/bufr_error.hpp"

namespace quorvel {
namespace {

// Names each instantiated case after its `name` field.
template <class Case>
std::string case_name(const testing::TestParamInfo<Case>& param_info) {
  return std::string(param_info.param.name);
}

using Records = std::vector<std::vector<std::string>>;

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Every record until the end, each copied as soon as it is read (the views
// only live until the next call), or the first error.
Expected<Records> read_all(std::string_view content, CsvSettings settings) {
  CsvReader reader(bytes_of(content), settings);
  std::vector<std::string_view> fields;
  Records records;
  for (;;) {
    QV_ASSIGN_OR_RETURN(const bool more, reader.next(fields));
    if (!more) {
      return records;
    }
    records.emplace_back(fields.begin(), fields.end());
  }
}

constexpr CsvSettings kPipe = kEccodesElementTableCsv;
constexpr CsvSettings kComma = kBufr4Csv;
constexpr CsvSettings kPipeNoComment{'|', false, std::nullopt};
constexpr CsvSettings kCommaNoHeader{',', false, std::nullopt};

// ---- Records that read ------------------------------------------------------

struct ReadCase {
  std::string_view name;
  std::string content;
  CsvSettings settings;
  Records expected;
};

class CsvReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(CsvReadTest, ReadsRecords) {
  const auto records = read_all(GetParam().content, GetParam().settings);
  ASSERT_TRUE(records.has_value()) << records.error().message();
  EXPECT_EQ(*records, GetParam().expected);
}

const std::string kLongA(1000, 'a');
const std::string kLongB(1500, 'b');

INSTANTIATE_TEST_SUITE_P(
    Rules, CsvReadTest,
    testing::Values(
        ReadCase{"Empty", "", kPipe, {}},
        ReadCase{"LineFeeds", "a|b\nc|d\n", kPipe, {{"a", "b"}, {"c", "d"}}},
        ReadCase{"LastLineWithoutEnd", "a|b\nc|d", kPipe, {{"a", "b"}, {"c", "d"}}},
        ReadCase{"CarriageReturnsOnly", "a|b\rc|d\r", kPipe, {{"a", "b"}, {"c", "d"}}},
        ReadCase{"CrLf", "a|b\r\nc|d\r\n", kPipe, {{"a", "b"}, {"c", "d"}}},
        ReadCase{"BlankLinesGiveNoRecords",
                 "\n\r\n\ra|b\n\n\r\n\r\rc|d\n\n",
                 kPipe,
                 {{"a", "b"}, {"c", "d"}}},
        ReadCase{"OnlyLineEnds", "\r\n\n\r", kPipe, {}},
        ReadCase{"ByteOrderMarkSkipped",
                 "\xEF\xBB\xBF"
                 "a|b\n",
                 kPipe,
                 {{"a", "b"}}},
        ReadCase{"OnlyByteOrderMark", "\xEF\xBB\xBF", kPipe, {}},
        ReadCase{"ByteOrderMarkThenDelimiter", "\xEF\xBB\xBF|a", kPipe, {{"", "a"}}},
        ReadCase{"ByteOrderMarkLaterIsData",
                 "a|\xEF\xBB\xBF"
                 "b\n",
                 kPipe,
                 {{"a",
                   "\xEF\xBB\xBF"
                   "b"}}},
        ReadCase{"SecondByteOrderMarkIsData",
                 "\xEF\xBB\xBF\xEF\xBB\xBF"
                 "a",
                 kPipe,
                 {{"\xEF\xBB\xBF"
                   "a"}}},
        ReadCase{"CommentLinesSkipped",
                 "#code|abbreviation|type\na|b\n#c\nc|d",
                 kPipe,
                 {{"a", "b"}, {"c", "d"}}},
        ReadCase{"CommentEndsOnlyAtLineFeed", "#c\rstill|comment\na|b", kPipe, {{"a", "b"}}},
        ReadCase{"CommentAfterBlankLines", "\r\n\r#c\na|b", kPipe, {{"a", "b"}}},
        ReadCase{"CommentAtEndWithoutLineFeed", "a|b\n#c|d", kPipe, {{"a", "b"}}},
        ReadCase{"OnlyComments", "#a\n#b\n", kPipe, {}},
        ReadCase{"HashInsideRecordIsData", "a|#b\n", kPipe, {{"a", "#b"}}},
        ReadCase{"HashAfterSpaceIsData", " #x|y", kPipe, {{" #x", "y"}}},
        ReadCase{"HashAfterQuotedLineEndIsData", "\"a\n#b\"|c", kPipe, {{"a\n#b", "c"}}},
        ReadCase{"HashWithoutCommentByteIsData", "#a|b\n", kPipeNoComment, {{"#a", "b"}}},
        ReadCase{"QuotedDelimiter", "\"a|b\"|c", kPipe, {{"a|b", "c"}}},
        ReadCase{"QuotedLineEnds", "\"a\r\nb\rc\nd\"|e\n", kPipe, {{"a\r\nb\rc\nd", "e"}}},
        ReadCase{"DoubledQuotes", "\"say \"\"hi\"\"\"|c", kPipe, {{"say \"hi\"", "c"}}},
        ReadCase{"OnlyDoubledQuotes", "\"\"\"\"\"\"", kPipe, {{"\"\""}}},
        ReadCase{"EmptyQuoted", "\"\"|a", kPipe, {{"", "a"}}},
        ReadCase{"TextAfterClosingQuote", "\"ab\"cd|e", kPipe, {{"abcd", "e"}}},
        ReadCase{"QuoteAfterClosingQuoteIsData", "\"ab\"c\"d|e", kPipe, {{"abc\"d", "e"}}},
        ReadCase{"DoubledQuoteThenTail", "\"a\"\"b\"x", kPipe, {{"a\"bx"}}},
        ReadCase{"TailStopsAtLineEnd", "\"a\"b\r\"c\"d", kPipe, {{"ab"}, {"cd"}}},
        ReadCase{"QuoteInsideUnquotedIsData", "a\"b|c\"|d\"\"", kPipe, {{"a\"b", "c\"", "d\"\""}}},
        ReadCase{"EndInsideQuotes", "x|\"ab|c\nd", kPipe, {{"x", "ab|c\nd"}}},
        ReadCase{"EndInsideQuotesAfterDoubledQuote", "x|\"a\"\"b", kPipe, {{"x", "a\"b"}}},
        ReadCase{"EndRightAfterOpeningQuote", "x|\"", kPipe, {{"x", ""}}},
        ReadCase{"QuotedThenCrLf", "\"a\"\r\n\"b\"", kPipe, {{"a"}, {"b"}}},
        ReadCase{"QuotedFieldSpansLines", "\"a\nb\"\nc", kPipe, {{"a\nb"}, {"c"}}},
        ReadCase{"EmptyFields", "|a||\n", kPipe, {{"", "a", "", ""}}},
        ReadCase{"DelimiterAtEnd", "a|", kPipe, {{"a", ""}}},
        ReadCase{"FieldsNotTrimmed", " a | b\t", kPipe, {{" a ", " b\t"}}},
        ReadCase{"QuoteNotAtFieldStartIsData", " \"a|b\"", kPipe, {{" \"a", "b\""}}},
        ReadCase{"SeveralResolvedFieldsInOneRecord",
                 "\"a\"\"1\"|\"b\"\"2\"|\"c\"x|d",
                 kPipe,
                 {{"a\"1", "b\"2", "cx", "d"}}},
        ReadCase{"LongResolvedFields",
                 "\"" + kLongA + "\"\"\"|\"" + kLongB + "\"\"\"|\"" + kLongA + "\"z",
                 kPipe,
                 {{kLongA + "\"", kLongB + "\"", kLongA + "z"}}},
        ReadCase{"CommaSettingsHeaderSkipped", "h1,h2\n1,2\n", kComma, {{"1", "2"}}},
        ReadCase{"OnlyHeader", "h1,h2\r\n", kComma, {}},
        ReadCase{
            "HeaderAfterBlankLinesAndMark", "\xEF\xBB\xBF\r\n\nh1,h2\n1,2", kComma, {{"1", "2"}}},
        ReadCase{"HashIsDataInBufr4", "h1,h2\n#1,2\n", kComma, {{"#1", "2"}}},
        ReadCase{"PipeIsDataWithComma", "h\na|b\n", kComma, {{"a|b"}}},
        ReadCase{"HeaderNotCheckedForUtf8", "h\xFF,h2\n1,2\n", kComma, {{"1", "2"}}},
        ReadCase{"FirstRecordIsDataWithoutHeader",
                 "h1,h2\n1,2\n",
                 kCommaNoHeader,
                 {{"h1", "h2"}, {"1", "2"}}},
        ReadCase{"InvalidUtf8InCommentIgnored", "#\xFF\na|b", kPipe, {{"a", "b"}}},
        // The raw bytes C3 " A9 are not UTF-8, but the field they make, C3 A9, is.
        ReadCase{
            "ClosingQuoteBetweenBytesOfOneCharacter", "\"\xC3\"\xA9|x", kPipe, {{"\xC3\xA9", "x"}}},
        ReadCase{
            "Utf8FieldsAccepted", "é|日本|\U0001F600\n", kPipe, {{"é", "日本", "\U0001F600"}}}),
    case_name<ReadCase>);

// ---- Errors -------------------------------------------------------------------

struct ErrorCase {
  std::string_view name;
  std::string_view content;
  CsvSettings settings;
  std::string_view message;
};

class CsvErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(CsvErrorTest, ReportsFirstBadRecord) {
  const auto records = read_all(GetParam().content, GetParam().settings);
  ASSERT_FALSE(records.has_value()) << records->size() << " records";
  EXPECT_EQ(records.error().message(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, CsvErrorTest,
    testing::Values(
        ErrorCase{"FewerFields", "a|b|c\nd|e|f\ng|h\n", kPipe,
                  "csv/table parse error: CSV error: record 2 (line: 3, byte: 12): found record "
                  "with 2 fields, but the previous record has 3 fields"},
        ErrorCase{"MoreFields", "a\nb|c", kPipe,
                  "csv/table parse error: CSV error: record 1 (line: 2, byte: 2): found record "
                  "with 2 fields, but the previous record has 1 fields"},
        ErrorCase{"CountAgainstFirstNotPrevious", "a|b\nc|d|e\n", kPipe,
                  "csv/table parse error: CSV error: record 1 (line: 2, byte: 4): found record "
                  "with 3 fields, but the previous record has 2 fields"},
        ErrorCase{"HeaderFixesCount", "h1,h2\n1,2,3\n", kComma,
                  "csv/table parse error: CSV error: record 0 (line: 2, byte: 6): found record "
                  "with 3 fields, but the previous record has 2 fields"},
        ErrorCase{"DataRecordsCountedAfterHeader", "h1,h2,h3\n1,2,3\n4,5\n", kComma,
                  "csv/table parse error: CSV error: record 1 (line: 3, byte: 15): found record "
                  "with 2 fields, but the previous record has 3 fields"},
        // Lines: 1 "<BOM>#c" CR LF, 2 "a|b" CR, 3 "" CR LF, 4 "c".
        ErrorCase{"LinesAndBytesAfterMarkCommentAndCr", "\xEF\xBB\xBF#c\r\na|b\r\r\nc\n", kPipe,
                  "csv/table parse error: CSV error: record 1 (line: 4, byte: 13): found record "
                  "with 1 fields, but the previous record has 2 fields"},
        ErrorCase{"LinesInsideQuotedFieldCount", "\"a\nb\"|x\nc\n", kPipe,
                  "csv/table parse error: CSV error: record 1 (line: 3, byte: 8): found record "
                  "with 1 fields, but the previous record has 2 fields"},
        ErrorCase{"CrOnlyLines", "a|b\rc|d\re\r", kPipe,
                  "csv/table parse error: CSV error: record 2 (line: 3, byte: 8): found record "
                  "with 1 fields, but the previous record has 2 fields"},
        ErrorCase{"DelimiterInsideQuotesNotCounted", "a|b\n\"c|d|e\"\n", kPipe,
                  "csv/table parse error: CSV error: record 1 (line: 2, byte: 4): found record "
                  "with 1 fields, but the previous record has 2 fields"},
        ErrorCase{"InvalidUtf8InField", "ok|\xC3\xA9\nbad|x\xFFy\n", kPipe,
                  "csv/table parse error: CSV parse error: record 1 (line 2, field: 1, byte: 6): "
                  "invalid utf-8: invalid UTF-8 in field 1 near byte index 1"},
        ErrorCase{"InvalidUtf8InFirstRecordWithoutHeader", "\xFF|a\n", kPipe,
                  "csv/table parse error: CSV parse error: record 0 (line 1, field: 0, byte: 0): "
                  "invalid utf-8: invalid UTF-8 in field 0 near byte index 0"},
        ErrorCase{"ByteOffsetIncludesMark",
                  "\xEF\xBB\xBF"
                  "a|\xE2\x82",
                  kPipe,
                  "csv/table parse error: CSV parse error: record 0 (line 1, field: 1, byte: 3): "
                  "invalid utf-8: invalid UTF-8 in field 1 near byte index 0"},
        ErrorCase{"IndexWithinResolvedQuotedField", "\"\"\"\xC3\"|b", kPipe,
                  "csv/table parse error: CSV parse error: record 0 (line 1, field: 0, byte: 0): "
                  "invalid utf-8: invalid UTF-8 in field 0 near byte index 1"},
        ErrorCase{"InvalidAfterValidMultibyte", "\xC3\xA9\xE6\x97\xA5\xED\xA0\x80", kPipe,
                  "csv/table parse error: CSV parse error: record 0 (line 1, field: 0, byte: 0): "
                  "invalid utf-8: invalid UTF-8 in field 0 near byte index 5"},
        ErrorCase{"DataRecordCheckedAfterUncheckedHeader", "h\xFF,h2\n1,\xE2\x82\n", kComma,
                  "csv/table parse error: CSV parse error: record 0 (line 2, field: 1, byte: 6): "
                  "invalid utf-8: invalid UTF-8 in field 1 near byte index 0"},
        ErrorCase{"FieldCountBeforeUtf8", "a|b\n\xFF\n", kPipe,
                  "csv/table parse error: CSV error: record 1 (line: 2, byte: 4): found record "
                  "with 1 fields, but the previous record has 2 fields"}),
    case_name<ErrorCase>);

TEST(CsvReaderTest, FieldsPointIntoContentWhenNoQuoteNeedsResolving) {
  const std::string_view content = "abc|\"d|e\"\n";
  CsvReader reader(bytes_of(content), kPipe);
  std::vector<std::string_view> fields;
  const auto more = reader.next(fields);
  ASSERT_TRUE(more.has_value() && *more);
  ASSERT_EQ(fields.size(), 2U);
  EXPECT_EQ(fields[0].data(), content.data());
  EXPECT_EQ(fields[1].data(), content.data() + 5);
  EXPECT_EQ(fields[1], "d|e");
}

TEST(CsvReaderTest, EndIsRepeatable) {
  CsvReader reader(bytes_of("a\n"), kPipe);
  std::vector<std::string_view> fields;
  ASSERT_TRUE(*reader.next(fields));
  for (int i = 0; i < 2; ++i) {
    const auto more = reader.next(fields);
    ASSERT_TRUE(more.has_value());
    EXPECT_FALSE(*more);
  }
}

// ---- Against a byte-at-a-time reference ----------------------------------------

// A plain state machine over the same rules, one byte per step, without the
// reader's scanning shortcuts or shared buffers. It returns the records, or
// the field-count message for the first record that differs.
struct Reference {
  Records records;
  std::optional<std::string> error;
};

Reference reference_read(std::string_view content, CsvSettings settings) {
  enum class State { StartRecord, StartField, InField, InQuoted, AfterQuote, InComment };
  Reference out;
  std::vector<std::string> record;
  std::string field;
  std::size_t record_start = 0;
  bool first = true;
  std::size_t expected = 0;
  std::uint64_t data_index = 0;

  const auto line_of = [&](std::size_t offset) {
    std::uint64_t line = 1;
    for (std::size_t i = 0; i < offset; ++i) {
      const bool lf = content[i] == '\n';
      const bool lone_cr =
          content[i] == '\r' && (i + 1 == content.size() || content[i + 1] != '\n');
      line += (lf || lone_cr) ? 1 : 0;
    }
    return line;
  };
  // Returns false once an error is recorded.
  const auto finish_record = [&]() {
    record.push_back(field);
    field.clear();
    if (first) {
      first = false;
      expected = record.size();
      if (settings.skip_header_record) {
        record.clear();
        return true;
      }
    } else if (record.size() != expected) {
      out.error = BufrError::csv_field_count(data_index, line_of(record_start), record_start,
                                             record.size(), expected)
                      .message();
      return false;
    }
    out.records.push_back(record);
    record.clear();
    ++data_index;
    return true;
  };

  std::size_t i = content.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  State state = State::StartRecord;
  for (; i < content.size(); ++i) {
    const char b = content[i];
    const bool line_end = b == '\n' || b == '\r';
    switch (state) {
      case State::StartRecord:
        if (line_end) {
          break;
        }
        if (settings.comment && b == *settings.comment) {
          state = State::InComment;
          break;
        }
        record_start = i;
        [[fallthrough]];
      case State::StartField:
        if (b == '"') {
          state = State::InQuoted;
        } else if (b == settings.delimiter) {
          record.push_back(field);
          field.clear();
          state = State::StartField;
        } else if (line_end) {
          if (!finish_record()) {
            return out;
          }
          state = State::StartRecord;
        } else {
          field += b;
          state = State::InField;
        }
        break;
      case State::InField:
        if (b == settings.delimiter) {
          record.push_back(field);
          field.clear();
          state = State::StartField;
        } else if (line_end) {
          if (!finish_record()) {
            return out;
          }
          state = State::StartRecord;
        } else {
          field += b;
        }
        break;
      case State::InQuoted:
        if (b == '"') {
          state = State::AfterQuote;
        } else {
          field += b;
        }
        break;
      case State::AfterQuote:
        if (b == '"') {
          field += '"';
          state = State::InQuoted;
        } else if (b == settings.delimiter) {
          record.push_back(field);
          field.clear();
          state = State::StartField;
        } else if (line_end) {
          if (!finish_record()) {
            return out;
          }
          state = State::StartRecord;
        } else {
          field += b;
          state = State::InField;
        }
        break;
      case State::InComment:
        if (b == '\n') {
          state = State::StartRecord;
        }
        break;
    }
  }
  if (state != State::StartRecord && state != State::InComment) {
    finish_record();
  }
  return out;
}

void expect_same_as_reference(std::string_view content, CsvSettings settings) {
  const Reference want = reference_read(content, settings);
  const auto got = read_all(content, settings);
  if (want.error) {
    ASSERT_FALSE(got.has_value()) << testing::PrintToString(content);
    ASSERT_EQ(got.error().message(), *want.error) << testing::PrintToString(content);
    return;
  }
  ASSERT_TRUE(got.has_value()) << testing::PrintToString(content) << got.error().message();
  ASSERT_EQ(*got, want.records) << testing::PrintToString(content);
}

class CsvReferenceSweepTest : public testing::TestWithParam<CsvSettings> {};

// Every text of up to five bytes over the bytes that steer the reader: data,
// quote, delimiter, CR, LF and the comment byte.
TEST_P(CsvReferenceSweepTest, AgreesOnEveryShortText) {
  const std::string kAlphabet = std::string("a\"") + GetParam().delimiter + "\r\n#";
  std::string text;
  std::vector<std::size_t> digits;
  for (std::size_t length = 0; length <= 5; ++length) {
    digits.assign(length, 0);
    for (;;) {
      text.clear();
      for (const std::size_t d : digits) {
        text += kAlphabet[d];
      }
      expect_same_as_reference(text, GetParam());
      if (testing::Test::HasFatalFailure()) {
        return;
      }
      std::size_t k = 0;
      while (k < length && ++digits[k] == kAlphabet.size()) {
        digits[k++] = 0;
      }
      if (k == length) {
        break;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, CsvReferenceSweepTest,
                         testing::Values(kPipe, kComma, kPipeNoComment, kCommaNoHeader));

}  // namespace
}  // namespace quorvel
