#include "core/tables/formats/sequence_def.hpp"

#include <fcntl.h>

#include <cstdint>
#include <string_view>
#include <utility>

#include "core/base/file_io.hpp"
#include "core/base/text_rules.hpp"
#include "core/base/words.hpp"

namespace quorvel {
namespace {

// One complete "sequence.def" entry: `key = [ members ]`.
Status parse_sequence_entry(std::string_view entry, SequenceMap& sequences) {
  const std::size_t equals = entry.find('=');
  if (equals == std::string_view::npos) {
    return {};
  }
  const std::string_view key = strip_quotes(trim_white_space(entry.substr(0, equals)));
  QV_ASSIGN_OR_RETURN(const std::uint32_t code, parse_descriptor_code(key));
  const std::string_view value = entry.substr(equals + 1);
  const std::size_t open = value.find('[');
  const std::size_t close = value.find(']');
  // A ']' before the '[' leaves no member list either.
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return BufrError::bad_sequence_entry(entry);
  }
  SequenceDefinition sequence{code, {}};
  std::string_view list = value.substr(open + 1, close - open - 1);
  sequence.members.reserve(count_of(list, ',') + 1);
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view piece = trim_white_space(list.substr(0, comma));
    if (!piece.empty()) {
      QV_ASSIGN_OR_RETURN(const std::uint32_t member, parse_descriptor_code(piece));
      sequence.members.push_back(member);
    }
    if (comma == std::string_view::npos) {
      break;
    }
    list.remove_prefix(comma + 1);
  }
  sequences.insert_or_assign(code, std::move(sequence));
  return {};
}

}  // namespace

Status read_sequence_def(const std::string& file, SequenceMap& sequences) {
  FileReader file_reader;
  QV_ASSIGN_OR_RETURN(const std::string_view text,
                      read_utf8_file(file_reader, AT_FDCWD, file.c_str(), file));
  // The lines of an entry that spans several, joined by single spaces.
  std::string pending;
  return for_each_content_line(text, [&](std::string_view line) -> Status {
    // Only the newest line can hold the first ']' of the pending entry.
    const bool complete = line.find(']') != std::string_view::npos;
    if (pending.empty() && complete) {
      return parse_sequence_entry(line, sequences);
    }
    if (!pending.empty()) {
      pending += ' ';
    }
    pending += line;
    if (!complete) {
      return {};
    }
    Status status = parse_sequence_entry(pending, sequences);
    pending.clear();
    return status;
  });
}

}  // namespace quorvel
