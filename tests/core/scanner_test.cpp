// scan_messages and parse_all_messages: messages among junk, markers too near
// the end, declared lengths that run out or stand still, and the first failing
// message ending parse_all_messages. Buffers are exact heap copies.
#include "core/message/scanner.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "support/counting_poll.hpp"
#include "support/exact_buffer.hpp"
#include "support/message_builder.hpp"
#include "support/parse_helpers.hpp"

namespace quorvel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Expected<std::vector<MessageSlice>> scan_exact(const Bytes& bytes) {
  const ExactBuffer copy(bytes);
  return scan_messages(copy.span());
}

ScanResult scan_until_stop_exact(const Bytes& bytes) {
  const ExactBuffer copy(bytes);
  return scan_messages_until_stop(copy.span());
}

// The stop of a failing scan: its slices, marker offset and error text.
void expect_stop(const Bytes& buffer, const std::vector<MessageSlice>& slices, std::size_t offset,
                 const std::string& text) {
  const ScanResult result = scan_until_stop_exact(buffer);
  EXPECT_EQ(result.slices, slices);
  ASSERT_TRUE(result.stop.has_value());
  EXPECT_EQ(result.stop->offset, offset);
  EXPECT_EQ(result.stop->error.message(), text);
  EXPECT_EQ(error_text(scan_exact(buffer)), text);
}

Expected<std::vector<BufrMessage>> parse_all_exact(const Bytes& bytes) {
  const ExactBuffer copy(bytes);
  return parse_all_messages(copy.span());
}

// A small valid message told apart by its originating centre.
MessageBuilder message_builder(std::uint16_t centre, std::size_t data_length) {
  MessageBuilder b;
  b.section1.originating_centre = centre;
  b.descriptors = {1001, 1002};
  b.data = Bytes(data_length, static_cast<std::uint8_t>(centre));
  return b;
}

Bytes message(std::uint16_t centre, std::size_t data_length = 6) {
  return message_builder(centre, data_length).build();
}

// Octets that hold near-misses of the marker but never "BUFR", and cannot
// complete one with the "B" that starts a following message.
Bytes junk(std::size_t n) {
  static const Bytes pattern = {'B', 'U', 'F', 0x00, 'U', 'F', 'R', '7',
                                '7', '7', '7', 0xFF, 'B', 'U', 'F', 'F'};
  Bytes out;
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(pattern[i % pattern.size()]);
  }
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

// "BUFR", a declared total length, edition 4; nothing else.
Bytes section0(std::uint32_t declared) {
  Bytes bytes = {'B', 'U', 'F', 'R', 0, 0, 0, 4};
  put_u24(bytes, 4, declared);
  return bytes;
}

struct JunkCase {
  std::size_t before;
  std::size_t between;
  std::size_t after;
};

class ScannerJunk : public ::testing::TestWithParam<JunkCase> {};

TEST_P(ScannerJunk, FindsBothMessagesInOrder) {
  const Bytes first = message(1, 5);
  const Bytes second = message(2, 9);
  const auto [before, between, after] = GetParam();
  const Bytes buffer = concat({junk(before), first, junk(between), second, junk(after)});

  const auto slices = scan_exact(buffer);
  ASSERT_TRUE(slices.has_value()) << error_text(slices);
  const std::size_t second_start = before + first.size() + between;
  EXPECT_EQ(*slices,
            (std::vector<MessageSlice>{{before, first.size()}, {second_start, second.size()}}));
  const ExactBuffer copy(buffer);
  EXPECT_TRUE(std::ranges::equal(slice_bytes(copy.span(), (*slices)[1]), second));
  const ScanResult until = scan_until_stop_exact(buffer);
  EXPECT_EQ(until.slices, *slices);
  EXPECT_FALSE(until.stop.has_value());

  const auto parsed = parse_all_exact(buffer);
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  ASSERT_EQ(parsed->size(), 2u);
  EXPECT_EQ((*parsed)[0].originating_centre, 1);
  EXPECT_EQ((*parsed)[0].total_length, first.size());
  EXPECT_EQ((*parsed)[1].originating_centre, 2);
  EXPECT_EQ((*parsed)[1].total_length, second.size());
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScannerJunk,
                         ::testing::Values(JunkCase{0, 0, 0}, JunkCase{10, 10, 10},
                                           JunkCase{1, 0, 3}, JunkCase{3, 1, 0}, JunkCase{0, 7, 1},
                                           JunkCase{16, 33, 4}));

class ScannerNoMessage : public ::testing::TestWithParam<Bytes> {};

TEST_P(ScannerNoMessage, GivesAnEmptyList) {
  const auto slices = scan_exact(GetParam());
  ASSERT_TRUE(slices.has_value()) << error_text(slices);
  EXPECT_TRUE(slices->empty());
  const auto parsed = parse_all_exact(GetParam());
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  EXPECT_TRUE(parsed->empty());
}

