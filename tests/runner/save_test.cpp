// flowhost saving a document back: only a document that would load again is
// written, only after a run that wrote everything else, through an
// exclusive temporary (mode kept, a symbolic link written through, no
// leftover); list file names that stop fitting a block's field when made
// absolute are handed over relative, or named in a warning. Every document
// a case saves is run again from scratch. These runs start no receivers
// and send nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/child_process.h"
#include "tests/support/document_json.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;
using kw_test::block;
using kw_test::ChildProcess;
using kw_test::link;
using kw_test::readFile;
using kw_test::TempDir;
namespace fs = std::filesystem;

constexpr const char* kFlowhost = KW_FLOWHOST_PATH;
constexpr const char* kSniffer = KW_SNIFFER_PLUGIN_PATH;

struct Outcome {
  int exitCode = -1;  // -1 when it did not end or did not exit normally
  std::string out;
  std::string err;
};

Outcome runFlowhost(std::vector<std::string> args) {
  std::vector<std::string> argv{"flowhost", "--no-default-plugins", "--plugin", kSniffer, "--table",
                                "off"};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess child;
  Outcome outcome;
  if (!child.start(kFlowhost, argv)) return outcome;
  int status = 0;
  if (child.waitExit(20s, &status) && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  outcome.out = child.out();
  outcome.err = child.err();
  return outcome;
}

// A saved document is only good if the next run takes it.
void expectLoadsAfresh(const std::string& path) {
  const Outcome again = runFlowhost({"--seconds", "0.05", path});
  EXPECT_EQ(again.exitCode, 0) << path << " does not load again: " << again.err;
}

// A sniffer storing `storedNodes` node groups (every entry, as the block
// writes them), its latitude output of node
// index 3 (output 25) turned into text and shown.
std::string snifferDocument(const std::string& nodeFile, int storedNodes, int indent = 2) {
  const Json doc = {{"document", "jhost graph"},
                    {"version", 1},
                    {"blocks", Json::array({block(1, "JQNV_packet_sniffer",
                                                  {{"node file name", nodeFile},
                                                   {"port file name", ""},
                                                   {"number of nodes", storedNodes},
                                                   {"version", "0.7"},
                                                   {"MAX packet size", 250},
                                                   {"packet buffer size", 20},
                                                   {"medium threshold", 2.0},
                                                   {"bad threshold", 4.0}}),
                                            block(2, "JDegreeTextObj", {{"axis", "latitude"}}),
                                            block(3, "JDisplayObj", {{"inputs", 1}})})},
                    {"links", Json::array({link(1, 25, 2, 0), link(2, 0, 3, 0)})}};
  return doc.dump(indent) + "\n";
}

std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    files[entry.path().string()] =
        entry.is_regular_file() ? readFile(entry.path().string()) : "<dir>";
  }
  return files;
}

class FlowhostSave : public ::testing::Test {
 protected:
  void SetUp() override { dir_.enter(); }  // the sniffer's trace log goes here
  TempDir dir_;
};

