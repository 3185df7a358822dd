// The recording's line format and its reader: every byte survives the round
// trip, and every kind of bad line is found with its line number.
#include "beacon/record_format.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <future>
#include <string>

#include "beacon/record_reader.h"
#include "tests/support/temp_dir.h"

namespace {

using kw_beacon::LineKind;
using kw_beacon::RecordReader;

TEST(RecordFormat, EveryByteSurvivesAndLinesStayPrintable) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string line = kw_beacon::formatRecord(1234, all);
  ASSERT_EQ(line.back(), '\n');
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    EXPECT_TRUE(c == '\t' ? i == 4 : c >= 0x20 && c <= 0x7E) << "byte " << int(c) << " at " << i;
  }
  uint64_t ms = 0;
  std::string back;
  std::string problem;
  ASSERT_EQ(kw_beacon::parseRecordLine(std::string_view(line).substr(0, line.size() - 1), &ms,
                                       &back, &problem),
            LineKind::Record)
      << problem;
  EXPECT_EQ(ms, 1234u);
  EXPECT_EQ(back, all);
  EXPECT_EQ(kw_beacon::escapeDatagram("a\\b\tc\n\x7f\xff"), "a\\\\b\\x09c\\x0a\\x7f\\xff");
}

TEST(RecordFormat, LinesThatAreNoRecord) {
  const struct {
    const char* line;
    LineKind kind;
    const char* problem;
  } cases[] = {
      {"", LineKind::Skip, ""},
      {"# feed_record 239.255.42.1 47001", LineKind::Skip, ""},
      {"0\t", LineKind::Record, ""},
      {"12\tA\\X41", LineKind::Bad, "bad escape at character 5 (only \\\\ and \\xHH)"},
      {"12\tA\\x4", LineKind::Bad, "bad escape at character 5 (only \\\\ and \\xHH)"},
      {"12\tA\\", LineKind::Bad, "bad escape at character 5 (only \\\\ and \\xHH)"},
      {"12\tA\x01", LineKind::Bad, "unescaped byte 1 at character 5"},
      {"12 A", LineKind::Bad, "no tab after the time"},
      {"\tA", LineKind::Bad, "no time before the tab"},
      {"-5\tA", LineKind::Bad, "time is not a number of milliseconds"},
      {"12345678901234567890\tA", LineKind::Bad, "time is not a number of milliseconds"},
      {"1.5\tA", LineKind::Bad, "time is not a number of milliseconds"},
      {"1000000000000\tA", LineKind::Record, ""},
      {"1000000000001\tA", LineKind::Bad,
       "time 1000000000001 ms is beyond the longest recording (1000000000000 ms, about 31 years)"},
  };
  for (const auto& c : cases) {
    uint64_t ms = 0;
    std::string datagram;
    std::string problem;
    EXPECT_EQ(kw_beacon::parseRecordLine(c.line, &ms, &datagram, &problem), c.kind) << c.line;
    EXPECT_EQ(problem, c.problem) << c.line;
  }
  uint64_t ms = 0;
  std::string datagram;
  std::string problem;
  const std::string largest = "1\t" + std::string(kw_beacon::kMaxRecordedDatagram, 'x');
  EXPECT_EQ(kw_beacon::parseRecordLine(largest, &ms, &datagram, &problem), LineKind::Record);
  EXPECT_EQ(kw_beacon::parseRecordLine(largest + "x", &ms, &datagram, &problem), LineKind::Bad);
  EXPECT_EQ(problem, "datagram longer than 65507 bytes");
}

class RecordReaderTest : public ::testing::Test {
 protected:
  // Reads `text` to its end or first bad line; "ms:datagram|" per record.
  std::string readAll(const std::string& text, RecordReader* reader) {
    const std::string path = dir_.write("day.rec", text);
    EXPECT_TRUE(reader->open(path.c_str()));
    std::string seen;
    uint64_t ms = 0;
    std::string datagram;
    while (reader->next(&ms, &datagram) == RecordReader::Result::Record) {
      seen += std::to_string(ms) + ":" + datagram + "|";
    }
    return seen;
  }
  kw_test::TempDir dir_;
};

TEST_F(RecordReaderTest, ReadsRecordsAndSkipsCommentsAndBlankLines) {
  RecordReader reader;
  EXPECT_EQ(readAll("# feed_record 239.255.42.1 47001\n0\tone\n\n250\ttwo\r\n250\tthree", &reader),
            "0:one|250:two|250:three|");
  EXPECT_EQ(reader.problem(), "");
  EXPECT_EQ(reader.lineNumber(), 5);
}

TEST_F(RecordReaderTest, BadLinesAreNamedByNumber) {
  RecordReader reader;
  EXPECT_EQ(readAll("0\tone\n500\ttwo\n499\tthree\n", &reader), "0:one|500:two|");
  EXPECT_EQ(reader.lineNumber(), 3);
  EXPECT_EQ(reader.problem(), "time 499 is earlier than the line before (500)");

  const std::string huge(kw_beacon::kMaxRecordLine + 10, 'y');
  EXPECT_EQ(readAll("0\tone\n#\n" + huge + "\n7\tlast\n", &reader), "0:one|");
  EXPECT_EQ(reader.lineNumber(), 3);
  EXPECT_EQ(reader.problem(), "line longer than 262060 characters");

  EXPECT_EQ(readAll(std::string("0\tone\n1\tbyte\0zero\n", 19), &reader), "0:one|");
  EXPECT_EQ(reader.lineNumber(), 2);
  EXPECT_EQ(reader.problem(), "unescaped byte 0 at character 7");
}

TEST_F(RecordReaderTest, OnlyARegularFileIsRead) {
  RecordReader reader;
  EXPECT_FALSE(reader.open(dir_.file("missing.rec").c_str()));
  EXPECT_EQ(reader.problem(), "cannot be read (missing, unreadable or not a regular file)");
  const std::string fifo = dir_.file("pipe.rec");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto opened = std::async(std::launch::async, [&] { return reader.open(fifo.c_str()); });
  ASSERT_EQ(opened.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(opened.get());
}

}  // namespace
