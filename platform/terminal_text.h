// Terminal text: a text from a list file, a command line or the network made
// safe to write to a terminal or a log that a person reads on one.
//
// Control characters (C0, DEL and C1) become spaces, so that nothing in the
// text moves the cursor, retitles the window or starts an escape sequence,
// and bytes that are not valid UTF-8 become U+FFFD, so that the terminal
// never swallows the bytes after them.
//
// Owns nothing. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kw {

// The length of the well-formed UTF-8 sequence that starts at text[at]
// (1 for an ASCII byte), or 0 when none starts there (a stray continuation
// byte, an overlong form, a surrogate, a code point above U+10FFFF, a cut
// sequence).
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

// Appends `text` for a line of a terminal (see above).
void appendTerminalText(std::string* out, std::string_view text);

// `text` as appendTerminalText writes it.
std::string terminalText(std::string_view text);

}  // namespace kw
