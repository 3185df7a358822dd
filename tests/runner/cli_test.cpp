// flowhost as a program: bad input of every kind refused with a clear
// message, a non-zero status and every file left as it was; a document
// saved back unchanged; faces drawn; a clean stop on SIGTERM and SIGINT.
// These runs start no sniffer receivers and send nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

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

// Built with a sanitizer that reserves shadow memory (flowhost is built
// alike): an address-space cap would stop it before it starts.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KW_SHADOW_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define KW_SHADOW_MEMORY 1
#endif
#endif
#ifndef KW_SHADOW_MEMORY
#define KW_SHADOW_MEMORY 0
#endif

constexpr const char* kFlowhost = KW_FLOWHOST_PATH;
constexpr const char* kTestPlugin = KW_TEST_PLUGIN_PATH;

struct Outcome {
  bool ended = false;
  int exitCode = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

Outcome runFlowhost(const std::vector<std::string>& args, std::chrono::milliseconds timeout = 20s) {
  ChildProcess child;
  std::vector<std::string> argv{"flowhost"};
  argv.insert(argv.end(), args.begin(), args.end());
  Outcome outcome;
  if (!child.start(kFlowhost, argv)) return outcome;
  int status = 0;
  outcome.ended = child.waitExit(timeout, &status);
  if (outcome.ended && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  outcome.out = child.out();
  outcome.err = child.err();
  return outcome;
}

// The files of a folder and their contents, to tell that nothing changed.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    files[entry.path().string()] =
        entry.is_regular_file() ? readFile(entry.path().string()) : "<dir>";
  }
  return files;
}

std::string documentText(Json blocks, Json links) {
  return kw_test::document(blocks, links).dump(2) + "\n";
}

// A clock driving a display: the smallest document that runs.
std::string clockDocument() {
  return documentText(Json::array({block(1, "JClockObj", {{"rate", 5.0}}),
                                   block(2, "JDisplayObj", {{"inputs", 1}})}),
                      Json::array({link(1, 0, 2, 0)}));
}

