// The quoted form: how a table text is shown inside a message or a repr, in
// double quotes with its special and unprintable characters escaped.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// `utf8` between double quotes. A backslash goes before '"' and '\'; tab, CR,
// LF and NUL become \t, \r, \n and \0; every other code point that is not
// printable (see is_printable) becomes \u{hex}, lower-case without leading
// zeros (U+00A0 is \u{a0}); everything else is copied unchanged.
//
// Bytes that are not valid UTF-8 are written as U+FFFD, one per maximal
// subpart (the bytes that began a sequence before it broke off), so the result
// is always valid UTF-8 and can become a Python str; U+FFFD is printable and
// appears as itself.
std::string quote(std::string_view utf8);

}  // namespace quorvel
