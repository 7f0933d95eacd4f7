// Text made valid UTF-8 for showing it: each invalid sequence becomes one
// U+FFFD, as Python's "replace" error handler does.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// U+FFFD REPLACEMENT CHARACTER in UTF-8.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// `text` with every maximal subpart of an invalid UTF-8 sequence replaced by
// kReplacementCharacter.
std::string to_utf8_lossy(std::string_view text);

}  // namespace quorvel