class FlowhostCli : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(FlowhostCli, BadInputIsRefusedClearlyAndLosesNothing) {
  const std::string good = dir_.write("good.json", clockDocument());
  dir_.write("not_a_plugin.so", "this is text, not a shared library\n");
  fs::create_directories(dir_.path() / "folder.json");
  const struct {
    const char* name;
    std::string document;  // empty: use `path` as it is
    std::string path;
    std::vector<std::string> extra;
    const char* reason;
  } cases[] = {
      {"missing document", "", dir_.file("absent.json"), {}, "document not found: '"},
      {"folder as document", "", dir_.file("folder.json"), {}, "is not a regular file"},
      {"malformed document", "{\"blocks\": [ {\"id\": 1,", "", {}, "is not valid JSON"},
      {"not a graph",
       "{\"document\": \"jhost graph\", \"version\": 1}",
       "",
       {},
       "has no \"blocks\" list"},
      {"unknown class",
       documentText(Json::array({block(1, "JNoSuchObj", Json::object())}), Json::array()),
       "",
       {},
       "unknown module class 'JNoSuchObj'"},
      {"missing output port",
       documentText(Json::array({block(1, "JClockObj", Json::object()),
                                 block(2, "JDisplayObj", {{"inputs", 2}})}),
                    Json::array({link(1, 5, 2, 0)})),
       "",
       {},
       "output 5 does not exist on JClockObj (1 outputs)"},
      {"missing input port",
       documentText(Json::array({block(1, "JClockObj", Json::object()),
                                 block(2, "JDisplayObj", {{"inputs", 2}})}),
                    Json::array({link(1, 0, 2, 3)})),
       "",
       {},
       "input 3 does not exist on JDisplayObj (2 inputs)"},
      {"unknown link end",
       documentText(Json::array({block(1, "JClockObj", Json::object())}),
                    Json::array({link(1, 0, 9, 0)})),
       "",
       {},
       "refers to a block id that does not exist"},
      {"missing plug-in",
       "",
       good,
       {"--plugin", dir_.file("nowhere/JNone.so")},
       "plug-in not found: '"},
      {"file that is no plug-in",
       "",
       good,
       {"--plugin", dir_.file("not_a_plugin.so")},
       "cannot load plug-in '"},
      {"track without a map", "", good, {"--track", dir_.file("track.svg")}, "no map to draw"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.document.empty() ? c.path : dir_.write("case.json", c.document);
    const auto before = snapshot(dir_.path());
    const Outcome outcome = runFlowhost([&] {
      std::vector<std::string> args{
          "--no-default-plugins", "--table", "off", "--seconds", "0.2", "--save"};
      args.insert(args.end(), c.extra.begin(), c.extra.end());
      args.push_back(path);
      return args;
    }());
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
    EXPECT_EQ(outcome.err.rfind("flowhost: ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(c.reason), std::string::npos) << outcome.err;
    EXPECT_EQ(snapshot(dir_.path()), before);  // document untouched, nothing new
  }
}

TEST_F(FlowhostCli, UsageErrorsEndWithStatusTwoAndTheUsage) {
  const std::string good = dir_.write("good.json", clockDocument());
  const auto before = snapshot(dir_.path());
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"--seconds", "soon", good},
                                               {"--rate", "0", good},
                                               {"--bogus", good},
                                               {good, good}}) {
    const Outcome outcome = runFlowhost(args);
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.err.find("usage: flowhost [options] <document>"), std::string::npos);
  }
  EXPECT_EQ(snapshot(dir_.path()), before);
  const Outcome help = runFlowhost({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--track FILE"), std::string::npos);
  const Outcome version = runFlowhost({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, std::string("flowhost ") + KW_PROJECT_VERSION + "\n");
}

TEST_F(FlowhostCli, BundledShortOptionsActAsEachAlone) {
  const std::string path = dir_.write("good.json", clockDocument());
  // -s (save) and -t 0.3 (seconds) in one argument.
  const Outcome outcome = runFlowhost({"--no-default-plugins", "--table", "off", "-st0.3", path});
  ASSERT_TRUE(outcome.ended);
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("wrote " + path), std::string::npos) << outcome.out;
  EXPECT_EQ(Json::parse(readFile(path)), Json::parse(clockDocument()));
}

TEST_F(FlowhostCli, DoubleDashEndsTheOptionsSoADocumentMayStartWithADash) {
  dir_.enter();
  dir_.write("-clock.json", clockDocument());
  const std::vector<std::string> options{
      "--no-default-plugins", "--table", "off", "-t", "0.2", "--save"};
  std::vector<std::string> args = options;
  args.push_back("-clock.json");
  const Outcome asOption = runFlowhost(args);
  EXPECT_EQ(asOption.exitCode, 2);
  EXPECT_NE(asOption.err.find("unknown option '-c'"), std::string::npos) << asOption.err;

  args = options;
  args.insert(args.end(), {"--", "-clock.json"});
  const Outcome asDocument = runFlowhost(args);
  ASSERT_EQ(asDocument.exitCode, 0) << asDocument.err;
  EXPECT_NE(asDocument.out.find("wrote -clock.json"), std::string::npos) << asDocument.out;
}

#ifdef KW_SNIFFER_PLUGIN_PATH
TEST_F(FlowhostCli, AListFileThatCannotBeReadIsReportedAndNeverLostBySaving) {
  dir_.enter();  // the sniffer's trace log goes to the current folder
  const std::string path =
      dir_.write("sniff.json", documentText(Json::array({block(1, "JQNV_packet_sniffer",
                                                               {{"node file name", "absent.nod"},
                                                                {"port file name", "absent.mcp"},
                                                                {"number of nodes", 1}})}),
                                            Json::array()));
  const std::string before = readFile(path);
  const Outcome outcome = runFlowhost({"--no-default-plugins", "--plugin", KW_SNIFFER_PLUGIN_PATH,
                                       "--save", "--seconds", "0.2", path});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_NE(
      outcome.err.find("block 1 (JQNV_packet_sniffer): \"node file name\" names 'absent.nod' ("),
      std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.err.find("which cannot be read; the block starts without that list"),
            std::string::npos);
  // The block ran without its lists; the save that would drop the names is refused.
  EXPECT_NE(outcome.err.find("document not saved"), std::string::npos) << outcome.err;
  EXPECT_EQ(readFile(path), before);
  EXPECT_NE(readFile(dir_.file("logFile.txt")).find("startup()"), std::string::npos);
}
#endif

#ifdef KW_SNIFFER_PLUGIN_PATH
// --trace off leaves the sniffer's trace log closed from the load on;
// --trace-limit rotates it; bad values are usage errors.
TEST_F(FlowhostCli, TraceOptionsTurnTheLogOffOrBoundIt) {
  dir_.enter();
  const std::string path =
      dir_.write("sniff.json", documentText(Json::array({block(1, "JQNV_packet_sniffer",
                                                               {{"node file name", "absent.nod"},
                                                                {"port file name", "absent.mcp"},
                                                                {"number of nodes", 1}})}),
                                            Json::array()));
  const std::vector<std::string> run{"--no-default-plugins",
                                     "--plugin",
                                     KW_SNIFFER_PLUGIN_PATH,
                                     "--table",
                                     "off",
                                     "--seconds",
                                     "0.2"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = run;
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(path);
    return runFlowhost(args);
  };

  const Outcome off = with({"--trace", "off"});
  EXPECT_EQ(off.exitCode, 0) << off.err;  // the absent lists are warnings
  EXPECT_FALSE(fs::exists("logFile.txt"));

  const Outcome bounded = with({"--trace=on", "--trace-limit", "400"});
  EXPECT_EQ(bounded.exitCode, 0) << bounded.err;
  const std::string newest = readFile("logFile.txt");
  const std::string older = readFile("logFile.txt.1");
  EXPECT_FALSE(newest.empty());
  EXPECT_LE(newest.size(), 400u);
  EXPECT_FALSE(older.empty());
  EXPECT_LE(older.size(), 400u);
  EXPECT_EQ(older.back(), '\n');
  EXPECT_NE((older + newest).find("JQNV_packet_sniffer::close()"), std::string::npos)
      << older << newest;

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--trace", "maybe"}, {"--trace-limit", "1k"}, {"--trace-limit"}}) {
    std::vector<std::string> args = bad;
    if (bad.size() > 1) args.push_back(path);
    const Outcome outcome = runFlowhost(args);
    EXPECT_EQ(outcome.exitCode, 2) << bad[0];
  }
  EXPECT_NE(runFlowhost({"--trace", "maybe", path}).err.find("trace 'maybe' is not on or off"),
            std::string::npos);
  EXPECT_NE(runFlowhost({"--trace-limit", "1k", path})
                .err.find("trace limit '1k' is not a number of bytes"),
            std::string::npos);
}
#endif

