#include "core/message/scanner.hpp"

#include <string.h>  // memmem

#include <algorithm>
#include <array>

namespace quorvel {
namespace {

constexpr std::array<std::uint8_t, 4> kMarker = {'B', 'U', 'F', 'R'};

// The total length declared by the marker at `start`, when the message it
// declares fits in `buffer`.
Expected<std::size_t> declared_length_at(std::span<const std::uint8_t> buffer, std::size_t start) {
  if (buffer.size() - start < 8) {
    return BufrError::too_short();
  }
  QV_ASSIGN_OR_RETURN(const std::size_t declared, read_u24_at(buffer, start + 4, 0));
  // A declared length of 0 would find this marker again without end.
  if (declared == 0) {
    return BufrError::too_short();
  }
  if (declared > buffer.size() - start) {
    return BufrError::section_truncated(0, start);
  }
  return declared;
}

// Polls the interrupt once the work done since the last poll reaches either
// bound, so that neither many small messages nor long runs of junk go
// unpolled.
class Pacer {
 public:
  explicit Pacer(Interrupt interrupt) : interrupt_(interrupt) {}

  // Counts `octets` of work and `messages` messages; true to stop.
  bool stop_after(std::size_t octets, std::size_t messages) {
    octets_ += octets;
    messages_ += messages;
    if (octets_ < kScanPollOctets && messages_ < kScanPollMessages) {
      return false;
    }
    octets_ = 0;
    messages_ = 0;
    return interrupt_.requested();
  }

 private:
  Interrupt interrupt_;
  std::size_t octets_ = 0;
  std::size_t messages_ = 0;
};

}  // namespace

ScanResult scan_messages_until_stop(std::span<const std::uint8_t> buffer, Interrupt interrupt) {
  ScanResult result;
  Pacer pacer(interrupt);
  const auto interrupted = [](std::size_t offset) {
    return ScanResult{{}, ScanStop{offset, BufrError::interrupted()}};
  };
  const std::size_t length = buffer.size();
  std::size_t position = 0;
  while (length - position >= kMarker.size()) {
    // Searched a window at a time, so that a long run without a marker
    // still lets the pacer poll; the window's last three octets let a marker
    // that starts inside it end past it.
    const std::size_t window = std::min(length - position, kScanPollOctets + kMarker.size() - 1);
    const void* found = ::memmem(buffer.data() + position, window, kMarker.data(), kMarker.size());
    if (found == nullptr) {
      if (window == length - position) {
        break;
      }
      position += kScanPollOctets;
      if (pacer.stop_after(kScanPollOctets, 0)) {
        return interrupted(position);
      }
      continue;
    }
    const auto start =
        static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - buffer.data());
    auto declared = declared_length_at(buffer, start);
    if (!declared) {
      result.stop = ScanStop{start, std::move(declared).error()};
      break;
    }
    result.slices.push_back(MessageSlice{start, *declared});
    if (pacer.stop_after(start - position, 1)) {
      return interrupted(start);
    }
    position = start + *declared;
  }
  return result;
}

Expected<std::vector<MessageSlice>> scan_messages(std::span<const std::uint8_t> buffer,
                                                  Interrupt interrupt) {
  ScanResult result = scan_messages_until_stop(buffer, interrupt);
  if (result.stop) {
    return std::move(result.stop->error);
  }
  return std::move(result.slices);
}

Expected<std::vector<BufrMessage>> parse_all_messages(std::span<const std::uint8_t> buffer,
                                                      Interrupt interrupt) {
  QV_ASSIGN_OR_RETURN(const std::vector<MessageSlice> slices, scan_messages(buffer, interrupt));
  Pacer pacer(interrupt);
  std::vector<BufrMessage> messages;
  messages.reserve(slices.size());
  for (const MessageSlice& slice : slices) {
    if (pacer.stop_after(slice.length, 1)) {
      return BufrError::interrupted();
    }
    QV_ASSIGN_OR_RETURN(BufrMessage message, parse_message(slice_bytes(buffer, slice)));
    messages.push_back(std::move(message));
  }
  return messages;
}

}  // namespace quorvel
