// scan_chunk: the step of a streaming reader. It finds and parses the
// messages of one chunk of a file, and says where the next step starts and
// why this one stopped: the end of the chunk, a message that fails to parse,
// a message that needs octets the chunk does not hold yet, or (in the last
// chunk) a message cut short by the end of the file.
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

struct ChunkMessage {
  std::size_t start = 0;  // offset of the marker in the chunk
  BufrMessage header;     // header.total_length octets from `start`
};

enum class ChunkStop {
  end,        // no further marker, or the step made its most messages
  message,    // the message at `offset` (of `length` octets) fails to parse
  more,       // the message at `offset` needs `length` octets from there
  truncated,  // the last chunk ends inside the message at `offset`
};

struct ChunkScan {
  std::vector<ChunkMessage> messages;
  // Where the next step searches from. After a failed message it is the end
  // of the octets that message declared (for a declared length of 0, the end
  // of its marker, so that the search still moves on); after `more`, the
  // marker; when the chunk is not the last, never past its last three
  // octets, which may begin a marker the next chunk completes.
  std::size_t next_start = 0;
  ChunkStop stop = ChunkStop::end;
  std::size_t offset = 0;
  std::size_t length = 0;
  std::optional<BufrError> error;  // why, for `message` and `truncated`
};

// Most messages one step makes, so that a caller sees results of a huge
// chunk in bounded portions.
inline constexpr std::size_t kChunkMessages = 4096;

// Scans `chunk` from `start` (at most its size) as the scanner does: a
// "BUFR" marker, its 24-bit declared length, and the octets between messages
// skipped. `last` says whether the file ends with this chunk. `base_offset`
// is the chunk's offset in the file, for the wording of a truncation. Fails
// only with Interrupted.
Expected<ChunkScan> scan_chunk(std::span<const std::uint8_t> chunk, std::size_t start, bool last,
                               std::uint64_t base_offset, Interrupt interrupt = {});

}  // namespace quorvel
