// feed_record and `nmea_beacon --replay` as processes: a recording made of
// the beacon's feed (and of a datagram with awkward bytes) is sent again
// with the same datagrams at the same pace, as a second recording shows.
// Runs inside the isolated network namespace (loopback only).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "beacon/record_reader.h"
#include "feed/kw_multicast_recv.h"
#include "platform/multicast.h"
#include "tests/support/child_process.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using kw_test::ChildProcess;
using kw_test::completeLines;

constexpr const char* kBeacon = KW_NMEA_BEACON_PATH;
constexpr const char* kRecorder = KW_FEED_RECORD_PATH;

struct Entry {
  uint64_t ms;
  std::string datagram;
};

std::vector<Entry> readRecording(const std::string& path) {
  kw_beacon::RecordReader reader;
  std::vector<Entry> entries;
  EXPECT_TRUE(reader.open(path.c_str())) << path;
  Entry entry;
  for (;;) {
    const auto result = reader.next(&entry.ms, &entry.datagram);
    if (result != kw_beacon::RecordReader::Result::Record) {
      EXPECT_EQ(result, kw_beacon::RecordReader::Result::End) << reader.problem();
      break;
    }
    entries.push_back(entry);
  }
  return entries;
}

int exitStatus(ChildProcess* child, std::chrono::milliseconds timeout) {
  int status = -1;
  if (!child->waitExit(timeout, &status)) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + status;
}

class RecordReplay : public ::testing::Test {
 protected:
  void SetUp() override { KW_REQUIRE_ISOLATED_NETWORK(); }

  // Starts feed_record and waits until it has joined.
  void startRecorder(ChildProcess* recorder, const char* group, const char* port,
                     const std::string& file) {
    ASSERT_TRUE(recorder->start(kRecorder, {"feed_record", group, port, file}));
    ASSERT_TRUE(recorder->readOutUntil(
        [](const std::string& out) { return out.find('\n') != std::string::npos; }, 5s))
        << recorder->err();
    EXPECT_EQ(recorder->out(), std::string("Recording mcast adrs: ") + group +
                                   " and port number : " + port + " into " + file + "\n");
  }

  // Stops feed_record; expects status 0 and its count of datagrams.
  void stopRecorder(ChildProcess* recorder, size_t count) {
    ASSERT_TRUE(recorder->signal(SIGTERM));
    EXPECT_EQ(exitStatus(recorder, 3s), 0) << recorder->err();
    EXPECT_NE(recorder->out().find("recorded " + std::to_string(count) + " datagrams\n"),
              std::string::npos)
        << recorder->out();
  }

  kw_test::TempDir dir_;
};

