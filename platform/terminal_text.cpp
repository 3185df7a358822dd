// Terminal text (see terminal_text.h).
#include "platform/terminal_text.h"

#include <cstdint>

namespace kw {

std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(at);
  std::size_t n;
  uint32_t cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else
    return 0;
  if (at + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(at + k) & 0x3F);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
      (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
    return 0;
  return n;
}

void appendTerminalText(std::string* out, std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t n = utf8SequenceLength(text, i);
    if (n == 0) {
      out->append("\xEF\xBF\xBD");  // U+FFFD
    } else if (c < 0x20 || c == 0x7F ||
               (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
      out->push_back(' ');  // C0, DEL, and C1 (U+0080..U+009F, which some terminals obey)
    } else {
      out->append(text.substr(i, n));
    }
    i += n == 0 ? 1 : n;
  }
}

std::string terminalText(std::string_view text) {
  std::string out;
  appendTerminalText(&out, text);
  return out;
}

}  // namespace kw
