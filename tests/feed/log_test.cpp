#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "feed/KW_OLog.h"
#include "feed/trace_settings.h"
#include "tests/support/temp_dir.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_.enter(); }
  kw_test::TempDir dir_;
};

TEST_F(LogTest, PrintfBeforeOpenWritesNothing) {
  KW_OLog log;
  EXPECT_EQ(log.printf("line %d\n", 1), 0);
  EXPECT_FALSE(std::filesystem::exists("logFile.txt"));
  EXPECT_EQ(log.isOpen(), 0);
}

TEST_F(LogTest, FirstOpenTruncatesLaterOpensAppend) {
  dir_.write("logFile.txt", "old content\n");
  KW_OLog log;
  ASSERT_EQ(log.open("logFile.txt"), 1);
  EXPECT_EQ(kw_test::readFile("logFile.txt"), "");
  EXPECT_EQ(log.printf("first %s\n", "line"), 11);
  ASSERT_EQ(log.open("logFile.txt"), 1);
  EXPECT_EQ(log.printf("second\n"), 7);
  EXPECT_EQ(kw_test::readFile("logFile.txt"), "first line\nsecond\n");
  EXPECT_STREQ(log.getFileName(), "logFile.txt");
}

TEST_F(LogTest, CloseTruncatesOnNextOpenCloseSoftAppends) {
  KW_OLog log;
  ASSERT_EQ(log.open("%s.txt", "trace"), 1);
  log.printf("a\n");
  log.closeSoft();
  EXPECT_EQ(log.printf("lost\n"), 0);
  ASSERT_EQ(log.open("trace.txt"), 1);
  log.printf("b\n");
  EXPECT_EQ(kw_test::readFile("trace.txt"), "a\nb\n");
  log.close();
  ASSERT_EQ(log.open("trace.txt"), 1);
  log.printf("c\n");
  EXPECT_EQ(kw_test::readFile("trace.txt"), "c\n");
}

TEST_F(LogTest, NameBounds) {
  KW_OLog log;
  EXPECT_EQ(log.open("%s", ""), 0);
  EXPECT_EQ(log.printf("x\n"), 0);
  const std::string longest(255, 'n');
  EXPECT_EQ(log.open("%s", longest.c_str()), 1);
  const std::string tooLong(256, 'n');
  EXPECT_EQ(log.open("%s", tooLong.c_str()), 0);
  EXPECT_EQ(log.isOpen(), 0);
  EXPECT_EQ(log.printf("x\n"), 0);
}

TEST_F(LogTest, UnopenableFileLeavesLogClosed) {
  KW_OLog log;
  EXPECT_EQ(log.open("no-such-dir/logFile.txt"), 0);
  EXPECT_EQ(log.printf("x\n"), 0);
}

TEST_F(LogTest, LongLinesAreWrittenWhole) {
  KW_OLog log;
  ASSERT_EQ(log.open("long.txt"), 1);
  const std::string text(6000, 'z');
  EXPECT_EQ(log.printf(" -----   String is |%s|\n", text.c_str()), 6000 + 22);
  EXPECT_EQ(kw_test::readFile("long.txt"), " -----   String is |" + text + "|\n");
}

TEST_F(LogTest, ConcurrentLinesNeverMix) {
  KW_OLog log;
  ASSERT_EQ(log.open("logFile.txt"), 1);
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      const std::string body(100 + t * 37, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) log.printf("%d:%s:%d\n", t, body.c_str(), i);
    });
  }
  for (auto& thread : threads) thread.join();

  std::istringstream lines(kw_test::readFile("logFile.txt"));
  std::string line;
  std::vector<int> next(kThreads, 0);
  int total = 0;
  while (std::getline(lines, line)) {
    const int t = line[0] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    const std::string expected = std::to_string(t) + ":" +
                                 std::string(100 + t * 37, static_cast<char>('a' + t)) + ":" +
                                 std::to_string(next[t]);
    ASSERT_EQ(line, expected);
    ++next[t];
    ++total;
  }
  EXPECT_EQ(total, kThreads * kLines);
}

// Four threads write numbered lines while the file rotates. Every file holds
// whole lines only and stays within the limit; with a limit that rotates
// once, the two files together hold every line exactly once, each thread's
// lines in order (older file first).
class LogRotationTest : public LogTest {
 protected:
  static constexpr int kThreads = 4;