TEST_F(RecordReplay, ReplayKeepsEveryDatagramAndItsPace) {
  const std::string first = dir_.file("first.rec");
  const std::string second = dir_.file("second.rec");

  ChildProcess recorder;
  startRecorder(&recorder, "239.255.42.40", "47040", first);
  ChildProcess beacon;
  ASSERT_TRUE(beacon.start(
      kBeacon, {"nmea_beacon", "--nodes", "4", "--interval", "60", "239.255.42.40", "47040"}));
  ASSERT_TRUE(beacon.readOutUntil(
      [](const std::string& out) { return completeLines(out).size() >= 13; }, 10s));
  ASSERT_TRUE(beacon.signal(SIGTERM));
  EXPECT_EQ(exitStatus(&beacon, 3s), 0);
  // A datagram no beacon sends: a backslash, a tab, a line end, a NUL and
  // bytes beyond ASCII, after a pause.
  std::this_thread::sleep_for(300ms);
  const std::string awkward("odd\\\t\n\0\x01\xff end", 13);
  const kw::Socket sender = kw::openMulticastSender(0, 1);
  ASSERT_TRUE(kw::sendDatagram(sender, "239.255.42.40", 47040, awkward.data(), awkward.size()));
  std::this_thread::sleep_for(200ms);

  const std::vector<std::string> sent = completeLines(beacon.out());
  ASSERT_GE(sent.size(), 13u);
  stopRecorder(&recorder, sent.size());  // every packet the beacon printed, and the odd one

  EXPECT_EQ(kw_test::readFile(first).rfind("# feed_record 239.255.42.40 47040\n", 0), 0u);
  const std::vector<Entry> recorded = readRecording(first);
  ASSERT_EQ(recorded.size(), sent.size());
  for (size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(recorded[i - 1].datagram, sent[i]) << i;
  EXPECT_EQ(recorded.back().datagram, awkward);

  // Replayed to another group, recorded again.
  ChildProcess again;
  startRecorder(&again, "239.255.42.41", "47041", second);
  ChildProcess replay;
  ASSERT_TRUE(replay.start(kBeacon, {"nmea_beacon", "--replay", first, "239.255.42.41", "47041"}));
  EXPECT_EQ(exitStatus(&replay, 20s), 0) << replay.err();
  EXPECT_EQ(replay.err(), "");
  const std::vector<std::string> printed = completeLines(replay.out());
  ASSERT_EQ(printed.size(), recorded.size() + 1);
  EXPECT_EQ(printed[0], "Sending to mcast adrs: 239.255.42.41 and port number : 47041 ");
  EXPECT_EQ(printed.back(), "odd\\\\\\x09\\x0a\\x00\\x01\\xff end");
  std::this_thread::sleep_for(200ms);
  stopRecorder(&again, recorded.size());

  const std::vector<Entry> replayed = readRecording(second);
  ASSERT_EQ(replayed.size(), recorded.size());
  for (size_t i = 0; i < recorded.size(); ++i) {
    EXPECT_EQ(replayed[i].datagram, recorded[i].datagram) << i;
    if (i == 0) continue;
    const auto gap = static_cast<double>(recorded[i].ms - recorded[i - 1].ms);
    const auto replayedGap = static_cast<double>(replayed[i].ms - replayed[i - 1].ms);
    EXPECT_NEAR(replayedGap, gap, 40.0) << "gap before datagram " << i;
  }
  const auto span = static_cast<double>(recorded.back().ms - recorded.front().ms);
  const auto replayedSpan = static_cast<double>(replayed.back().ms - replayed.front().ms);
  EXPECT_GT(span, 900.0);
  EXPECT_NEAR(replayedSpan, span, 60.0);
}

TEST_F(RecordReplay, BadRecordingNamesItsLineAndSendsNothing) {
  kw_multicast_recv receiver("239.255.42.42", 47042, 250, 20);
  receiver.run(0);
  const std::string path = dir_.write(
      "bad.rec", "# feed_record 239.255.42.42 47042\n0\tgood\n10 no tab here\n20\tgood\n");
  ChildProcess replay;
  ASSERT_TRUE(replay.start(kBeacon, {"nmea_beacon", "--replay", path, "239.255.42.42", "47042"}));
  EXPECT_EQ(exitStatus(&replay, 5s), 1);
  EXPECT_EQ(replay.err(), "nmea_beacon: " + path + " line 3: no tab after the time\n");
  EXPECT_EQ(replay.out(), "");

  // A time beyond any recording (it would overflow the wait), in a file
  // whose name would retitle the terminal: the line is named, the name
  // shown harmless.
  const std::string far = dir_.write("far\x1b]2;owned\x07.rec", "0\tgood\n9300000000000\tlate\n");
  ChildProcess overflow;
  ASSERT_TRUE(overflow.start(kBeacon, {"nmea_beacon", "--replay", far, "239.255.42.42", "47042"}));
  EXPECT_EQ(exitStatus(&overflow, 5s), 1);
  EXPECT_EQ(overflow.err(), "nmea_beacon: " + dir_.file("far ]2;owned .rec") +
                                " line 2: time 9300000000000 ms is beyond the longest recording "
                                "(1000000000000 ms, about 31 years)\n");

  ChildProcess missing;
  ASSERT_TRUE(missing.start(
      kBeacon, {"nmea_beacon", "--replay", dir_.file("none.rec"), "239.255.42.42", "47042"}));
  EXPECT_EQ(exitStatus(&missing, 5s), 1);
  EXPECT_EQ(completeLines(missing.err()).size(), 1u) << missing.err();

  std::this_thread::sleep_for(200ms);
  receiver.swapBuffers();
  EXPECT_EQ(receiver.getPacket(), nullptr);
  receiver.stop();
}

TEST_F(RecordReplay, RecorderRefusesWhatItCannotRecord) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;  // "" when only the line count is checked
  } cases[] = {
      {{"feed_record", "notanip", "47043", dir_.file("a.rec")},
       1,
       "feed_record: group notanip: not an IPv4 address\n"},
      {{"feed_record", "239.255.42.43", "0", dir_.file("a.rec")},
       1,
       "feed_record: port 0: not a number from 1 to 65535\n"},
      {{"feed_record", "--interface", "kwnope0", "239.255.42.43", "47043", dir_.file("a.rec")},
       1,
       "feed_record: interface kwnope0: No such device\n"},
      {{"feed_record", "239.255.42.43", "47043", dir_.file("no-such-dir/a.rec")},
       1,
       "feed_record: " + dir_.file("no-such-dir/a.rec") + ": cannot be written\n"},
      {{"feed_record", "239.255.42.43", "47043"}, 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.size());
    ChildProcess recorder;
    ASSERT_TRUE(recorder.start(kRecorder, c.args));
    EXPECT_EQ(exitStatus(&recorder, 5s), c.status);
    if (!c.err.empty()) {
      EXPECT_EQ(recorder.err(), c.err);
    }
    EXPECT_FALSE(recorder.err().empty());
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.file("a.rec")));
}

}  // namespace
