#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KW_OLog.h"
#include "support/temp_dir.h"

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

TEST(GlobalLog, ExistsBeforeAnyUse) {
  ASSERT_NE(olog, nullptr);
  EXPECT_EQ(olog->isOpen(), 0);
}

}  // namespace