#ifdef KW_SNIFFER_PLUGIN_PATH
// A sniffer block with a node list and no port list: it opens no socket.
std::string nodesOnlyDocument(const std::string& nodeFile, int nodes) {
  return documentText(
      Json::array({block(
          1, "JQNV_packet_sniffer",
          {{"node file name", nodeFile}, {"port file name", ""}, {"number of nodes", nodes}})}),
      Json::array());
}

// --check says, line by line, what the lists are read as, runs nothing and
// ends with status 1 when it said anything; a run says the same lines once
// at its start.
TEST_F(FlowhostCli, CheckSaysWhatTheListsAreReadAsAndARunSaysItOnce) {
  dir_.enter();
  dir_.write("units.nod", "1 one\nalpha 1\n1001 big\n");
  dir_.write("site.mcp", "feedA 239.255.42.1 99999\n");
  dir_.write("clean.nod", "1 one\n2 two\n");
  dir_.write("clean.mcp", "feedA 239.255.42.1 47001\n");
  const std::string document = dir_.write("units.json", nodesOnlyDocument("units.nod", 2));
  const std::string alpha =
      "units.nod:2: \"alpha 1\" does not start with a number; read as node 0 named \"1\"";
  const std::string big = "units.nod:3: \"1001 big\": node 1001 is above 1000; the line is skipped";

  const Outcome checked = runFlowhost({"--check", document});
  EXPECT_EQ(checked.exitCode, 1) << checked.err;
  EXPECT_NE(checked.out.find(alpha + "\n" + big + "\nflowhost: check: 2 problems\n"),
            std::string::npos)
      << checked.out;
  const Outcome lists = runFlowhost({"--check", "--nodes", "units.nod", "--ports", "site.mcp"});
  EXPECT_EQ(lists.exitCode, 1) << lists.err;
  EXPECT_NE(
      lists.out.find("site.mcp:1: port 99999 is above 65535; the receiver would listen on 34463\n"),
      std::string::npos)
      << lists.out;
  const Outcome clean = runFlowhost({"--check", "--nodes", "clean.nod", "--ports", "clean.mcp"});
  EXPECT_EQ(clean.exitCode, 0) << clean.out << clean.err;
  EXPECT_EQ(clean.out, "flowhost: check: no problems\n");
  EXPECT_EQ(runFlowhost({"--check", "--save", document}).exitCode, 2);
  EXPECT_FALSE(fs::exists("logFile.txt"));  // nothing was started

  const Outcome run = runFlowhost({"--table", "off", "--seconds", "0.2", document});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(kw_test::countOf(run.err, "flowhost: " + alpha + "\n"), 1u) << run.err;
  EXPECT_EQ(kw_test::countOf(run.err, "flowhost: " + big + "\n"), 1u) << run.err;
}

