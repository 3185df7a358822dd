// The list files' one reader: every odd line is read as it always was and
// said with its line; files that are not lists, or larger than a sniffer
// can use, are refused at once with the reason.
#include "feed/list_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "feed/kw_qnv_handlerList.h"
#include "tests/support/temp_dir.h"

namespace {

using Kind = kw::ListNote::Kind;
using namespace std::string_literals;

std::vector<Kind> kindsOf(const std::vector<kw::ListNote>& notes) {
  std::vector<Kind> kinds;
  for (const kw::ListNote& note : notes) kinds.push_back(note.kind);
  return kinds;
}

// The kinds said of a one-line list, without the "no entry" that ends the
// notes of a line that gives none (checked here).
template <typename List>
std::vector<Kind> saidOf(const List& list, bool givesEntry, const std::string& line) {
  std::vector<Kind> said = kindsOf(list.notes);
  EXPECT_EQ(list.entries.size(), givesEntry ? 1u : 0u) << line;
  if (!givesEntry) {
    EXPECT_FALSE(said.empty() || said.back() != Kind::kNoEntry) << line;
    if (!said.empty()) said.pop_back();
  }
  return said;
}

// One line each (a file of its own): what the sniffer takes from it, and
// what is said about it.
TEST(ListFile, NodeLinesAreReadAsAlwaysAndEveryOddOneIsSaid) {
  struct Node {
    int number;
    std::string name;
  };
  const struct {
    std::string line;
    std::optional<Node> node;  // none: the line gives no node
    std::vector<Kind> said;
  } cases[] = {
      {"17 truck17", Node{17, "truck17"}, {}},
      {"  4\t", Node{4, ""}, {}},
      {"# 9 a comment", std::nullopt, {}},
      {"+12 plus", Node{12, "plus"}, {}},
      {"O1 truck", Node{0, "truck"}, {Kind::kNodeNoNumber}},
      {"xxx", Node{0, ""}, {Kind::kNodeNoNumber}},
      {"alpha 1", Node{0, "1"}, {Kind::kNodeNoNumber}},
      {"0x10", Node{0, ""}, {Kind::kNodeNumberTail}},
      {"5.5 half", Node{5, "half"}, {Kind::kNodeNumberTail}},
      {"1,alpha", Node{1, ""}, {Kind::kNodeNumberTail}},
      {"5 Team Leader Bob", Node{5, "Team"}, {Kind::kNodeExtraWords}},
      {"1001 north", std::nullopt, {Kind::kNodeAbove}},
      {"99999999999999999999 far", std::nullopt, {Kind::kNodeAbove}},
      {"-3 minus", std::nullopt, {Kind::kNodeBelow}},
      {"7 bad\x1b]2;x\x07", Node{7, "bad\x1b]2;x\x07"}, {Kind::kControlInName}},
      {"\xEF\xBB\xBF"
       "5 bom",
       Node{0, "bom"},
       {Kind::kByteOrderMark, Kind::kNodeNoNumber}},
      {"6 windows\r", Node{6, "windows"}, {Kind::kCrLf}},
      {"8 nul\0hidden 9"s, Node{8, "nul"}, {Kind::kNulByte}},
  };
  for (const auto& c : cases) {
    const kw::NodeList list = kw::parseNodeList(c.line + "\n");
    EXPECT_FALSE(list.refused) << c.line;
    EXPECT_EQ(saidOf(list, c.node.has_value(), c.line), c.said) << c.line;
    if (c.node && list.entries.size() == 1) {
      EXPECT_EQ(list.entries[0].number, c.node->number) << c.line;
      EXPECT_EQ(list.entries[0].name, c.node->name) << c.line;
    }
    for (const kw::ListNote& note : list.notes) {
      if (note.kind != Kind::kNoEntry) {
        EXPECT_EQ(note.line, 1) << c.line;
      }
    }
  }
  // The line as a person reads it: file, line, what was read, what it means.
  const kw::NodeList list = kw::parseNodeList("1 one\n\nalpha 1\n");
  ASSERT_EQ(list.notes.size(), 1u);
  EXPECT_EQ(kw::listNoteText("units.nod", list.notes[0]),
            "units.nod:3: \"alpha 1\" does not start with a number; read as node 0 named \"1\"");
  EXPECT_EQ(kw::listNoteText("units\x1b[2J.nod", list.notes[0]).find('\x1b'), std::string::npos);
}

// What only a whole list shows: a number listed twice, a line longer than a
// piece, lines of a file counted from 1.
TEST(ListFile, RepeatedNumbersAndLongLinesAreSaidWithTheirLines) {
  const std::string longLine = "7 " + std::string(253, 'n') + "9 tail";
  const kw::NodeList list = kw::parseNodeList("5 first\n# note\n5 second\n" + longLine + "\n");
  ASSERT_EQ(list.entries.size(), 4u);
  EXPECT_EQ(list.entries[1].number, 5);
  EXPECT_EQ(list.entries[1].line, 3);
  EXPECT_EQ(list.entries[2].number, 7);
  EXPECT_EQ(list.entries[3].number, 9);  // the rest of line 4, read as a line of its own
  EXPECT_EQ(list.entries[3].line, 4);
  ASSERT_EQ(kindsOf(list.notes), (std::vector<Kind>{Kind::kNodeRepeated, Kind::kLongLine}));
  EXPECT_EQ(list.notes[0].line, 3);
  EXPECT_NE(list.notes[0].meaning.find("first on line 1"), std::string::npos)
      << list.notes[0].meaning;
  EXPECT_EQ(list.notes[1].line, 4);
  EXPECT_NE(list.notes[1].meaning.find("characters 256 to 261, \"9 tail\", are read as a line of "
                                       "their own: node 9 named \"tail\""),
            std::string::npos)
      << list.notes[1].meaning;
}

TEST(ListFile, PortLinesAreReadAsAlwaysAndEveryOddOneIsSaid) {
  const struct {
    std::string line;
    int port;  // -2: the line gives no port
    std::vector<Kind> said;
    const char* says;  // part of the first note's meaning
  } cases[] = {
      {"feedA 239.1.2.3 5000", 5000, {}, ""},
      {"feedA 239.1.2.3 5000 eth1", 5000, {}, ""},
      {"feedA 239.1.2.3 99999", 99999, {Kind::kPortOutOfRange}, "would listen on 34463"},
      {"feedA 239.1.2.3 65536",
       65536,
       {Kind::kPortOutOfRange},
       "would listen on 0, a port the system picks"},
      {"feedA 239.1.2.3 -1",
       -1,
       {Kind::kPortOutOfRange},
       "below 0; the receiver would listen on 65535"},
      {"feedA 239.1.2.3 0", 0, {Kind::kPortZero}, "a port the system picks"},
      {"feedA 239.1.2.3 abc", 0, {Kind::kPortNoNumber}, "does not start with a number"},
      {"feedA 239.1.2.3 5000x", 5000, {Kind::kPortNumberTail}, "followed by \"x\""},
      {"feedA 10.0.0.1 5000", 5000, {Kind::kGroupNotMulticast}, "not a multicast group"},
      {"feedA 239.1.2 5000", 5000, {Kind::kGroupNotAddress}, "not an IPv4 address"},
      {"feedA 239.1.2.3 5000 eth1 more words", 5000, {Kind::kPortExtraWords}, "\"more words\""},
      {"fe\x1b[2Jed 239.1.2.3 5000", 5000, {Kind::kControlInName}, "\"fe\\x1b[2Jed\""},
      {"only two", -2, {Kind::kPortTooFewWords}, "needs a name, a group and a port"},
      {"# c 239.0.0.1 1", -2, {}, ""},
  };
  for (const auto& c : cases) {
    const kw::PortList list = kw::parsePortList(c.line + "\n");
    EXPECT_EQ(saidOf(list, c.port != -2, c.line), c.said) << c.line;
    if (c.port != -2 && list.entries.size() == 1) {
      EXPECT_EQ(list.entries[0].port, c.port) << c.line;
    }
    if (!c.said.empty()) {
      EXPECT_NE(list.notes[0].meaning.find(c.says), std::string::npos) << list.notes[0].meaning;
    }
  }
  // The same group and port twice take every packet twice; a name used
  // twice cannot be told apart; another interface is another port.
  const kw::PortList list = kw::parsePortList(
      "a 239.1.2.3 5000\nb 239.1.2.3 5000\na 239.1.2.4 5000\nc 239.1.2.3 5000 eth1\n");
  ASSERT_EQ(list.entries.size(), 4u);
  ASSERT_EQ(kindsOf(list.notes), (std::vector<Kind>{Kind::kPortRepeated, Kind::kPortNameRepeated}));
  EXPECT_EQ(list.notes[0].line, 2);
  EXPECT_EQ(list.notes[1].line, 3);
}

class ListFiles : public ::testing::Test {
 protected:
  kw_test::TempDir dir_;
};

// Whatever stands at a list's name, the reading ends at once: only a regular
// file within 1 MiB and 1001 entries is read, by the sniffer as well.
TEST_F(ListFiles, WhatIsNoListOrTooLargeIsRefusedAtOnceWithTheReason) {
  const std::string fifo = dir_.file("pipe.nod");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string sparse = dir_.file("sparse.nod");
  ASSERT_EQ(truncate(dir_.write("sparse.nod", "1\n").c_str(), 3ll << 30), 0);  // 3 GiB, never read
  std::string most, tooMany, tooManyCrLf;
  for (size_t i = 0; i < kw::kListMaxEntries; ++i) {
    most += std::to_string(i) + "\n";
    tooManyCrLf += std::to_string(i) + "\r\n";
  }
  tooMany = most + "1000 again\n";
  tooManyCrLf += "1000 again\r\n";
  const std::string full = std::string(kw::kListMaxBytes - 2, '\n') + "1\n";

  const struct {
    std::string path;
    Kind kind;
    int line;
    const char* says;
  } refused[] = {
      {"/dev/zero", Kind::kNotRegular, 0, "a device, not a regular file"},
      {fifo, Kind::kNotRegular, 0, "a named pipe, not a regular file"},
      {dir_.path().string(), Kind::kNotRegular, 0, "a folder, not a regular file"},
      {dir_.file("missing.nod"), Kind::kCannotOpen, 0, "No such file or directory"},
      {sparse, Kind::kTooLarge, 0,
       "holds 3221225472 bytes, more than a list may hold (1048576 bytes)"},
      {dir_.write("big.nod", full + "\n"), Kind::kTooLarge, 0, "more than a list may hold"},
      {dir_.write("many.nod", tooMany), Kind::kTooManyEntries, 1002, "a 1002nd node line"},
      {dir_.write("manycr.nod", tooManyCrLf), Kind::kTooManyEntries, 1002, "a 1002nd node line"},
  };
  for (const auto& c : refused) {
    const auto start = std::chrono::steady_clock::now();
    const kw::NodeList list = kw::readNodeList(c.path.c_str());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.path;
    EXPECT_TRUE(list.refused) << c.path;
    EXPECT_TRUE(list.entries.empty()) << c.path;
    ASSERT_EQ(list.notes.size(), 1u) << c.path;  // the refusal alone
    EXPECT_EQ(list.notes[0].kind, c.kind) << c.path;
    EXPECT_TRUE(list.notes[0].refusesList()) << c.path;
    EXPECT_EQ(list.notes[0].line, c.line) << c.path;
    EXPECT_NE(list.notes[0].meaning.find(c.says), std::string::npos) << list.notes[0].meaning;
    kw_qnv_handlerList handlers(250, 20);
    EXPECT_FALSE(handlers.readNodeFile(c.path.c_str())) << c.path;
    EXPECT_EQ(handlers.nodeCount(), 0u) << c.path;
  }
  // Up to the limits the list is read whole.
  const kw::NodeList atMost = kw::readNodeList(dir_.write("most.nod", most).c_str());
  EXPECT_FALSE(atMost.refused);
  EXPECT_EQ(atMost.entries.size(), kw::kListMaxEntries);
  const kw::NodeList atFull = kw::readNodeList(dir_.write("full.nod", full).c_str());
  ASSERT_EQ(atFull.entries.size(), 1u);
  EXPECT_EQ(atFull.entries[0].line, static_cast<int>(kw::kListMaxBytes - 1));
  kw_qnv_handlerList handlers(250, 20);
  EXPECT_TRUE(handlers.readPortFile(dir_.write("ports.mcp", "a 239.1.2.3 5000\n").c_str()));
  EXPECT_FALSE(handlers.readPortFile("/dev/zero"));
  EXPECT_EQ(handlers.portCount(), 0u);
}

// Notes are bounded, whatever the file: the rest are counted.
TEST(ListFile, NotesAreBoundedAndTheRestCounted) {
  std::string text;
  for (int i = 0; i < 500; ++i) text += "x y\n";
  const kw::PortList list = kw::parsePortList(text);
  EXPECT_EQ(list.notes.size(), kw::kListMaxNotes);
  EXPECT_EQ(list.notes.size() + list.notesLeftOut, 501u);  // 500 short lines and "no port line"
  EXPECT_EQ(list.notes.back().line, static_cast<int>(kw::kListMaxNotes));
}

}  // namespace
