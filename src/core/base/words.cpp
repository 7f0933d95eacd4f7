#include "core/base/words.hpp"

namespace quorvel {
namespace {

// The length of the White_Space character at line[pos], or 0 when none
// starts there. ASCII is decided here; the rest, rare in table files, out of
// line.
std::size_t non_ascii_white_space_at(std::string_view line, std::size_t pos) {
  const Utf8Step step = decode_utf8(line, pos);
  return step.valid && is_white_space(step.code_point) ? step.length : 0;
}
inline std::size_t white_space_at(std::string_view line, std::size_t pos) {
  const auto byte = static_cast<unsigned char>(line[pos]);
  if (byte < 0x80) {
    return is_ascii_white_space(byte) ? 1 : 0;
  }
  return non_ascii_white_space_at(line, pos);
}

}  // namespace

void split_words(std::string_view line, std::vector<std::string_view>& words, std::size_t limit) {
  words.clear();
  std::size_t pos = 0;
  while (pos < line.size()) {
    if (const std::size_t white = white_space_at(line, pos); white != 0) {
      pos += white;
      continue;
    }
    if (words.size() + 1 == limit) {
      words.push_back(line.substr(pos));
      return;
    }
    // A word may be scanned byte by byte: the bytes after the first of a
    // UTF-8 sequence, valid or not, are continuation bytes, which never start
    // White_Space.
    const std::size_t start = pos;
    do {
      ++pos;
    } while (pos < line.size() && white_space_at(line, pos) == 0);
    words.push_back(line.substr(start, pos - start));
  }
}

bool is_single_spaced_ascii(std::string_view text) {
  bool after_space = true;  // no space may lead
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == ' ') {
      if (after_space) {
        return false;
      }
      after_space = true;
    } else if (byte > ' ' && byte < 0x7F) {
      after_space = false;
    } else {
      return false;
    }
  }
  return !after_space;  // nor trail, and the text is not empty
}

std::size_t count_of(std::string_view text, char byte) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(byte); pos != std::string_view::npos;
       pos = text.find(byte, pos + 1)) {
    ++count;
  }
  return count;
}

}  // namespace quorvel