INSTANTIATE_TEST_SUITE_P(Buffers, ScannerNoMessage,
                         ::testing::Values(Bytes{}, Bytes{'B'}, Bytes{'B', 'U', 'F'}, junk(3),
                                           junk(100), Bytes{'b', 'u', 'f', 'r', 0, 0, 8, 4}));

// Octets after the marker (0 to 3: section 0 incomplete), and whether a valid
// message comes first.
class ScannerMarkerNearEnd : public ::testing::TestWithParam<std::tuple<std::size_t, bool>> {};

TEST_P(ScannerMarkerNearEnd, IsTooShortEvenAfterGoodMessages) {
  const auto [octets_after_marker, after_a_message] = GetParam();
  // Cut from a section 0 that would declare a message of exactly the octets
  // left, so only the missing edition octet makes it too short.
  Bytes tail = {'B', 'U', 'F', 'R', 0x00, 0x00, 0x07};
  tail.resize(4 + octets_after_marker);
  const Bytes buffer =
      after_a_message ? concat({message(1), junk(2), tail}) : concat({junk(5), tail});
  const std::vector<MessageSlice> before = after_a_message
                                               ? std::vector<MessageSlice>{{0, message(1).size()}}
                                               : std::vector<MessageSlice>{};
  expect_stop(buffer, before, buffer.size() - tail.size(), kTooShortText);
  EXPECT_EQ(error_text(parse_all_exact(buffer)), kTooShortText);
}

INSTANTIATE_TEST_SUITE_P(Octets, ScannerMarkerNearEnd,
                         ::testing::Combine(::testing::Range<std::size_t>(0, 4), ::testing::Bool()),
                         [](const auto& case_info) {
                           return std::to_string(std::get<0>(case_info.param)) +
                                  (std::get<1>(case_info.param) ? "AfterMessage" : "Alone");
                         });

// Eight octets from the marker are enough for the scan; the parser then finds
// no section 1.
TEST(ScannerMarkerNearEnd, EightOctetsAreAMessageForTheScan) {
  const Bytes first = message(1);
  const Bytes buffer = concat({first, section0(8)});
  const auto slices = scan_exact(buffer);
  ASSERT_TRUE(slices.has_value()) << error_text(slices);
  EXPECT_EQ(*slices, (std::vector<MessageSlice>{{0, first.size()}, {first.size(), 8}}));
  EXPECT_EQ(error_text(parse_all_exact(buffer)), truncated_text(1, 8));
}

struct PastEndCase {
  std::uint32_t extra;  // declared length minus the octets left
  std::size_t junk_before;
};

class ScannerDeclaredPastEnd : public ::testing::TestWithParam<PastEndCase> {};

TEST_P(ScannerDeclaredPastEnd, IsSection0TruncatedAtTheMarker) {
  const Bytes first = message(1);
  Bytes second = message(2);
  put_u24(second, 4, static_cast<std::uint32_t>(second.size()) + GetParam().extra);
  const Bytes buffer = concat({first, junk(GetParam().junk_before), second});
  const std::size_t marker = first.size() + GetParam().junk_before;
  expect_stop(buffer, {{0, first.size()}}, marker, truncated_text(0, marker));
  EXPECT_EQ(error_text(parse_all_exact(buffer)), truncated_text(0, marker));
}

INSTANTIATE_TEST_SUITE_P(Lengths, ScannerDeclaredPastEnd,
                         ::testing::Values(PastEndCase{1, 0}, PastEndCase{1, 7},
                                           PastEndCase{1000, 3}));

TEST(ScannerDeclaredPastEnd, LargestDeclaredLengthDoesNotWrap) {
  const Bytes buffer = concat({junk(3), section0(0xFFFFFF), junk(20)});
  EXPECT_EQ(error_text(scan_exact(buffer)), truncated_text(0, 3));
}

// The scan reaches the end of the buffer before any message is parsed, so a
// marker running past the end hides a bad first message.
TEST(ScannerDeclaredPastEnd, ScanFailureComesBeforeParseFailures) {
  MessageBuilder bad = message_builder(1, 4);
  bad.overrides.terminator = {'7', '7', '7', '6'};
  const Bytes buffer = concat({bad.build(), section0(100)});
  EXPECT_EQ(error_text(parse_all_exact(buffer)), truncated_text(0, bad.layout().end));
}

