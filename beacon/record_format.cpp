// The line format of a feed recording (see record_format.h).
#include "beacon/record_format.h"

namespace kw_beacon {

namespace {

constexpr char kHex[] = "0123456789abcdef";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string escapeDatagram(std::string_view datagram) {
  std::string text;
  text.reserve(datagram.size());
  for (const char c : datagram) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      text += "\\\\";
    } else if (byte >= 0x20 && byte <= 0x7E) {
      text += c;
    } else {
      text += "\\x";
      text += kHex[byte >> 4];
      text += kHex[byte & 0xF];
    }
  }
  return text;
}

std::string formatRecord(uint64_t milliseconds, std::string_view datagram) {
  std::string line = std::to_string(milliseconds);
  line += '\t';
  line += escapeDatagram(datagram);
  line += '\n';
  return line;
}

LineKind parseRecordLine(std::string_view line, uint64_t* milliseconds, std::string* datagram,
                         std::string* problem) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // written on another system
  if (line.empty() || line[0] == '#') return LineKind::Skip;

  const size_t tab = line.find('\t');
  if (tab == std::string_view::npos) {
    *problem = "no tab after the time";
    return LineKind::Bad;
  }
  if (tab == 0 || tab > 19) {
    *problem = tab == 0 ? "no time before the tab" : "time is not a number of milliseconds";
    return LineKind::Bad;
  }
  uint64_t time = 0;
  for (size_t i = 0; i < tab; ++i) {
    if (line[i] < '0' || line[i] > '9') {
      *problem = "time is not a number of milliseconds";
      return LineKind::Bad;
    }
    time = time * 10 + static_cast<uint64_t>(line[i] - '0');
  }

  if (time > kMaxRecordedTime) {
    *problem = "time " + std::to_string(time) + " ms is beyond the longest recording (" +
               std::to_string(kMaxRecordedTime) + " ms, about 31 years)";
    return LineKind::Bad;
  }

  datagram->clear();
  for (size_t i = tab + 1; i < line.size(); ++i) {
    const char c = line[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      if (i + 1 < line.size() && line[i + 1] == '\\') {
        *datagram += '\\';
        i += 1;
        continue;
      }
      if (i + 3 < line.size() && line[i + 1] == 'x' && hexValue(line[i + 2]) >= 0 &&
          hexValue(line[i + 3]) >= 0) {
        *datagram += static_cast<char>(hexValue(line[i + 2]) * 16 + hexValue(line[i + 3]));
        i += 3;
        continue;
      }
      *problem = "bad escape at character " + std::to_string(i + 1) + " (only \\\\ and \\xHH)";
      return LineKind::Bad;
    }
    if (byte < 0x20 || byte > 0x7E) {
      *problem =
          "unescaped byte " + std::to_string(byte) + " at character " + std::to_string(i + 1);
      return LineKind::Bad;
    }
    *datagram += c;
  }
  if (datagram->size() > kMaxRecordedDatagram) {
    *problem = "datagram longer than " + std::to_string(kMaxRecordedDatagram) + " bytes";
    return LineKind::Bad;
  }
  *milliseconds = time;
  return LineKind::Record;
}

}  // namespace kw_beacon