// The node list was shortened after the document was written: the links to
// the outputs of the nodes now gone would make the saved document fail to
// load, so the save is refused with the reason, and the original stays.
TEST_F(FlowhostSave, ADocumentThatWouldNotLoadAgainIsNotWritten) {
  dir_.write("three.nod", "1\n2\n3\n");
  const std::string path = dir_.write("short.json", snifferDocument("three.nod", 5));
  const auto before = snapshot(dir_.path());
  const Outcome outcome = runFlowhost({"--seconds", "0.2", "--save", path});
  EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
  EXPECT_NE(outcome.err.find("flowhost: document not saved: it would not load again: link 0: "
                             "output 25 does not exist on JQNV_packet_sniffer (24 outputs)"),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(outcome.out.find("wrote " + path), std::string::npos) << outcome.out;
  auto after = snapshot(dir_.path());
  after.erase(dir_.file("logFile.txt"));
  auto expected = before;
  expected.erase(dir_.file("logFile.txt"));
  EXPECT_EQ(after, expected);

  // With a list long enough for the links, the same document saves (with
  // the list's count) and loads again.
  dir_.write("six.nod", "1\n2\n3\n4\n5\n6\n");
  const std::string good = dir_.write("good.json", snifferDocument("six.nod", 5));
  const Outcome saved = runFlowhost({"--seconds", "0.2", "--save", good});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  EXPECT_EQ(Json::parse(readFile(good))["blocks"][0]["entries"]["number of nodes"], 6);
  expectLoadsAfresh(good);
}

// A face that cannot be written fails the run, and a failed run saves
// nothing.
TEST_F(FlowhostSave, NoSaveAfterARunThatFailedToWriteAFace) {
  dir_.write("five.nod", "1\n2\n3\n4\n5\n");
  const std::string path = dir_.write("doc.json", snifferDocument("five.nod", 5, -1));
  const std::string before = readFile(path);
  fs::create_directories(dir_.path() / "faces" / "02-JDegreeTextObj.svg");  // in the way
  const Outcome outcome =
      runFlowhost({"--seconds", "0.2", "--faces", dir_.file("faces"), "--save", path});
  EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
  EXPECT_NE(outcome.err.find("02-JDegreeTextObj.svg"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("flowhost: document not saved: the run failed"), std::string::npos)
      << outcome.err;
  EXPECT_EQ(readFile(path), before);

  fs::remove(dir_.path() / "faces" / "02-JDegreeTextObj.svg");
  const Outcome clean =
      runFlowhost({"--seconds", "0.2", "--faces", dir_.file("faces"), "--save", path});
  ASSERT_EQ(clean.exitCode, 0) << clean.err;
  EXPECT_NE(readFile(path), before);  // written back, laid out as the runner writes
  EXPECT_EQ(Json::parse(readFile(path)), Json::parse(before));
  expectLoadsAfresh(path);
}

// A save keeps the document's mode, writes a symbolic link through to its
// file, leaves a planted "<name>.tmp" link and what it names alone, removes
// what a killed save left and leaves nothing of its own.
TEST_F(FlowhostSave, SavingKeepsModeAndLinkAndLeavesNoTemporary) {
  fs::create_directories(dir_.path() / "real");
  dir_.write("five.nod", "1\n2\n3\n4\n5\n");  // beside the name the document is run by
  // Compact text, so that a save is seen to have rewritten it.
  const std::string target = dir_.write("real/doc.json", snifferDocument("five.nod", 5, -1));
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  const std::string path = dir_.file("doc.json");
  fs::create_symlink("real/doc.json", path);
  const std::string victim = dir_.write("victim.txt", "precious\n");
  fs::create_symlink("victim.txt", dir_.file("real/doc.json.tmp"));
  fs::create_symlink("victim.txt", dir_.file("doc.json.tmp"));
  // What a save killed half-way leaves: its temporary, half written.
  const std::string abandoned = dir_.write("real/.doc.json.k1LLed", "{\"document\": \"jhost");

  const std::string before = readFile(target);
  const Outcome outcome = runFlowhost({"--seconds", "0.2", "--save", path});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("wrote " + path), std::string::npos) << outcome.out;

  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_EQ(fs::read_symlink(path), "real/doc.json");
  EXPECT_NE(readFile(target), before);
  EXPECT_EQ(Json::parse(readFile(target)), Json::parse(before));
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(readFile(victim), "precious\n");
  EXPECT_TRUE(fs::is_symlink(dir_.file("real/doc.json.tmp")));
  EXPECT_FALSE(fs::exists(abandoned));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_.path() / "real")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"doc.json", "doc.json.tmp"}));
  expectLoadsAfresh(path);
}

// A temporary whose writer still runs (it holds the lock on it) is not an
// abandoned one and stays; one nobody holds goes; a name that only looks
// alike is not touched.
TEST(AtomicWrite, RemovesOnlyTemporariesNoLiveWriterHolds) {
  TempDir dir;
  const std::string path = dir.write("doc.json", "old");
  const std::string held = dir.write(".doc.json.Ab12Cd", "being written");
  const std::string dead = dir.write(".doc.json.Zz99yY", "half");
  const std::string other = dir.write(".doc.json.toolong", "not ours");
  const std::string otherFile = dir.write(".other.json.Ab12Cd", "another file's");
  const int fd = open(held.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  EXPECT_TRUE(kw::writeFileAtomically(path, "new").ok());
  close(fd);
  EXPECT_EQ(readFile(path), "new");
  EXPECT_TRUE(fs::exists(held));
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(other));
  EXPECT_TRUE(fs::exists(otherFile));
}

