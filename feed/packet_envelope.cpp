#include "feed/packet_envelope.h"

namespace kw::envelope {

bool mayPass(const char* text, int slotSize) {
  const size_t room = slotSize > 1 ? static_cast<size_t>(slotSize) - 1 : 0;
  const char* const end = text + strnlen(text, room);
  // A character at or past the stored end reads as the terminator.
  auto at = [end](const char* p) { return p < end ? *p : '\0'; };

  const char* dollar =
      static_cast<const char*>(std::memchr(text, '$', static_cast<size_t>(end - text)));
  if (dollar == nullptr || dollar + 1 == end) return false;
  // The first sentence must have its "*" before the second "$", and no
  // second "*" between them.
  const char* star = nullptr;
  const char* p = dollar + 1;
  while (p < end && *p != '$' && *p != '*') ++p;
  if (p == end || *p == '$') return false;
  star = p;
  for (++p; p < end && *p != '$' && *p != '*'; ++p) {
  }
  if (p == end || *p == '*') return false;
  const char* second = p;
  const char after = at(star + 1);
  if (after != '$' && after != ',' &&
      !checksumMatches(xorOf(dollar + 1, star), after, at(star + 2))) {
    return false;
  }
  const char* body = second + 1;
  const char* last =
      static_cast<const char*>(std::memchr(body, '*', static_cast<size_t>(end - body)));
  if (last == nullptr) return false;
  return checksumMatches(xorOf(body, last), at(last + 1), at(last + 2));
}

bool nodeNumber(const char* text, int* node) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > limit) return false;
  }
  *node = static_cast<int>(negative ? -value : value);
  return true;
}

}  // namespace kw::envelope
