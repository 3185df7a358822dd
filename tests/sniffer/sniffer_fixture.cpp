#include "tests/sniffer/sniffer_fixture.h"

#include "host/JPluginLoader.h"

namespace kw_test {

TempDir& workDir() {
  static TempDir dir;
  static const bool entered = (dir.enter(), true);
  (void)entered;
  return dir;
}

void SnifferTest::SetUpTestSuite() {
  workDir();
  std::string error;
  ASSERT_TRUE(JPluginLoader::load(KW_SNIFFER_PLUGIN, nullptr, &error)) << error;
}

void SnifferTest::SetUp() { markLog(); }

JQNV_packet_sniffer* SnifferTest::makeSniffer() {
  std::string error;
  JModuleObj* block = graph_.create("JQNV_packet_sniffer", &error);
  EXPECT_NE(block, nullptr) << error;
  return static_cast<JQNV_packet_sniffer*>(block);
}

JSourceObj* SnifferTest::driveInputs(JQNV_packet_sniffer* sniffer) {
  auto* source = static_cast<JSourceObj*>(graph_.add(new JSourceObj(2)));
  std::string error;
  EXPECT_NE(graph_.link(source, 0, sniffer, 0, &error), nullptr) << error;
  EXPECT_NE(graph_.link(source, 1, sniffer, 1, &error), nullptr) << error;
  return source;
}

void SnifferTest::send(JSourceObj* source, int n, int value) {
  source->setInteger(n, value);
  source->broadcast(n);
}

JProbeObj* SnifferTest::probeAll(JQNV_packet_sniffer* sniffer) {
  auto* probe = static_cast<JProbeObj*>(graph_.add(new JProbeObj(sniffer->ogm)));
  for (int n = 0; n < sniffer->ogm; ++n) {
    std::string error;
    EXPECT_NE(graph_.link(sniffer, n, probe, n, &error), nullptr) << error;
  }
  return probe;
}

std::string SnifferTest::writeFile(const std::string& name, const std::string& text) {
  return workDir().write(name, text);
}

void SnifferTest::markLog() { logMark_ = readFile("logFile.txt").size(); }

std::vector<std::string> SnifferTest::logSinceMark() const {
  const std::string content = readFile("logFile.txt");
  std::vector<std::string> lines;
  size_t start = logMark_ < content.size() ? logMark_ : content.size();
  while (start < content.size()) {
    const size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(content.substr(start));
      break;
    }
    lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

int SnifferTest::count(const std::vector<std::string>& lines, const std::string& line) {
  int n = 0;
  for (const auto& l : lines) n += l == line ? 1 : 0;
  return n;
}

}  // namespace kw_test