// The trace log is the record of a run: loading a document to check it or
// to write one, or failing to load one, leaves it as it was. A logFile.txt
// that is a second name of another file is refused, that file untouched.
TEST_F(FlowhostCli, TheTraceLogIsOpenedOnlyWhenARunStartsItsBlocks) {
  dir_.enter();
  dir_.write("units.nod", "1 one\n");
  dir_.write("site.mcp", "feedA 239.255.42.1 47001\n");
  const std::string document = dir_.write("units.json", nodesOnlyDocument("units.nod", 1));
  const std::string unknown = dir_.write(
      "unknown.json",
      documentText(Json::array({block(1, "JQNV_packet_sniffer", {}), block(2, "JNoSuchObj", {})}),
                   Json::array()));
  dir_.write("logFile.txt", "the last run\n");
  const std::vector<std::vector<std::string>> notRuns = {
      {"--check", document},
      {"--nodes", "units.nod", "--ports", "site.mcp", "--write-document", "written.json"},
      {"--table", "off", "--seconds", "0.2", "absent.json"},
      {"--table", "off", "--seconds", "0.2", unknown},
  };
  for (const std::vector<std::string>& args : notRuns) {
    runFlowhost(args);
    EXPECT_EQ(readFile("logFile.txt"), "the last run\n") << args[0];
  }
  ASSERT_EQ(runFlowhost({"--table", "off", "--seconds", "0.2", document}).exitCode, 0);
  const std::string log = readFile("logFile.txt");
  EXPECT_EQ(log.rfind("JQNV_packet_sniffer::JQNV_packet_sniffer() ", 0), 0u)
      << log;  // emptied first
  EXPECT_NE(log.find("JQNV_packet_sniffer::startup()"), std::string::npos) << log;

  fs::remove("logFile.txt");
  dir_.write("precious.txt", "keep\n");
  fs::create_hard_link("precious.txt", "logFile.txt");
  const Outcome linked = runFlowhost({"--table", "off", "--seconds", "0.2", document});
  EXPECT_EQ(linked.exitCode, 0) << linked.err;
  EXPECT_NE(linked.err.find("trace log logFile.txt: a hard link (one of 2 names of a file), not a "
                            "file of its own; it stays closed"),
            std::string::npos)
      << linked.err;
  EXPECT_EQ(readFile("precious.txt"), "keep\n");
}