  // Writes kThreads x `lines` lines of 60 to 200 bytes; returns their total size.
  static size_t writeConcurrently(KW_OLog* log, int lines) {
    std::vector<std::thread> threads;
    std::atomic<size_t> total{0};
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([log, t, lines, &total] {
        for (int i = 0; i < lines; ++i) {
          const std::string body(50 + (i * 7 + t * 13) % 140, static_cast<char>('a' + t));
          const int n = log->printf("%d:%d:%s\n", t, i, body.c_str());
          EXPECT_GT(n, 0);
          total += static_cast<size_t>(n);
        }
      });
    }
    for (auto& thread : threads) thread.join();
    return total.load();
  }

  // Checks every line of `name` and appends (thread, number) to `seen`.
  static void readLines(const std::string& name, uint64_t limit,
                        std::vector<std::pair<int, int>>* seen) {
    const std::string text = kw_test::readFile(name);
    EXPECT_LE(text.size(), limit) << name;
    ASSERT_TRUE(text.empty() || text.back() == '\n') << name << " ends inside a line";
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      int t = -1;
      int i = -1;
      int bodyAt = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "%d:%d:%n", &t, &i, &bodyAt), 2) << line;
      ASSERT_TRUE(t >= 0 && t < kThreads) << line;
      const std::string body(50 + (i * 7 + t * 13) % 140, static_cast<char>('a' + t));
      ASSERT_EQ(line.substr(static_cast<size_t>(bodyAt)), body)
          << "split or mixed line in " << name;
      seen->emplace_back(t, i);
    }
  }
};

TEST_F(LogRotationTest, OneRotationKeepsEveryLineWholeAndInOrder) {
  KW_OLog log;
  ASSERT_EQ(log.open("logFile.txt"), 1);
  constexpr int kLines = 300;
  // About 4 x 300 x 130 = 156 kB: over the limit once, never twice.
  constexpr uint64_t kLimit = 120 * 1024;
  log.setLimitBytes(kLimit);
  const size_t total = writeConcurrently(&log, kLines);
  ASSERT_GT(total, kLimit);
  ASSERT_LT(total, 2 * kLimit - 400);

  std::vector<std::pair<int, int>> seen;
  readLines("logFile.txt.1", kLimit, &seen);
  const size_t older = seen.size();
  readLines("logFile.txt", kLimit, &seen);
  EXPECT_GT(older, 0u);
  EXPECT_LT(older, seen.size());
  ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const auto& [t, i] : seen) EXPECT_EQ(i, next[t]++) << "thread " << t;
  EXPECT_FALSE(std::filesystem::exists("logFile.txt.2"));
}

TEST_F(LogRotationTest, SmallLimitRotatesOftenAndKeepsTheNewestLines) {
  dir_.write("logFile.txt.1", "an older rotation\n");
  KW_OLog log;
  ASSERT_EQ(log.open("logFile.txt"), 1);
  constexpr uint64_t kLimit = 2000;
  log.setLimitBytes(kLimit);
  writeConcurrently(&log, 200);
  log.printf("0:200:%s\n", std::string(50 + (200 * 7) % 140, 'a').c_str());

  std::vector<std::pair<int, int>> seen;
  readLines("logFile.txt.1", kLimit, &seen);
  readLines("logFile.txt", kLimit, &seen);
  ASSERT_GT(seen.size(), 10u);
  // The two files are the newest stretch: each thread's lines in order,
  // none twice, and the very last line at the end.
  std::vector<int> last(kThreads, -1);
  for (const auto& [t, i] : seen) {
    EXPECT_GT(i, last[t]) << "thread " << t;
    last[t] = i;
  }
  EXPECT_EQ(seen.back(), std::make_pair(0, 200));
}

TEST_F(LogRotationTest, ALineLargerThanTheLimitStillGoesWhole) {
  KW_OLog log;
  ASSERT_EQ(log.open("logFile.txt"), 1);
  log.setLimitBytes(100);
  log.printf("short\n");
  const std::string big(300, 'b');
  EXPECT_EQ(log.printf("%s\n", big.c_str()), 301);
  EXPECT_EQ(kw_test::readFile("logFile.txt.1"), "short\n");
  EXPECT_EQ(kw_test::readFile("logFile.txt"), big + "\n");
  log.printf("next\n");
  EXPECT_EQ(kw_test::readFile("logFile.txt.1"), big + "\n");
  EXPECT_EQ(kw_test::readFile("logFile.txt"), "next\n");
}

