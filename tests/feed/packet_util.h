// Helpers for building feed packets in tests.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace kw_test {

inline unsigned xorChecksum(const std::string& body) {
  unsigned sum = 0;
  for (unsigned char c : body) sum ^= c;
  return sum;
}

inline std::string hex2(unsigned value, bool upper = false) {
  char text[8];
  std::snprintf(text, sizeof text, upper ? "%2X" : "%2x", value);
  return text;
}

// A packet in the beacon's form, with correct checksums.
inline std::string makePacket(int node, const std::string& zda, const std::string& gll) {
  char text[1024];
  std::snprintf(text, sizeof text, "%03d,com1,com2,$%s*%2x,$%s*%2x", node, zda.c_str(),
                xorChecksum(zda), gll.c_str(), xorChecksum(gll));
  return text;
}

inline std::string zdaBody(const std::string& clock, int day = 7, int month = 12, int year = 2026) {
  char text[256];
  std::snprintf(text, sizeof text, "GPZDA,%s,%02d,%02d,%04d,08,00", clock.c_str(), day, month,
                year);
  return text;
}

inline std::string gllBody(const std::string& latitude = "3555.4270",
                           const std::string& longitude = "11526.3400",
                           const std::string& clock = "123456.78") {
  return "GPGLL," + latitude + ",N," + longitude + ",W," + clock + ",A,A";
}

// The first time-sentence body whose checksum satisfies `wanted`, varying
// the sentence type's middle letters (never compared) and the hundredths.
inline std::string zdaWithChecksum(const std::function<bool(unsigned)>& wanted) {
  // Bytes above 0x7f too: only they reach checksums of 0x80 and more.
  for (int a = 0x30; a <= 0xfe; ++a) {
    for (int b = 0x30; b <= 0xfe; ++b) {
      for (int hundredths = 0; hundredths < 100; ++hundredths) {
        char text[256];
        std::snprintf(text, sizeof text, "G%c%cDA,123456.%02d,07,12,2026,08,00", a, b, hundredths);
        if (wanted(xorChecksum(text))) return text;
      }
    }
  }
  return {};
}

}  // namespace kw_test