// What stands where a list should be (a device that never ends, a pipe
// with no writer, a folder, a list of a million lines) is refused at once
// with the reason, within a memory cap, by the quick start and by a
// document's run alike.
TEST_F(FlowhostCli, HostileListsAreRefusedAtOnceWithinAMemoryCap) {
  constexpr const char* kPrlimit = "/usr/bin/prlimit";
  if (!fs::exists(kPrlimit))
    GTEST_SKIP() << kPrlimit << " is not installed (Debian package util-linux)";
  dir_.enter();
  const std::string pipe = dir_.file("pipe.nod");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  fs::create_directory("folder.nod");
  {
    std::string million;
    for (int i = 0; i < 1000000; ++i)
      million += std::to_string(i % 1001) + " u" + std::to_string(i) + "\n";
    dir_.write("million.nod", million);
  }
  dir_.write("site.mcp", "feedA 239.255.42.1 47001\n");
  // Each run under an address-space cap of 256 MiB, except where a
  // sanitizer reserves its shadow memory (the time bound holds there too).
  auto capped = [&](const std::vector<std::string>& args) {
#if KW_SHADOW_MEMORY
    const std::string program = kFlowhost;
    std::vector<std::string> argv{"flowhost"};
#else
    const std::string program = kPrlimit;
    std::vector<std::string> argv{"prlimit", "--as=268435456", "--", kFlowhost};
#endif
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child;
    Outcome outcome;
    if (!child.start(program, argv)) return outcome;
    int status = 0;
    outcome.ended = child.waitExit(10s, &status);
    if (outcome.ended && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    outcome.out = child.out();
    outcome.err = child.err();
    return outcome;
  };
  const struct {
    std::string list;
    const char* reason;
  } cases[] = {
      {"/dev/zero", "a device, not a regular file"},
      {pipe, "a named pipe, not a regular file"},
      {"folder.nod", "a folder, not a regular file"},
      {"million.nod", "holds 11779997 bytes, more than a list may hold (1048576 bytes)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    const Outcome quick =
        capped({"--nodes", c.list, "--ports", "site.mcp", "--write-document", "out.json"});
    ASSERT_TRUE(quick.ended) << "still reading";
    EXPECT_EQ(quick.exitCode, 1) << quick.err;
    EXPECT_NE(quick.err.find("cannot read the node list '" + c.list + "': " + c.reason),
              std::string::npos)
        << quick.err;
    EXPECT_FALSE(fs::exists("out.json"));

    dir_.write("doc.json", nodesOnlyDocument(c.list, 1));
    const Outcome run = capped({"--table", "off", "--seconds", "0.2", "doc.json"});
    ASSERT_TRUE(run.ended) << "still reading";
    EXPECT_EQ(run.exitCode, 0) << run.err;  // the block starts without that list
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("which cannot be read; the block starts without that list"),
              std::string::npos)
        << run.err;
  }
}
#endif

// Every block kind the runner offers, a plug-in block and the host's own
// source, written as their writeContent writes them.
std::string roundTripDocument() {
  return documentText(
      Json::array({block(1, "JClockObj", {{"rate", 5.0}}), block(2, "JConstantObj", {{"value", 3}}),
                   block(3, "JTestAlphaObj", Json::object()),
                   block(4, "JDisplayObj", {{"inputs", 2}}),
                   block(5, "JSourceObj", {{"outputs", 1}}),
                   block(6, "JDegreeTextObj", {{"axis", "longitude"}}),
                   block(7, "JDisplayObj", {{"inputs", 1}})}),
      Json::array({link(1, 0, 4, 0), link(2, 0, 3, 0), link(3, 0, 4, 1), link(5, 0, 6, 0),
                   link(6, 0, 7, 0)}));
}

TEST_F(FlowhostCli, ADocumentSavedAfterARunComesBackUnchanged) {
  const std::string original = roundTripDocument();
  const std::string path = dir_.write("trip.json", original);
  const Outcome outcome =
      runFlowhost({"--no-default-plugins", "--plugin", kTestPlugin, "--rate", "20", "--seconds",
                   "0.5", "--table", "off", "--faces", dir_.file("faces"), "--save", path});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("wrote " + path), std::string::npos) << outcome.out;
  // Same blocks, entries (the rate override is not stored), order and links.
  EXPECT_EQ(Json::parse(readFile(path)), Json::parse(original));
  EXPECT_FALSE(fs::exists(path + ".tmp"));

  // What ran: the constant reached the plug-in block (100 + 3), whose output
  // and the clock reached the display, drawn on its face.
  const std::string display = readFile(dir_.file("faces/04-JDisplayObj.svg"));
  EXPECT_NE(display.find(">in 1: 103</text>"), std::string::npos) << display;
  EXPECT_NE(display.find(">clock: "), std::string::npos) << display;
  EXPECT_NE(readFile(dir_.file("faces/01-JClockObj.svg")).find(">clock 5 Hz</text>"),
            std::string::npos);
  std::set<std::string> faces;
  for (const auto& entry : fs::directory_iterator(dir_.path() / "faces")) {
    faces.insert(entry.path().filename().string());
    EXPECT_NE(outcome.out.find("wrote " + entry.path().string()), std::string::npos);
  }
  EXPECT_EQ(faces, (std::set<std::string>{"01-JClockObj.svg", "02-JConstantObj.svg",
                                          "03-JTestAlphaObj.svg", "04-JDisplayObj.svg",
                                          "05-JSourceObj.svg", "06-JDegreeTextObj.svg",
                                          "07-JDisplayObj.svg"}));

  // Saved elsewhere, the original stays as it is.
  const std::string copy = dir_.file("copy.json");
  ASSERT_EQ(runFlowhost({"--no-default-plugins", "--plugin", kTestPlugin, "--seconds", "0.2",
                         "--save-as", copy, path})
                .exitCode,
            0);
  EXPECT_EQ(readFile(copy), readFile(path));
}