// The environment variables of the trace, set for one test.
class LogEnvironmentTest : public LogTest {
 protected:
  void TearDown() override {
    unsetenv(kw::kTraceVariable);
    unsetenv(kw::kTraceLimitVariable);
    unsetenv(kw::kTraceOpenVariable);
  }
};

// KW_TRACE_OPEN=startup: the file is not touched until the host starts a
// block; the lines written until then reach it in order, after the file was
// emptied, as if it had been opened at once.
TEST_F(LogEnvironmentTest, OpenAtStartupTouchesNoFileUntilStartWriting) {
  dir_.write("logFile.txt", "old run\n");
  setenv(kw::kTraceOpenVariable, "startup", 1);
  KW_OLog log;
  ASSERT_EQ(log.open("logFile.txt"), 1);
  EXPECT_EQ(log.printf("load %d\n", 1), 7);
  ASSERT_EQ(log.open("logFile.txt"), 1);
  log.printf("document\n");
  EXPECT_EQ(kw_test::readFile("logFile.txt"), "old run\n");
  log.startWriting();
  EXPECT_EQ(kw_test::readFile("logFile.txt"), "load 1\ndocument\n");
  log.printf("startup\n");
  ASSERT_EQ(log.open("logFile.txt"), 1);  // later blocks append
  log.printf("more\n");
  log.startWriting();
  EXPECT_EQ(kw_test::readFile("logFile.txt"), "load 1\ndocument\nstartup\nmore\n");

  // Never started: nothing is created.
  KW_OLog unstarted;
  ASSERT_EQ(unstarted.open("never.txt"), 1);
  unstarted.printf("held\n");
  EXPECT_FALSE(std::filesystem::exists("never.txt"));
}

TEST_F(LogEnvironmentTest, TraceOffLeavesTheLogClosedAndTouchesNoFile) {
  dir_.write("logFile.txt", "kept\n");
  setenv(kw::kTraceVariable, "off", 1);
  KW_OLog log;
  EXPECT_EQ(log.open("logFile.txt"), 0);
  EXPECT_EQ(log.printf("x\n"), 0);
  EXPECT_EQ(kw_test::readFile("logFile.txt"), "kept\n");
  EXPECT_EQ(log.open("other.txt"), 0);
  EXPECT_FALSE(std::filesystem::exists("other.txt"));
  setenv(kw::kTraceVariable, "on", 1);
  EXPECT_EQ(log.open("logFile.txt"), 1);
  EXPECT_EQ(kw_test::readFile("logFile.txt"), "");
}

TEST_F(LogEnvironmentTest, LimitComesFromTheEnvironmentAtOpen) {
  KW_OLog log;
  ASSERT_EQ(log.open("logFile.txt"), 1);
  EXPECT_EQ(log.limitBytes(), 64u * 1024 * 1024);
  setenv(kw::kTraceLimitVariable, "50", 1);
  ASSERT_EQ(log.open("logFile.txt"), 1);
  EXPECT_EQ(log.limitBytes(), 50u);
  log.printf("%s\n", std::string(30, 'a').c_str());
  log.printf("%s\n", std::string(30, 'b').c_str());
  EXPECT_EQ(kw_test::readFile("logFile.txt.1"), std::string(30, 'a') + "\n");
  setenv(kw::kTraceLimitVariable, "0", 1);
  ASSERT_EQ(log.open("logFile.txt"), 1);
  EXPECT_EQ(log.limitBytes(), 0u);
  // A value that is no number keeps the default.
  setenv(kw::kTraceLimitVariable, "12k", 1);
  ASSERT_EQ(log.open("logFile.txt"), 1);
  EXPECT_EQ(log.limitBytes(), 64u * 1024 * 1024);
}

TEST(TraceSettings, ParsesSwitchAndLimit) {
  bool on = false;
  EXPECT_TRUE(kw::parseTraceSwitch("on", &on));
  EXPECT_TRUE(on);
  EXPECT_TRUE(kw::parseTraceSwitch("off", &on));
  EXPECT_FALSE(on);
  EXPECT_FALSE(kw::parseTraceSwitch("OFF", &on));
  EXPECT_FALSE(kw::parseTraceSwitch("", &on));
  uint64_t bytes = 7;
  EXPECT_TRUE(kw::parseTraceLimit("0", &bytes));
  EXPECT_EQ(bytes, 0u);
  EXPECT_TRUE(kw::parseTraceLimit("9223372036854775808", &bytes));
  EXPECT_EQ(bytes, 1ull << 63);
  for (const char* bad :
       {"", "-1", "+1", "1k", " 1", "9223372036854775809", "99999999999999999999"}) {
    EXPECT_FALSE(kw::parseTraceLimit(bad, &bytes)) << '"' << bad << '"';
  }
}

