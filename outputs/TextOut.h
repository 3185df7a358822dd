// Small appenders that the output forms build their texts with: JSON and XML
// string escaping, ISO 8601 UTC times with milliseconds, fixed-point numbers.
// They append to a caller's string and never allocate beyond that string.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/terminal_text.h"

namespace kw_out {

// Appends `text` as a JSON string, quotes included. Control characters are
// escaped; bytes that are not valid UTF-8 are replaced by U+FFFD so that the
// result is always valid JSON.
void appendJsonString(std::string* out, std::string_view text);

// Appends `text` with &, <, >, " and ' escaped for XML, control characters
// other than tab and line feed dropped and invalid UTF-8 replaced by U+FFFD.
void appendXmlText(std::string* out, std::string_view text);

// Appends `text` for a line of a terminal: control characters (C0, DEL and
// C1) as spaces, so that nothing in it moves the cursor or starts an escape
// sequence, and invalid UTF-8 replaced by U+FFFD. The platform's filter, the
// one every program's terminal and log lines go through.
using kw::appendTerminalText;

// Appends "YYYY-MM-DDTHH:MM:SS.mmmZ". Milliseconds outside 0..999 are clamped.
void appendIsoTime(std::string* out, int64_t utcSec, int utcMs);

// Appends `value` with `decimals` digits after the point ("null" when the
// value is not finite, so JSON stays valid).
void appendFixed(std::string* out, double value, int decimals);

void appendInt(std::string* out, int64_t value);
void appendUnsigned(std::string* out, uint64_t value);

}  // namespace kw_out