// Runs until stopped by `signalNumber`; the run must end cleanly: status
// 0, the last table, the document saved.
void stopsCleanlyOn(int signalNumber, const char* name, const TempDir& dir) {
  const std::string path = dir.write("clock.json", clockDocument());
  ChildProcess child;
  ASSERT_TRUE(child.start(kFlowhost, {"flowhost", "--no-default-plugins", "--every", "0.2",
                                      "--save-as", dir.file("after.json"), path}));
  // Output is a pipe: plain tables, no escape codes.
  ASSERT_TRUE(child.readOutUntil(
      [](const std::string& out) { return out.find("ticks=2") != std::string::npos; }, 10s))
      << child.out();
  ASSERT_TRUE(child.signal(signalNumber));
  int status = 0;
  ASSERT_TRUE(child.waitExit(10s, &status));
  ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal: " << child.err();
  EXPECT_EQ(WEXITSTATUS(status), 0) << child.err();
  EXPECT_NE(child.out().find(std::string("flowhost: stopped by ") + name), std::string::npos);
  EXPECT_EQ(child.out().find('\x1b'), std::string::npos);
  EXPECT_EQ(Json::parse(readFile(dir.file("after.json"))), Json::parse(clockDocument()));
}

TEST_F(FlowhostCli, SigtermEndsTheRunCleanly) { stopsCleanlyOn(SIGTERM, "SIGTERM", dir_); }

TEST_F(FlowhostCli, CtrlCEndsTheRunCleanly) { stopsCleanlyOn(SIGINT, "SIGINT", dir_); }

}  // namespace
