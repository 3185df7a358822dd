#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "feed/KW_OLog.h"
#include "feed/kw_qnv_portHandler.h"
#include "tests/feed/packet_util.h"
#include "tests/support/temp_dir.h"

namespace {

using kw_test::gllBody;
using kw_test::makePacket;
using kw_test::zdaBody;

const char* const kWorkedExample =
    "001,com1,com2,$GPZDA,123456.78,07,12,2026,08,00*64,$GPGLL,3555.4270,N,11526.3400,W,"
    "123456.78,A,A*72";

class ParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.enter();
    ASSERT_EQ(olog->open("logFile.txt"), 1);
  }
  void TearDown() override { olog->close(); }

  struct Result {
    int node;
    bool accepted;
    std::string first;
    std::string second;
  };

  Result full(const std::string& packet) {
    text_.assign(packet.begin(), packet.end());
    text_.push_back('\0');
    char* first = nullptr;
    char* second = nullptr;
    const int node = port_.parsePacket_full(text_.data(), &first, &second);
    first_ = first;
    second_ = second;
    return {node, first != nullptr && second != nullptr, first ? first : "", second ? second : ""};
  }

  // Runs the whole sequence the service loop runs; true when both parse.
  bool parseAll(const std::string& packet) {
    const Result r = full(packet);
    if (!r.accepted) return false;
    const bool time = port_.parsePacket_s1(first_);
    const bool position = port_.parsePacket_s2(second_);
    return time && position;
  }

  std::vector<std::string> logLines() {
    std::vector<std::string> lines;
    const std::string content = kw_test::readFile("logFile.txt");
    size_t start = 0;
    while (start < content.size()) {
      const size_t end = content.find('\n', start);
      lines.push_back(content.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return lines;
  }

  std::string lastLogLine() {
    const auto lines = logLines();
    return lines.empty() ? std::string("<none>") : lines.back();
  }

  kw_test::TempDir dir_;
  kw_qnv_portHandler port_{"feedA", "239.255.42.1", 47000, 250, 20, nullptr};
  std::vector<char> text_;
  char* first_ = nullptr;
  char* second_ = nullptr;
};

TEST_F(ParserTest, WorkedExample) {
  const Result r = full(kWorkedExample);
  ASSERT_TRUE(r.accepted);
  EXPECT_EQ(r.node, 1);
  EXPECT_EQ(r.first, "$GPZDA,123456.78,07,12,2026,08,00");
  EXPECT_EQ(r.second, "$GPGLL,3555.4270,N,11526.3400,W,123456.78,A,A");
  EXPECT_EQ(makePacket(1, zdaBody("123456.78"), gllBody()), kWorkedExample);

  ASSERT_TRUE(parseAll(kWorkedExample));
  EXPECT_NEAR(port_.latitude_, 35.0 + 55.427 / 60.0, 1e-12);
  EXPECT_NEAR(port_.longitude_, -(115.0 + 26.34 / 60.0), 1e-12);
  EXPECT_EQ(port_.utcTm_.tm_year, 126);
  EXPECT_EQ(port_.utcTm_.tm_mon, 11);
  EXPECT_EQ(port_.utcTm_.tm_mday, 7);
  EXPECT_EQ(port_.utcTm_.tm_hour, 12);
  EXPECT_EQ(port_.utcTm_.tm_min, 34);
  EXPECT_EQ(port_.utcTm_.tm_sec, 56);
  EXPECT_EQ(port_.utc1970_.millitm, 780);
  EXPECT_STREQ(port_.utcString_, "2026/12/07,12:34:56.780");
  // TZ is America/Los_Angeles: 12:34:56 PST is 20:34:56 UTC.
  tm utc{};
  utc.tm_year = 126;
  utc.tm_mon = 11;
  utc.tm_mday = 7;
  utc.tm_hour = 20;
  utc.tm_min = 34;
  utc.tm_sec = 56;
  EXPECT_EQ(port_.utc1970_.time, static_cast<int32_t>(timegm(&utc)));
  EXPECT_EQ(port_.utc1970_.timezone, 480);
}

TEST_F(ParserTest, ChecksumForms) {
  // A value below 0x10 whose digit is a letter, to see both cases.
  const std::string small =
      kw_test::zdaWithChecksum([](unsigned v) { return v >= 0xa && v < 0x10; });
  ASSERT_FALSE(small.empty());
  const unsigned value = kw_test::xorChecksum(small);
  const std::string gll = gllBody();
  const std::string tail = ",$" + gll + "*" + kw_test::hex2(kw_test::xorChecksum(gll));
  auto with = [&](const std::string& sum) { return "001,x,y,$" + small + "*" + sum + tail; };

  EXPECT_TRUE(full(with(kw_test::hex2(value))).accepted) << with(kw_test::hex2(value));
  EXPECT_TRUE(full(with(kw_test::hex2(value, true))).accepted);
  char zeroPadded[8];
  std::snprintf(zeroPadded, sizeof zeroPadded, "%02x", value);
  EXPECT_FALSE(full(with(zeroPadded)).accepted);
  char single[8];
  std::snprintf(single, sizeof single, "%x", value);
  EXPECT_FALSE(full(with(single)).accepted);

  // Two letter digits in mixed case are refused; either single case passes.
  const std::string letters =
      kw_test::zdaWithChecksum([](unsigned v) { return v >= 0xaa && (v & 0xf) >= 0xa; });
  ASSERT_FALSE(letters.empty());
  std::string mixed = kw_test::hex2(kw_test::xorChecksum(letters));
  mixed[1] = static_cast<char>(std::toupper(mixed[1]));
  const std::string base = "001,x,y,$" + letters + "*";
  EXPECT_TRUE(full(base + kw_test::hex2(kw_test::xorChecksum(letters), true) + tail).accepted);
  EXPECT_FALSE(full(base + mixed + tail).accepted);
}

TEST_F(ParserTest, FirstSentenceMayGoUncheckedSecondNever) {
  const std::string gll = gllBody();
  const std::string second = "$" + gll + "*" + kw_test::hex2(kw_test::xorChecksum(gll));
  EXPECT_TRUE(full("001,a,b,$" + zdaBody("123456.78") + "*," + second).accepted);
  EXPECT_TRUE(full("001,a,b,$" + zdaBody("123456.78") + "*" + second).accepted);
  EXPECT_FALSE(full("001,a,b,$" + zdaBody("123456.78") + "*64,$" + gll + "*,").accepted);
  EXPECT_FALSE(full("001,a,b,$" + zdaBody("123456.78") + "*64,$" + gll + "*").accepted);
  EXPECT_EQ(lastLogLine(), "parsePacket_full 06");
}

TEST_F(ParserTest, EnvelopeVariants) {
  const std::string noNumber = makePacket(5, zdaBody("123456.78"), gllBody()).substr(14);
  ASSERT_EQ(noNumber[0], '$');
  Result r = full(noNumber);
  EXPECT_TRUE(r.accepted);
  EXPECT_EQ(r.node, 0);

  r = full("  -12 anything here,$" + makePacket(0, zdaBody("123456.78"), gllBody()).substr(15));
  EXPECT_TRUE(r.accepted);
  EXPECT_EQ(r.node, -12);

  // Text after the second checksum, a third sentence included, is ignored.
  EXPECT_TRUE(full(std::string(kWorkedExample) + ",$GPXXX,1,2*00 trailing").accepted);
}

TEST_F(ParserTest, RejectionsLeaveTheirTraceLines) {
  struct Case {
    std::string packet;
    std::string lastLine;
  };
  const std::string gll = gllBody();
  const std::string gllSum = kw_test::hex2(kw_test::xorChecksum(gll));
  const std::vector<Case> cases = {
      {"001,com1,com2,no sentence at all", "<none>"},
      {"001,com1,com2,$", "parsePacket_full 01"},
      {"001,$GPZDA,1*2*3,$GPGLL*00", "parsePacket_full dumping 02.1 at *3,$GPGLL*00"},
      {"001,$GPZDA,123456.78*64", "parsePacket_full dumping 02.2"},
      {"001,$GPZDA,123456.78,07,12,2026,08,00*65,$" + gll + "*" + gllSum,
       "runner is |GPZDA,123456.78,07,12,2026,08,00|"},
      {"001,$GPZDA,123456.78,07,12,2026,08,00*64,$" + gll, "parsePacket_full 05"},
      {"001,$GPZDA,123456.78,07,12,2026,08,00*64,$" + gll + "*00", "parsePacket_full 06"},
  };
  for (const Case& c : cases) {
    olog->close();
    ASSERT_EQ(olog->open("logFile.txt"), 1);
    const Result r = full(c.packet);
    EXPECT_FALSE(r.accepted) << c.packet;
    EXPECT_TRUE(r.second.empty()) << c.packet;
    EXPECT_EQ(lastLogLine(), c.lastLine) << c.packet;
  }
}

TEST_F(ParserTest, AcceptedPacketTraceSequence) {
  ASSERT_TRUE(full(kWorkedExample).accepted);
  const std::vector<std::string> expected = {"parsePacket_full 01",
                                             "parsePacket_full 02",
                                             "parsePacket_full 03",
                                             "parsePacket_full 04",
                                             "runner is |GPZDA,123456.78,07,12,2026,08,00|",
                                             "parsePacket_full 05",
                                             "parsePacket_full 06",
                                             "parsePacket_full 07"};
  EXPECT_EQ(logLines(), expected);
}

TEST_F(ParserTest, FirstSentenceWithoutStarIsRefused) {
  const std::string gll = gllBody();
  const Result r = full("001,$" + zdaBody("123456.78") + ",$" + gll + "*" +
                        kw_test::hex2(kw_test::xorChecksum(gll)));
  EXPECT_FALSE(r.accepted);
  EXPECT_TRUE(r.first.empty());
}

TEST_F(ParserTest, SentencesInTheOtherOrderAreRefused) {
  const std::string zda = "$" + zdaBody("123456.78");
  const std::string gll = "$" + gllBody();
  std::vector<char> a(gll.begin(), gll.end());
  a.push_back('\0');
  std::vector<char> b(zda.begin(), zda.end());
  b.push_back('\0');
  EXPECT_FALSE(port_.parsePacket_s1(a.data()));
  EXPECT_FALSE(port_.parsePacket_s2(b.data()));
}

TEST_F(ParserTest, TimeSentenceFields) {
  auto s1 = [this](const std::string& sentence) {
    std::vector<char> text(sentence.begin(), sentence.end());
    text.push_back('\0');
    return port_.parsePacket_s1(text.data());
  };
  ASSERT_TRUE(s1("$GPZDA,123405.10,07,12,2026,08,00"));
  EXPECT_EQ(port_.utc1970_.millitm, 100);  // the digits as written, not 5.1 - 5 (0.0999...)
  EXPECT_STREQ(port_.utcString_, "2026/12/07,12:34:05.100");

  ASSERT_TRUE(s1("$GPZDA,123456.78,07,12,2026,08,00"));
  const int32_t reference = port_.utc1970_.time;
  ASSERT_TRUE(s1("$XXABC,123456.78,07,12,2026,-5,30"));  // zone and type do not matter
  EXPECT_EQ(port_.utc1970_.time, reference);
  ASSERT_TRUE(s1("$GPZDA,123456.78,07,12,2026,08,00,,junk"));  // later empty fields ignored
  ASSERT_TRUE(s1("$GPZDA,123456.78,07x,12,2026,08,00"));       // rest of a field ignored

  // Each failure writes nothing.
  const std::string before = port_.utcString_;
  const std::vector<std::string> bad = {
      "$GPZDA,123456.78,07,12,2026,08",     // too few fields
      "$GPZDA,123456.78,07,12,2026,08,",    // last field empty
      "$GPZDA,123456.78,,12,2026,08,00",    // empty field
      "$GPZDA,1234,07,12,2026,08,00",       // clock without seconds
      "$GPZDA,123456.78,xx,12,2026,08,00",  // day no number
      "$GPZDA,123456.78,07,12,2026,08,zz",  // zone minutes no number
      "$GPZDA,1234nan,07,12,2026,08,00",    // seconds no time
      "$GPZDA,1234inf,07,12,2026,08,00",
  };
  for (const std::string& sentence : bad) {
    EXPECT_FALSE(s1(sentence)) << sentence;
    EXPECT_EQ(before, port_.utcString_) << sentence;
  }
}

TEST_F(ParserTest, ExtremeValuesStayWithinTheTimeText) {
  std::string sentence = "$GPZDA,1234" + std::string(200, '9') + ",07,12,2026,08,00";
  std::vector<char> text(sentence.begin(), sentence.end());
  text.push_back('\0');
  // 1e200 seconds is not a time of day; it is refused without touching the text.
  EXPECT_FALSE(port_.parsePacket_s1(text.data()));
  EXPECT_STREQ(port_.utcString_, "");

  const std::string huge = "-" + std::string(40, '9');
  sentence = "$GPZDA,-9-9-2147483647.999," + huge + "," + huge + "," + huge + ",08,00";
  text.assign(sentence.begin(), sentence.end());
  text.push_back('\0');
  ASSERT_TRUE(port_.parsePacket_s1(text.data()));
  EXPECT_EQ(port_.utc1970_.time, -1);  // no calendar date
  EXPECT_LT(std::strlen(port_.utcString_), 128u);
  EXPECT_STREQ(
      port_.utcString_,
      "-9223372036854775808/-9223372036854775808/-9223372036854775808,-9:-9:-2147483647.999");
}

TEST_F(ParserTest, PositionSentenceFields) {
  auto s2 = [this](const std::string& sentence) {
    std::vector<char> text(sentence.begin(), sentence.end());
    text.push_back('\0');
    return port_.parsePacket_s2(text.data());
  };
  ASSERT_TRUE(s2("$GPGLL,3555.4270,s,11526.3400,E,123456.78,V,D"));
  EXPECT_NEAR(port_.latitude_, -(35.0 + 55.427 / 60.0), 1e-12);
  EXPECT_NEAR(port_.longitude_, 115.0 + 26.34 / 60.0, 1e-12);
  ASSERT_TRUE(s2("$GPGLL,0000.0000,n,00030.0000,w,000000.00,a,n"));
  EXPECT_EQ(port_.latitude_, 0.0);
  EXPECT_EQ(port_.longitude_, -0.5);

  const std::vector<std::string> bad = {
      "$GPGLL,3555.4270,X,11526.3400,W,123456.78,A,A",
      "$GPGLL,3555.4270,N,11526.3400,N,123456.78,A,A",
      "$GPGLL,3555.4270,N,11526.3400,W,123456.78,B,A",
      "$GPGLL,3555.4270,N,11526.3400,W,123456.78,A,V",
      "$GPGLL,3555.4270,N,11526.3400,W,12,A,A",
      "$GPGLL,3555.4270,N,,W,123456.78,A,A",
      "$GPGLL,3555.4270,N,11526.3400,W,123456.78,A,",
      "$GPGLL,3555.4270,N,11526.3400,W,123456.78,A",
  };
  for (const std::string& sentence : bad) {
    EXPECT_FALSE(s2(sentence)) << sentence;
    EXPECT_EQ(port_.longitude_, -0.5) << sentence;
  }
}

}  // namespace
