// scan_messages: finds every "BUFR" message in a buffer by its marker and
// declared length, without parsing it. Slices are positions into the caller's
// buffer; nothing is copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "core/base/interrupt.hpp"
#include "core/message/section_parser.hpp"

namespace quorvel {

struct MessageSlice {
  std::size_t start = 0;
  std::size_t length = 0;  // the declared total length

  friend bool operator==(const MessageSlice&, const MessageSlice&) = default;
};

// Every message in `buffer`, in order. Octets before, between and after
// messages are skipped. Fails with TooShort for a marker with fewer than eight
// octets behind it or a declared length of 0, and with SectionTruncated
// (section 0, marker offset) for a declared length running past the end.
//
// The functions below poll `interrupt` every kScanPollOctets of buffer
// searched and every kScanPollMessages messages; a stop fails with
// Interrupted and keeps nothing found before it.
Expected<std::vector<MessageSlice>> scan_messages(std::span<const std::uint8_t> buffer,
                                                  Interrupt interrupt = {});

// Far apart enough to cost nothing, close enough that a poll comes every few
// milliseconds.
inline constexpr std::size_t kScanPollOctets = std::size_t{16} * 1024 * 1024;
inline constexpr std::size_t kScanPollMessages = 4096;

// Where a scan gave up: the offset of the marker it could not use, and the
// error scan_messages fails with there.
struct ScanStop {
  std::size_t offset = 0;
  BufrError error;
};

struct ScanResult {
  std::vector<MessageSlice> slices;  // the messages before the stop, in order
  std::optional<ScanStop> stop;      // empty when the scan reached the end
};

// scan_messages, keeping what it found before a failure: for a reader that
// wants the good messages of a file whose tail is broken. The stop's error is
// exactly the one scan_messages returns for the same buffer; an interrupted
// scan stops with Interrupted and no slices.
ScanResult scan_messages_until_stop(std::span<const std::uint8_t> buffer, Interrupt interrupt = {});

// The octets of `slice` within the scanned `buffer`.
inline std::span<const std::uint8_t> slice_bytes(std::span<const std::uint8_t> buffer,
                                                 const MessageSlice& slice) {
  return buffer.subspan(slice.start, slice.length);
}

// Scans `buffer` and parses every message found, in order; the first failure
// ends the whole operation.
Expected<std::vector<BufrMessage>> parse_all_messages(std::span<const std::uint8_t> buffer,
                                                      Interrupt interrupt = {});

}  // namespace quorvel
