// flowhost as a program: bad input of every kind refused with a clear
// message, a non-zero status and every file left as it was; a document
// saved back unchanged; faces drawn; a clean stop on SIGTERM and SIGINT.
// These runs start no sniffer receivers and send nothing.
#include <gtest/gtest.h>
#include <signal.h>
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
      {"missing document",
       "",
       dir_.file("absent.json"),
       {},
       "absent.json': No such file or directory"},
      {"folder as document", "", dir_.file("folder.json"), {}, "a folder, not a regular file"},
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
       "JNone.so': No such file or directory"},
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

TEST_F(FlowhostCli, UsageErrorsEndWithStatusTwoAndAHint) {
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
    // One line saying what is wrong, then where help is; not the whole text.
    EXPECT_EQ(outcome.err.rfind("flowhost: ", 0), 0u) << outcome.err;
    EXPECT_EQ(outcome.err.substr(outcome.err.find('\n') + 1), "Try 'flowhost --help'.\n")
        << outcome.err;
  }
  EXPECT_EQ(snapshot(dir_.path()), before);
  const Outcome help = runFlowhost({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--track FILE"), std::string::npos);
  for (const char* spelled : {"--version", "-V"}) {
    const Outcome version = runFlowhost({spelled});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, std::string("flowhost ") + KW_PROJECT_VERSION + "\n");
  }
}

// A node list, a port list or a text file named as the document: the
// reason says where reading stopped (not the JSON library's words) and a
// note says what the file looks like and how to run it.
TEST_F(FlowhostCli, AFileThatIsNoDocumentSaysWhatItLooksLike) {
  const struct {
    const char* name;
    const char* text;
    const char* note;  // "" for none
  } cases[] = {
      {"units.nod", "# field units\n3 van\n\n17\n", "looks like a node list"},
      {"feeds.mcp", "# feeds\r\ncom1 239.255.42.1 47001\r\n", "looks like a port list"},
      {"notes.txt", "hello\nworld\n", "is not JSON: a document is the JSON file"},
      {"broken.json", "{\"blocks\": [\n  {\"id\": 1,,\n", ""},
  };
  for (const auto& c : cases) {
    const std::string path = dir_.write(c.name, c.text);
    const Outcome outcome = runFlowhost({path});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
    EXPECT_EQ(outcome.err.find("json.exception"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("document is not valid JSON (line "), std::string::npos)
        << outcome.err;
    if (*c.note == '\0') {
      EXPECT_EQ(outcome.err.find("flowhost: note:"), std::string::npos) << outcome.err;
      EXPECT_NE(outcome.err.find("(line 2, column 12)"), std::string::npos) << outcome.err;
    } else {
      EXPECT_NE(outcome.err.find("flowhost: note: '" + path + "' " + c.note), std::string::npos)
          << outcome.err;
    }
  }
  const Outcome nodes = runFlowhost({dir_.file("units.nod")});
  EXPECT_NE(nodes.err.find("flowhost --nodes " + dir_.file("units.nod") + " --ports PORTS.mcp"),
            std::string::npos)
      << nodes.err;
}

// --medium and --bad reach every sniffer the quick start makes.
TEST_F(FlowhostCli, QuickStartThresholdsReachTheSniffers) {
  const std::string nodes = dir_.write("units.nod", "3 van\n7 truck\n");
  const std::string ports = dir_.write("feeds.mcp", "com1 239.255.42.1 47001\n");
  const std::string out = dir_.file("graph.json");
  const Outcome outcome = runFlowhost(
      {"--nodes", nodes, "--ports", ports, "--medium", "5", "--bad=12.5", "--write-document", out});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const Json written = Json::parse(readFile(out));
  int sniffers = 0;
  for (const Json& block : written["blocks"]) {
    if (block["class"] != "JQNV_packet_sniffer") continue;
    ++sniffers;
    EXPECT_EQ(block["entries"]["medium threshold"], 5.0);
    EXPECT_EQ(block["entries"]["bad threshold"], 12.5);
  }
  EXPECT_EQ(sniffers, 1);
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
