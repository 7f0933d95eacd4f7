#include "core/base/quoted.hpp"

#include "core/base/lossy_utf8.hpp"
#include "core/base/text_rules.hpp"

namespace quorvel {
namespace {

void append_code_point_escape(std::string& out, char32_t code_point) {
  constexpr std::string_view kHexDigits = "0123456789abcdef";
  out += "\\u{";
  int shift = 20;  // code points have at most six hex digits
  while (shift > 0 && (code_point >> shift) == 0) {
    shift -= 4;
  }
  for (; shift >= 0; shift -= 4) {
    out += kHexDigits[(code_point >> shift) & 0xFU];
  }
  out += '}';
}

}  // namespace

std::string quote(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  out += '"';
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const Utf8Step step = decode_utf8(utf8, pos);
    if (!step.valid) {
      out += kReplacementCharacter;
      pos += step.length;
      continue;
    }
    switch (step.code_point) {
      case U'"':
        out += "\\\"";
        break;
      case U'\\':
        out += "\\\\";
        break;
      case U'\t':
        out += "\\t";
        break;
      case U'\r':
        out += "\\r";
        break;
      case U'\n':
        out += "\\n";
        break;
      case U'\0':
        out += "\\0";
        break;
      default:
        if (is_printable(step.code_point)) {
          out.append(utf8.substr(pos, step.length));
        } else {
          append_code_point_escape(out, step.code_point);
        }
    }
    pos += step.length;
  }
  out += '"';
  return out;
}

}  // namespace quorvel
