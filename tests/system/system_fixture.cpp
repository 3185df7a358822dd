#include "tests/system/system_fixture.h"

#include "host/JFileProperty.h"
#include "tests/support/isolation.h"

namespace kw_test {

namespace {
const char kTickLine[] = "JQNV_packet_sniffer::engine() processing tick";
}

void SystemTest::SetUp() {
  KW_REQUIRE_ISOLATED_NETWORK();
  SnifferTest::SetUp();
}

void SystemTest::startFeed(const std::string& nodeList, const std::string& portList) {
  sniffer_ = makeSniffer();
  ASSERT_NE(sniffer_, nullptr);
  graph_.startup();
  JFileProperty nodes("node file name", JString(writeFile("system.nod", nodeList).c_str()),
                      "*.nod");
  JFileProperty ports("port file name", JString(writeFile("system.mcp", portList).c_str()),
                      "*.mcp");
  ASSERT_TRUE(sniffer_->updateProperty(nodes));
  ASSERT_TRUE(sniffer_->updateProperty(ports));
  ASSERT_NE(sniffer_->nodeFile()[0], '\0') << "node list did not load";
  ASSERT_NE(sniffer_->portFile()[0], '\0') << "port list did not load";
  source_ = driveInputs(sniffer_);
  probe_ = probeAll(sniffer_);
}

void SystemTest::tick() {
  send(source_, 0, 1);
  send(source_, 0, 0);
}

SystemTest::NodeView SystemTest::view(int i) const {
  NodeView v;
  auto integer = [&](int kind, int* into) {
    if (const JProbeObj::Value* value = probe_->last(8 * i + kind)) *into = value->integer;
  };
  auto real = [&](int kind, double* into) {
    if (const JProbeObj::Value* value = probe_->last(8 * i + kind)) *into = value->real;
  };
  integer(0, &v.id);
  real(1, &v.latitude);
  integer(3, &v.utcSec);
  integer(4, &v.utcMs);
  integer(6, &v.health);
  real(7, &v.idle);
  return v;
}

std::vector<std::vector<std::string>> SystemTest::ticksSinceMark() const {
  std::vector<std::vector<std::string>> ticks;
  for (const std::string& line : logSinceMark()) {
    if (line == kTickLine) {
      ticks.emplace_back();
    } else if (!ticks.empty()) {
      ticks.back().push_back(line);
    }
  }
  return ticks;
}

int SystemTest::countPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& line : lines) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

}  // namespace kw_test
