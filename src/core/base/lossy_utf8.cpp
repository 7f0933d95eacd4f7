#include "core/base/lossy_utf8.hpp"

#include <algorithm>

#include "core/base/text_rules.hpp"

namespace quorvel {

std::string to_utf8_lossy(std::string_view text) {
  if (utf8_valid_up_to(text) == text.size()) {
    return std::string(text);
  }
  std::string result;
  result.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const Utf8Step step = decode_utf8(text, pos);
    if (step.valid) {
      result.append(text.substr(pos, step.length));
    } else {
      result.append(kReplacementCharacter);
    }
    pos += std::max<std::size_t>(step.length, 1);
  }
  return result;
}

}  // namespace quorvel
