#include "core/message/scanner.hpp"

#include <string.h>  // memmem

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

}  // namespace

ScanResult scan_messages_until_stop(std::span<const std::uint8_t> buffer) {
  ScanResult result;
  const std::size_t length = buffer.size();
  std::size_t position = 0;
  while (length - position >= kMarker.size()) {
    const void* found =
        ::memmem(buffer.data() + position, length - position, kMarker.data(), kMarker.size());
    if (found == nullptr) {
      break;
    }
    const auto start =
        static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - buffer.data());
    auto declared = declared_length_at(buffer, start);
    if (!declared) {
      result.stop = ScanStop{start, std::move(declared).error()};
      break;
    }
    result.slices.push_back(MessageSlice{start, *declared});
    position = start + *declared;
  }
  return result;
}

Expected<std::vector<MessageSlice>> scan_messages(std::span<const std::uint8_t> buffer) {
  ScanResult result = scan_messages_until_stop(buffer);
  if (result.stop) {
    return std::move(result.stop->error);
  }
  return std::move(result.slices);
}

Expected<std::vector<BufrMessage>> parse_all_messages(std::span<const std::uint8_t> buffer) {
  QV_ASSIGN_OR_RETURN(const std::vector<MessageSlice> slices, scan_messages(buffer));
  std::vector<BufrMessage> messages;
  messages.reserve(slices.size());
  for (const MessageSlice& slice : slices) {
    QV_ASSIGN_OR_RETURN(BufrMessage message, parse_message(slice_bytes(buffer, slice)));
    messages.push_back(std::move(message));
  }
  return messages;
}

}  // namespace quorvel
