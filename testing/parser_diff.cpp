#include "testing/parser_diff.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "feed/KW_OLog.h"
#include "feed/scan.h"

namespace kw_test {

namespace {

constexpr size_t kSlotSize = 250;

kw::ClockReading g_reading{1780000000, 0};
kw::ClockReading readFakeClock() { return g_reading; }

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

uint64_t bitsOf(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// A conversion that leaves the C library's hidden mktime offset at the same
// value on both sides. Its second 60 is out of range, so the fast side calls
// mktime too, and knows nothing about the offset afterwards (the reference
// side's own calls have changed it without its knowledge).
tm anchorDate() {
  tm anchor{};
  anchor.tm_year = 101;
  anchor.tm_mon = 0;
  anchor.tm_mday = 15;
  anchor.tm_hour = 11;
  anchor.tm_min = 59;
  anchor.tm_sec = 60;
  anchor.tm_isdst = -1;
  return anchor;
}

void anchor(kw_qnv_portHandler&) {
  tm date = anchorDate();
  kw::scan::localTime(&date);
}

void anchor(ReferenceParser&) {
  tm date = anchorDate();
  std::mktime(&date);
}

template <class Parser>
void resetFields(Parser& parser) {
  parser.latitude_ = 0.0;
  parser.longitude_ = 0.0;
  parser.utc1970_ = {};
  std::memset(&parser.utcTm_, 0, sizeof parser.utcTm_);
  std::memset(parser.utcString_, 0, sizeof parser.utcString_);
}

std::string printable(const char* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  return out;
}

}  // namespace

struct ParserDiff::Outcome {
  int node;
  long first;  // offset into the slot, -1 for null
  long second;
  int time;  // -1 when not called
  int position;
  char slot[kSlotSize];
  uint64_t latitude;
  uint64_t longitude;
  kw::_timeb utc1970;
  tm utcTm;
  char utcString[128];
};

ParserDiff::ParserDiff(const std::string& directory)
    : fastLog_(directory + "/fast.log"),
      referenceLog_(directory + "/reference.log"),
      fast_("diff", "239.255.42.1", 47000, static_cast<int>(kSlotSize), 1, nullptr) {}

ParserDiff::~ParserDiff() {
  std::remove(fastLog_.c_str());
  std::remove(referenceLog_.c_str());
}

template <class Parser>
void ParserDiff::runSide(Parser& parser, const std::vector<std::string>& packets,
                         const std::vector<kw::ClockReading>& clock, const std::string& logPath,
                         std::vector<Outcome>& outcomes, std::string& log) {
  resetFields(parser);
  olog->close();
  olog->open("%s", logPath.c_str());
  anchor(parser);
  outcomes.assign(packets.size(), Outcome{});
  for (size_t i = 0; i < packets.size(); ++i) {
    if (!clock.empty()) g_reading = clock[i < clock.size() ? i : clock.size() - 1];
    Outcome& out = outcomes[i];
    char slot[kSlotSize];
    std::memset(slot, '#', sizeof slot);
    const size_t length = strnlen(packets[i].c_str(), kSlotSize - 1);
    std::memcpy(slot, packets[i].c_str(), length);
    slot[length] = '\0';

    char* first = nullptr;
    char* second = nullptr;
    out.node = parser.parsePacket_full(slot, &first, &second);
    out.first = first ? first - slot : -1;
    out.second = second ? second - slot : -1;
    out.time = -1;
    out.position = -1;
    if (first != nullptr && second != nullptr) {
      out.time = parser.parsePacket_s1(first) ? 1 : 0;
      out.position = parser.parsePacket_s2(second) ? 1 : 0;
    }
    std::memcpy(out.slot, slot, sizeof slot);
    out.latitude = bitsOf(parser.latitude_);
    out.longitude = bitsOf(parser.longitude_);
    out.utc1970 = parser.utc1970_;
    out.utcTm = parser.utcTm_;
    std::memcpy(out.utcString, parser.utcString_, sizeof out.utcString);
  }
  olog->close();
  log = slurp(logPath);
}

std::string ParserDiff::run(const std::vector<std::string>& packets,
                            const std::vector<kw::ClockReading>& clock) {
  kw::setClockSource(&readFakeClock);
  g_reading = kw::ClockReading{1780000000, 0};
  std::vector<Outcome> fast;
  std::vector<Outcome> reference;
  std::string fastLog;
  std::string referenceLog;
  runSide(fast_, packets, clock, fastLog_, fast, fastLog);
  g_reading = kw::ClockReading{1780000000, 0};
  runSide(reference_, packets, clock, referenceLog_, reference, referenceLog);
  kw::setClockSource(nullptr);

  for (size_t i = 0; i < packets.size(); ++i) {
    const Outcome& a = fast[i];
    const Outcome& b = reference[i];
    const tm& ta = a.utcTm;
    const tm& tb = b.utcTm;
    const bool same =
        a.node == b.node && a.first == b.first && a.second == b.second && a.time == b.time &&
        a.position == b.position && a.latitude == b.latitude && a.longitude == b.longitude &&
        a.utc1970.time == b.utc1970.time && a.utc1970.millitm == b.utc1970.millitm &&
        a.utc1970.timezone == b.utc1970.timezone && a.utc1970.dstflag == b.utc1970.dstflag &&
        ta.tm_sec == tb.tm_sec && ta.tm_min == tb.tm_min && ta.tm_hour == tb.tm_hour &&
        ta.tm_mday == tb.tm_mday && ta.tm_mon == tb.tm_mon && ta.tm_year == tb.tm_year &&
        ta.tm_wday == tb.tm_wday && ta.tm_yday == tb.tm_yday && ta.tm_isdst == tb.tm_isdst &&
        ta.tm_gmtoff == tb.tm_gmtoff && ta.tm_zone == tb.tm_zone &&
        std::memcmp(a.utcString, b.utcString, sizeof a.utcString) == 0 &&
        std::memcmp(a.slot, b.slot, sizeof a.slot) == 0;
    if (same) continue;

    std::ostringstream what;
    auto differ = [&](const char* name, auto x, auto y) {
      if (x == y) return false;
      what << name << ": fast " << x << ", reference " << y;
      return true;
    };
    differ("node", a.node, b.node) || differ("first", a.first, b.first) ||
        differ("second", a.second, b.second) || differ("parsePacket_s1", a.time, b.time) ||
        differ("parsePacket_s2", a.position, b.position) ||
        differ("latitude_ bits", a.latitude, b.latitude) ||
        differ("longitude_ bits", a.longitude, b.longitude) ||
        differ("utc1970_.time", a.utc1970.time, b.utc1970.time) ||
        differ("utc1970_.millitm", a.utc1970.millitm, b.utc1970.millitm) ||
        differ("utc1970_.timezone", a.utc1970.timezone, b.utc1970.timezone) ||
        differ("utc1970_.dstflag", a.utc1970.dstflag, b.utc1970.dstflag) ||
        differ("tm_sec", ta.tm_sec, tb.tm_sec) || differ("tm_min", ta.tm_min, tb.tm_min) ||
        differ("tm_hour", ta.tm_hour, tb.tm_hour) || differ("tm_mday", ta.tm_mday, tb.tm_mday) ||
        differ("tm_mon", ta.tm_mon, tb.tm_mon) || differ("tm_year", ta.tm_year, tb.tm_year) ||
        differ("tm_wday", ta.tm_wday, tb.tm_wday) || differ("tm_yday", ta.tm_yday, tb.tm_yday) ||
        differ("tm_isdst", ta.tm_isdst, tb.tm_isdst) ||
        differ("tm_gmtoff", ta.tm_gmtoff, tb.tm_gmtoff) ||
        differ("tm_zone", static_cast<const void*>(ta.tm_zone),
               static_cast<const void*>(tb.tm_zone)) ||
        differ("utcString_", printable(a.utcString, sizeof a.utcString),
               printable(b.utcString, sizeof b.utcString)) ||
        differ("slot", printable(a.slot, sizeof a.slot), printable(b.slot, sizeof b.slot));
    return "packet " + std::to_string(i) + " |" + printable(packets[i].data(), packets[i].size()) +
           "|: " + what.str();
  }
  if (fastLog != referenceLog) {
    return "trace log differs:\n--- fast\n" + fastLog + "--- reference\n" + referenceLog;
  }
  return {};
}

}  // namespace kw_test