TEST(ScannerInnerMarker, BufrInsideAMessageIsNotReported) {
  const Bytes inner = message(2);
  MessageBuilder outer = message_builder(1, 0);
  outer.data = concat({{0x01}, inner, {'B', 'U', 'F', 'R'}});
  const Bytes buffer = concat({junk(4), outer.build()});
  const auto slices = scan_exact(buffer);
  ASSERT_TRUE(slices.has_value()) << error_text(slices);
  EXPECT_EQ(*slices, (std::vector<MessageSlice>{{4, outer.layout().end}}));
}

// A declared length decides where the search resumes even when it swallows
// the next message: that message becomes octets after the terminator.
TEST(ScannerInnerMarker, DeclaredLengthSwallowsTheNextMessage) {
  const Bytes second = message(2);
  MessageBuilder first = message_builder(1, 3);
  const std::size_t first_length = first.layout().end;
  first.overrides.total_length = static_cast<std::uint32_t>(first_length + second.size());
  const Bytes buffer = concat({first.build(), second});
  const auto slices = scan_exact(buffer);
  ASSERT_TRUE(slices.has_value()) << error_text(slices);
  EXPECT_EQ(*slices, (std::vector<MessageSlice>{{0, buffer.size()}}));
  const auto parsed = parse_all_exact(buffer);
  ASSERT_TRUE(parsed.has_value()) << error_text(parsed);
  ASSERT_EQ(parsed->size(), 1u);
  EXPECT_EQ((*parsed)[0].originating_centre, 1);
  EXPECT_EQ((*parsed)[0].total_length, buffer.size());
}

class ScannerDeclaredZero : public ::testing::TestWithParam<bool> {};

// A length of 0 would leave the search on the same marker for ever.
TEST_P(ScannerDeclaredZero, IsTooShort) {
  const Bytes buffer =
      GetParam() ? concat({message(1), section0(0), junk(12)}) : concat({section0(0), junk(12)});
  const std::vector<MessageSlice> before =
      GetParam() ? std::vector<MessageSlice>{{0, message(1).size()}} : std::vector<MessageSlice>{};
  expect_stop(buffer, before, before.empty() ? 0 : before[0].length, kTooShortText);
  EXPECT_EQ(error_text(parse_all_exact(buffer)), kTooShortText);
}

INSTANTIATE_TEST_SUITE_P(AfterAMessage, ScannerDeclaredZero, ::testing::Bool());

