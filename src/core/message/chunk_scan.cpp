#include "core/message/chunk_scan.hpp"

#include <string.h>  // memmem

#include <algorithm>
#include <array>

#include "core/message/scanner.hpp"

namespace quorvel {
namespace {

constexpr std::array<std::uint8_t, 4> kMarker = {'B', 'U', 'F', 'R'};
constexpr std::size_t kSection0Length = 8;

// The offset of the next marker at or after `position`, or the chunk's size.
// Searches a window at a time so that long runs without a marker are polled.
Expected<std::size_t> find_marker(std::span<const std::uint8_t> chunk, std::size_t position,
                                  Interrupt interrupt) {
  while (chunk.size() - position >= kMarker.size()) {
    const std::size_t window =
        std::min(chunk.size() - position, kScanPollOctets + kMarker.size() - 1);
    const void* found = ::memmem(chunk.data() + position, window, kMarker.data(), kMarker.size());
    if (found != nullptr) {
      return static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - chunk.data());
    }
    if (window == chunk.size() - position) {
      break;
    }
    position += kScanPollOctets;
    if (interrupt.requested()) {
      return BufrError::interrupted();
    }
  }
  return chunk.size();
}

}  // namespace

Expected<ChunkScan> scan_chunk(std::span<const std::uint8_t> chunk, std::size_t start, bool last,
                               std::uint64_t base_offset, Interrupt interrupt) {
  ChunkScan scan;
  std::size_t position = std::min(start, chunk.size());
  std::size_t polled = 0;
  const auto stop = [&](ChunkStop why, std::size_t offset, std::size_t length,
                        std::size_t next_start, std::optional<BufrError> error) {
    scan.stop = why;
    scan.offset = offset;
    scan.length = length;
    scan.next_start = next_start;
    scan.error = std::move(error);
    return std::move(scan);
  };
  while (scan.messages.size() < kChunkMessages) {
    QV_ASSIGN_OR_RETURN(const std::size_t marker, find_marker(chunk, position, interrupt));
    if (marker == chunk.size()) {
      break;
    }
    const std::size_t available = chunk.size() - marker;
    if (available < kSection0Length) {
      if (!last) {
        return stop(ChunkStop::more, marker, kSection0Length, marker, std::nullopt);
      }
      return stop(ChunkStop::truncated, marker, 0, chunk.size(), BufrError::too_short());
    }
    const std::size_t declared = (std::size_t{chunk[marker + 4]} << 16) |
                                 (std::size_t{chunk[marker + 5]} << 8) | chunk[marker + 6];
    if (declared == 0) {
      return stop(ChunkStop::message, marker, kMarker.size(), marker + kMarker.size(),
                  BufrError::too_short());
    }
    if (declared > available) {
      if (!last) {
        return stop(ChunkStop::more, marker, declared, marker, std::nullopt);
      }
      return stop(ChunkStop::truncated, marker, declared, chunk.size(),
                  BufrError::section_truncated(0, base_offset + marker));
    }
    auto header = parse_message_any_edition(chunk.subspan(marker, declared));
    if (!header) {
      return stop(ChunkStop::message, marker, declared, marker + declared,
                  std::move(header).error());
    }
    scan.messages.push_back(ChunkMessage{marker, std::move(*header)});
    position = marker + declared;
    polled += declared;
    if (polled >= kScanPollOctets || scan.messages.size() % kScanPollMessages == 0) {
      polled = 0;
      if (interrupt.requested()) {
        return BufrError::interrupted();
      }
    }
  }
  if (scan.messages.size() == kChunkMessages) {
    scan.next_start = position;
  } else {
    scan.next_start =
        last ? chunk.size()
             : std::max(position, chunk.size() - std::min<std::size_t>(chunk.size(), 3));
  }
  return scan;
}

}  // namespace quorvel
