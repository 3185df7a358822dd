// ParserDiff: runs the same packets through kw_qnv_portHandler's fast
// parsers and through ReferenceParser, and tells the first difference.
//
// Each packet is stored the way the receiver stores it (cut to 249
// characters in a 250-byte slot) and taken through the service loop's
// sequence: parsePacket_full, then, when both sentence pointers are set,
// parsePacket_s1 and parsePacket_s2. Both sides start from the same state:
// their result fields zeroed, the C library's hidden mktime offset set by
// one real conversion of the same fixed date (the fast side's cache then
// assumes nothing about it), and the clock set to the same reading before
// each packet. Compared, per packet: the node number, the
// sentence pointers (as offsets into the slot), both results, the 250 bytes
// of the slot after parsing, and the result fields bit for bit (latitude_
// and longitude_ as bit patterns, every member of utcTm_ including the zone
// name pointer, every member of utc1970_, all 128 bytes of utcString_); at
// the end, the whole trace log each side wrote (each side logs into its own
// file, opened fresh).
//
// Thread safety: one object at a time per process; it opens and closes the
// global log and replaces the clock source while it runs.
#pragma once

#include <string>
#include <vector>

#include "feed/kw_qnv_portHandler.h"
#include "platform/platform.h"
#include "testing/reference_parser.h"

namespace kw_test {

class ParserDiff {
 public:
  // The two log files go into `directory`, which must exist.
  explicit ParserDiff(const std::string& directory);
  ~ParserDiff();
  ParserDiff(const ParserDiff&) = delete;
  ParserDiff& operator=(const ParserDiff&) = delete;

  // Runs `packets` on both sides; the clock reads clock[i] during packet i
  // (the last reading for later packets; a fixed one when empty). Returns
  // an empty text when everything matched, else the first difference.
  std::string run(const std::vector<std::string>& packets,
                  const std::vector<kw::ClockReading>& clock);

 private:
  struct Outcome;
  template <class Parser>
  void runSide(Parser& parser, const std::vector<std::string>& packets,
               const std::vector<kw::ClockReading>& clock, const std::string& logPath,
               std::vector<Outcome>& outcomes, std::string& log);

  std::string fastLog_;
  std::string referenceLog_;
  kw_qnv_portHandler fast_;
  ReferenceParser reference_;
};

}  // namespace kw_test
