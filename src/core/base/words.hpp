// Lines and words of table text: content lines without comments, words split
// at Unicode White_Space. Views borrow from the text given.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "core/base/bufr_error.hpp"
#include "core/base/text_rules.hpp"

namespace quorvel {

// trim_white_space, with the plain ASCII ends that table files nearly always
// have taken off first, without a call.
inline std::string_view trim_line(std::string_view line) {
  while (!line.empty() && is_ascii_white_space(static_cast<unsigned char>(line.front()))) {
    line.remove_prefix(1);
  }
  while (!line.empty() && is_ascii_white_space(static_cast<unsigned char>(line.back()))) {
    line.remove_suffix(1);
  }
  if (line.empty() || (static_cast<unsigned char>(line.front()) < 0x80 &&
                       static_cast<unsigned char>(line.back()) < 0x80)) {
    return line;
  }
  return trim_white_space(line);
}

// Calls `line_handler` with each line (split at LF, trimmed), skipping empty
// lines and comments ('#' first); stops at the first error it returns.
template <class LineHandler>
Status for_each_content_line(std::string_view text, LineHandler line_handler) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view line = trim_line(text.substr(start, end - start));
    if (!line.empty() && line.front() != '#') {
      QV_TRY(line_handler(line));
    }
    start = end + 1;
  }
  return {};
}

// The words of `line`, split at runs of White_Space, into `words` (cleared
// first). With a `limit`, the last word taken is the rest of the line from
// where that word starts.
void split_words(std::string_view line, std::vector<std::string_view>& words,
                 std::size_t limit = std::string_view::npos);

// Whether `text` is words of visible ASCII, each two parted by one space:
// text that splitting into words and joining them by single spaces leaves as
// it is. Any other byte, even one that is no White_Space, just says no.
bool is_single_spaced_ascii(std::string_view text);

// How often `byte` occurs in `text`, for sizing containers up front.
std::size_t count_of(std::string_view text, char byte);

}  // namespace quorvel