// A document deep in folders: its list names, made absolute, no longer fit
// the block's 260-character fields. Where the name relative to the current
// folder fits, the block gets that and the run is whole; where nothing fits,
// a warning names the file, and the save that would lose it is refused.
// Saved into another folder, a document's relative list names are given
// anew so that they name the same files from there: relative where the
// list lies in the new folder or below, the full path otherwise.
TEST_F(FlowhostSave, SavedIntoAnotherFolderItsListNamesStillNameTheSameFiles) {
  fs::create_directories(dir_.path() / "site" / "lists");
  fs::create_directories(dir_.path() / "backup");
  const std::string list = dir_.write("site/lists/six.nod", "1\n2\n3\n4\n5\n6\n");
  const std::string path = dir_.write("site/doc.json", snifferDocument("lists/six.nod", 6));
  const struct {
    std::string saveAs;
    std::string named;
  } cases[] = {
      {dir_.file("backup/doc.json"), list},
      {dir_.file("top.json"), "site/lists/six.nod"},
      {dir_.file("site/lists/here.json"), "six.nod"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = runFlowhost({"--seconds", "0.2", "--save-as", c.saveAs, path});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(Json::parse(readFile(c.saveAs))["blocks"][0]["entries"]["node file name"], c.named);
    const Outcome again = runFlowhost({"--seconds", "0.05", c.saveAs});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.err.find("cannot be read"), std::string::npos) << c.saveAs << ": " << again.err;
  }
  EXPECT_EQ(Json::parse(readFile(path))["blocks"][0]["entries"]["node file name"], "lists/six.nod");
}

TEST_F(FlowhostSave, ListNamesTooLongWhenMadeAbsolute) {
  const auto deepFolder = [&](const std::string& root, int segments) {
    fs::path folder = root;
    for (int i = 0; i < segments; ++i) folder /= std::string(60, static_cast<char>('a' + i));
    fs::create_directories(dir_.path() / folder);
    return folder;
  };
  // Relative to here about 245 characters: absolute, over 260.
  const fs::path near = deepFolder("n", 4);
  ASSERT_GT((dir_.path() / near / "six.nod").string().size(), 260u);
  ASSERT_LT((near / "six.nod").string().size(), 260u);
  dir_.write((near / "six.nod").string(), "1\n2\n3\n4\n5\n6\n");
  const std::string path = dir_.write((near / "doc.json").string(), snifferDocument("six.nod", 5));
  const Outcome outcome = runFlowhost({"--seconds", "0.2", "--save", path});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  const Json saved = Json::parse(readFile(path));
  EXPECT_EQ(saved["blocks"][0]["entries"]["node file name"], "six.nod");  // as written
  EXPECT_EQ(saved["blocks"][0]["entries"]["number of nodes"], 6);         // the list was read
  expectLoadsAfresh(path);

  // Too long even relative to here.
  const fs::path far = deepFolder("f", 5);
  dir_.write((far / "five.nod").string(), "1\n2\n3\n4\n5\n");
  const std::string lost = dir_.write((far / "doc.json").string(), snifferDocument("five.nod", 5));
  const std::string before = readFile(lost);
  const Outcome refused = runFlowhost({"--seconds", "0.2", "--save", lost});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("warning: document '" + lost +
                             "': block 1 (JQNV_packet_sniffer): \"node file name\" names "
                             "'five.nod' (" +
                             (dir_.path() / far / "five.nod").string() + "), whose path ("),
            std::string::npos)
      << refused.err;
  EXPECT_NE(refused.err.find("is too long for the block's file name field (at most 259), even "
                             "relative to the current folder; the block starts without that list"),
            std::string::npos)
      << refused.err;
  EXPECT_NE(refused.err.find("document not saved"), std::string::npos) << refused.err;
  EXPECT_EQ(readFile(lost), before);
}

}  // namespace