// Lengths 1 to 10 pass the scan, which resumes inside section 0; the parser
// then refuses the slice.
class ScannerDeclaredSmall : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ScannerDeclaredSmall, ScanAcceptsAndParseRefuses) {
  const std::uint32_t declared = GetParam();
  const Bytes buffer = concat({junk(2), section0(declared), junk(12)});
  const auto slices = scan_exact(buffer);
  ASSERT_TRUE(slices.has_value()) << error_text(slices);
  EXPECT_EQ(*slices, (std::vector<MessageSlice>{{2, declared}}));
  const std::string expected = declared <= 7 ? kTooShortText : truncated_text(1, 8);
  EXPECT_EQ(error_text(parse_all_exact(buffer)), expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ScannerDeclaredSmall, ::testing::Range<std::uint32_t>(1, 11));

// Lengths 8 to 10 reach the edition check first.
TEST(ScannerDeclaredSmall, EditionIsCheckedBeforeSection1) {
  Bytes head = section0(9);
  head[7] = 3;
  const Bytes buffer = concat({head, junk(4)});
  EXPECT_EQ(error_text(parse_all_exact(buffer)),
            "unsupported BUFR edition 3; only edition 4 is implemented");
}

struct FirstFailureCase {
  const char* name;
  std::vector<int> kinds;  // 0 valid, 1 bad terminator, 2 edition 3
  std::string expected;
};

class ParseAllFirstFailure : public ::testing::TestWithParam<FirstFailureCase> {};

TEST_P(ParseAllFirstFailure, EndsTheWholeParse) {
  std::vector<Bytes> parts;
  std::uint16_t centre = 1;
  for (const int kind : GetParam().kinds) {
    MessageBuilder b = message_builder(centre++, 4);
    if (kind == 1) {
      b.overrides.terminator = {'7', '7', '7', '6'};
    } else if (kind == 2) {
      b.overrides.edition = 3;
    }
    parts.push_back(b.build());
    parts.push_back(junk(3));
  }
  Bytes buffer;
  for (const Bytes& part : parts) {
    buffer.insert(buffer.end(), part.begin(), part.end());
  }
  const auto slices = scan_exact(buffer);
  ASSERT_TRUE(slices.has_value()) << error_text(slices);
  EXPECT_EQ(slices->size(), GetParam().kinds.size());
  EXPECT_EQ(error_text(parse_all_exact(buffer)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, ParseAllFirstFailure,
    ::testing::Values(FirstFailureCase{"TerminatorThenEdition", {0, 1, 2}, kBadTerminatorText},
                      FirstFailureCase{"EditionThenTerminator",
                                       {0, 2, 1},
                                       "unsupported BUFR edition 3; only edition 4 is implemented"},
                      FirstFailureCase{"FirstMessageBad", {1, 0, 0}, kBadTerminatorText},
                      FirstFailureCase{
                          "LastMessageBad",
                          {0, 0, 0, 2},
                          "unsupported BUFR edition 3; only edition 4 is implemented"}),
    [](const auto& case_info) { return case_info.param.name; });

// Offsets in a message's error count from that message's first octet.
TEST(ParseAllFirstFailure, OffsetsCountFromTheMessage) {
  MessageBuilder bad = message_builder(2, 6);
  const MessageLayout at = bad.layout();
  bad.overrides.section4_length = static_cast<std::uint32_t>(at.end - at.section4 + 1);
  const Bytes buffer = concat({junk(10), message(1), junk(5), bad.build()});
  EXPECT_EQ(error_text(parse_all_exact(buffer)), truncated_text(4, at.section4));
}

// ---- Interruption ------------------------------------------------------------------

// What a scan does with a poll that stops at `stop_at` (0: never) in `buffer`:
// it polls `polls` times, and a stop keeps no slice and no message.
struct InterruptCase {
  const char* name;
  Bytes buffer;
  int stop_at;
  int polls;
};

// Many small messages poll by their count, a long run of junk by its octets;
// the junk leaves a marker straddling a window's edge to be found.
Bytes many_messages(std::size_t count) {
  const Bytes one = message(7);
  Bytes out;
  for (std::size_t i = 0; i < count; ++i) {
    out.insert(out.end(), one.begin(), one.end());
  }
  return out;
}

Bytes junk_then_message() {
  Bytes out(2 * kScanPollOctets - 2, 0);
  const Bytes last = message(9);
  out.insert(out.end(), last.begin(), last.end());
  return out;
}

class ScannerInterrupt : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(ScannerInterrupt, StopsAtThePollThatAsksAndKeepsNothing) {
  const InterruptCase& c = GetParam();
  const ExactBuffer copy(c.buffer);
  const auto expected_slices = scan_messages(copy.span());
  ASSERT_TRUE(expected_slices);

  CountingPoll until_stop{c.stop_at};
  const ScanResult result = scan_messages_until_stop(copy.span(), until_stop.interrupt());
  CountingPoll scan{c.stop_at};
  const auto slices = scan_messages(copy.span(), scan.interrupt());
  EXPECT_EQ(until_stop.calls, c.polls);
  EXPECT_EQ(scan.calls, c.polls);
  if (c.stop_at == 0) {
    EXPECT_FALSE(result.stop.has_value());
    EXPECT_EQ(result.slices, *expected_slices);
    ASSERT_TRUE(slices);
    EXPECT_EQ(*slices, *expected_slices);
  } else {
    ASSERT_TRUE(result.stop.has_value());
    EXPECT_TRUE(std::holds_alternative<error::Interrupted>(result.stop->error.kind()));
    EXPECT_TRUE(result.slices.empty());
    ASSERT_FALSE(slices);
    EXPECT_TRUE(std::holds_alternative<error::Interrupted>(slices.error().kind()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Polls, ScannerInterrupt,
    ::testing::Values(InterruptCase{"MessagesNever", many_messages(3 * kScanPollMessages), 0, 3},
                      InterruptCase{"MessagesFirst", many_messages(3 * kScanPollMessages), 1, 1},
                      InterruptCase{"MessagesLast", many_messages(3 * kScanPollMessages), 3, 3},
                      InterruptCase{"JunkNever", junk_then_message(), 0, 1},
                      InterruptCase{"JunkFirst", junk_then_message(), 1, 1}),
    [](const ::testing::TestParamInfo<InterruptCase>& param) { return param.param.name; });

// The parse polls again per message, after the scan's polls.
TEST(ParseAllInterrupt, StopsInTheParseAfterAWholeScan) {
  const ExactBuffer copy(many_messages(2 * kScanPollMessages));
  const auto all = parse_all_messages(copy.span());
  ASSERT_TRUE(all);
  CountingPoll never;
  const auto unstopped = parse_all_messages(copy.span(), never.interrupt());
  ASSERT_TRUE(unstopped);
  EXPECT_EQ(unstopped->size(), all->size());
  EXPECT_EQ(never.calls, 4);

  CountingPoll in_parse{3};
  const auto stopped = parse_all_messages(copy.span(), in_parse.interrupt());
  ASSERT_FALSE(stopped);
  EXPECT_TRUE(std::holds_alternative<error::Interrupted>(stopped.error().kind()));
  EXPECT_EQ(in_parse.calls, 3);
}

}  // namespace
}  // namespace quorvel::testing
