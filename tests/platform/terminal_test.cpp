#include "platform/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

namespace {

// A pseudo-terminal pair; the test sets its size the way a terminal
// emulator would.
struct PseudoTerminal {
  PseudoTerminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    const char* name = ptsname(master);
    if (name != nullptr) slave = open(name, O_RDWR | O_NOCTTY);
  }
  ~PseudoTerminal() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
  int master = -1;
  int slave = -1;
};

TEST(Terminal, SizeOfAPseudoTerminalAndTheReasonForAPipe) {
  PseudoTerminal pty;
  if (pty.slave < 0) GTEST_SKIP() << "no pseudo-terminal can be opened here";
  struct winsize window {};
  window.ws_col = 61;
  window.ws_row = 19;
  ASSERT_EQ(ioctl(pty.master, TIOCSWINSZ, &window), 0);
  EXPECT_TRUE(kw::Terminal::isTerminal(pty.slave));
  kw::Terminal::Size size;
  ASSERT_TRUE(kw::Terminal::size(pty.slave, &size).ok());
  EXPECT_EQ(size.columns, 61);
  EXPECT_EQ(size.rows, 19);

  window.ws_col = 0;
  window.ws_row = 0;
  ASSERT_EQ(ioctl(pty.master, TIOCSWINSZ, &window), 0);
  const kw::Failure zero = kw::Terminal::size(pty.slave, &size);
  EXPECT_NE(zero.text().find("0 x 0"), std::string::npos) << zero.text();
  EXPECT_EQ(size.columns, 61) << "left untouched on failure";

  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  EXPECT_FALSE(kw::Terminal::isTerminal(pipeEnds[1]));
  const kw::Failure failed = kw::Terminal::size(pipeEnds[1], &size);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  EXPECT_EQ(failed.text(), "terminal size of descriptor " + std::to_string(pipeEnds[1]) +
                               ": Inappropriate ioctl for device");
}

// In a child process of its own: the handler is process-wide.
TEST(TerminalDeathTest, EachResizeNoticeIsCounted) {
  EXPECT_EXIT(
      {
        if (kw::Terminal::watchResizes()) _exit(2);
        const unsigned long before = kw::Terminal::resizes();
        std::raise(SIGWINCH);
        std::raise(SIGWINCH);
        _exit(kw::Terminal::resizes() == before + 2 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
