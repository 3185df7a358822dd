// ReferenceParser: the straightforward packet parsers, on the C library's
// sscanf, snprintf, mktime and kw::_ftime, kept as the reference that the
// fast parsers of kw_qnv_portHandler must match bit for bit. Its three
// operations and its result fields have the names and the meaning of
// kw_qnv_portHandler's (parsePacket_full, parsePacket_s1, parsePacket_s2;
// latitude_ to utcString_), and it writes the same trace lines to olog.
//
// Thread safety: one object per thread; the log is shared (see KW_OLog).
#pragma once

#include <ctime>

#include "platform/platform.h"

class ReferenceParser {
 public:
  int parsePacket_full(char* packet, char** first, char** second);
  bool parsePacket_s1(char* sentence);
  bool parsePacket_s2(char* sentence);

  double latitude_ = 0.0;
  double longitude_ = 0.0;
  kw::_timeb utc1970_ = {};
  tm utcTm_ = {};
  char utcString_[128] = {};
};