// Only a regular file is ever written: what sits under the log's name in
// its place is refused, untouched, and the log stays closed. A second name
// of another file (a hard link) would carry every line into that file's
// contents as a symbolic link would.
TEST_F(LogTest, SymbolicOrHardLinkIsRefusedAndTheOtherFileUntouched) {
  const struct {
    void (*make)(const std::filesystem::path&, const std::filesystem::path&);
    const char* said;
  } links[] = {
      {[](const std::filesystem::path& to, const std::filesystem::path& at) {
         std::filesystem::create_symlink(to, at);
       },
       "trace log logFile.txt: a symbolic link, not a regular file; it stays closed\n"},
      {[](const std::filesystem::path& to, const std::filesystem::path& at) {
         std::filesystem::create_hard_link(to, at);
       },
       "trace log logFile.txt: a hard link (one of 2 names of a file), not a file of its own; "
       "it stays closed\n"},
  };
  for (const auto& link : links) {
    std::filesystem::remove("logFile.txt");
    dir_.write("victim.txt", "precious\n");
    link.make("victim.txt", "logFile.txt");
    KW_OLog log;
    testing::internal::CaptureStderr();
    EXPECT_EQ(log.open("logFile.txt"), 0);
    EXPECT_EQ(log.open("logFile.txt"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), link.said);
    EXPECT_EQ(log.isOpen(), 0);
    EXPECT_EQ(log.printf("x\n"), 0);
    EXPECT_EQ(kw_test::readFile("victim.txt"), "precious\n");
  }
  // A dangling link is no better: nothing is created where it points.
  KW_OLog log;
  std::filesystem::create_symlink("created-through-link.txt", "dangling.txt");
  EXPECT_EQ(log.open("dangling.txt"), 0);
  EXPECT_FALSE(std::filesystem::exists("created-through-link.txt"));
  // Linked while the log is open: the next line is not written through.
  std::filesystem::remove("logFile.txt");
  ASSERT_EQ(log.open("logFile.txt"), 1);
  std::filesystem::create_hard_link("logFile.txt", "second.txt");
  EXPECT_EQ(log.printf("x\n"), 0);
  EXPECT_EQ(kw_test::readFile("second.txt"), "");
}

TEST_F(LogTest, NamedPipeOrDeviceIsRefusedWithoutBlocking) {
  ASSERT_EQ(mkfifo("logFile.txt", 0600), 0);
  KW_OLog log;
  // A blocking open of a pipe with no reader would wait forever.
  auto opened = std::async(std::launch::async, [&log] { return log.open("logFile.txt"); });
  ASSERT_EQ(opened.wait_for(std::chrono::seconds(5)), std::future_status::ready)
      << "opening a named pipe blocked";
  EXPECT_EQ(opened.get(), 0);
  EXPECT_EQ(log.isOpen(), 0);
  KW_OLog other;
  testing::internal::CaptureStderr();
  EXPECT_EQ(other.open("/dev/null"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "trace log /dev/null: a device, not a regular file; it stays closed\n");
  EXPECT_EQ(log.open("/dev/null"), 0);
  EXPECT_EQ(log.isOpen(), 0);
}

TEST_F(LogTest, LinkPlantedAfterOpenIsNotWrittenThrough) {
  dir_.write("victim.txt", "precious\n");
  KW_OLog log;
  ASSERT_EQ(log.open("logFile.txt"), 1);
  std::filesystem::remove("logFile.txt");
  std::filesystem::create_symlink("victim.txt", "logFile.txt");
  EXPECT_EQ(log.printf("x\n"), 0);
  EXPECT_EQ(kw_test::readFile("victim.txt"), "precious\n");
}

TEST(GlobalLog, ExistsBeforeAnyUse) {
  ASSERT_NE(olog, nullptr);
  EXPECT_EQ(olog->isOpen(), 0);
}

}  // namespace
