// Malformed traffic mixed into a valid feed: random bytes, truncated packets,
// wrong checksums, sentences that do not parse, unknown node numbers,
// 6000-byte and empty datagrams. Every bad datagram of a round carries a
// packet time newer than the round's valid packet, which is sent last: had a
// bad one reached a node, the node would show its values and would refuse
// the older valid packet.
#include <chrono>
#include <random>

#include "tests/system/feed_traffic.h"
#include "tests/system/system_fixture.h"

namespace {

using kw_test::SystemTest;

constexpr const char* kGroup = "239.255.43.2";
constexpr int kPort = 47102;
constexpr int kRounds = 15;
constexpr int kNodes = 3;  // node numbers 1 to 3, at indices 0 to 2

std::string randomBytes(std::mt19937& random, size_t length, const std::string& alphabet = {}) {
  std::string bytes(length, '\0');
  for (char& c : bytes) {
    c = alphabet.empty() ? static_cast<char>(random() & 0xff)
                         : alphabet[random() % alphabet.size()];
  }
  return bytes;
}

// A packet with the given bodies and checksum texts taken as they are.
std::string rawPacket(const std::string& node, const std::string& zda, const std::string& zdaSum,
                      const std::string& gll, const std::string& gllSum) {
  return node + ",com1,com2,$" + zda + "*" + zdaSum + ",$" + gll + "*" + gllSum;
}

std::string withSums(const std::string& node, const std::string& zda, const std::string& gll) {
  return rawPacket(node, zda, kw_test::hex2(kw_test::xorChecksum(zda)), gll,
                   kw_test::hex2(kw_test::xorChecksum(gll)));
}

// The bad datagrams of one round: all newer than the round's valid packet.
std::vector<std::string> badTraffic(std::mt19937& random, int node, int round) {
  const int centis = round * 100 + 50;
  const int seq = 5000 + round;  // a latitude no valid packet carries
  const std::string nodeText = "00" + std::to_string(node);
  const std::string zda = kw_test::zdaBody(kw_test::clockText(centis), 15, 1, 2026);
  const std::string gll =
      kw_test::gllBody(kw_test::latitudeText(seq), "11526.3400", kw_test::clockText(centis));
  const std::string good = kw_test::numberedPacket(node, seq, centis);
  const std::string sentenceChars = "$*,.0123456789ANWSEGPZDLV- \t";

  std::vector<std::string> bad;
  bad.push_back(randomBytes(random, 1 + random() % 300));
  bad.push_back(randomBytes(random, 1 + random() % 300, sentenceChars));
  bad.push_back(good.substr(0, random() % good.size()));  // truncated
  bad.push_back(good.substr(0, good.size() - 1));         // last checksum digit missing
  // Wrong checksums, each sentence in turn.
  const unsigned zdaSum = kw_test::xorChecksum(zda);
  const unsigned gllSum = kw_test::xorChecksum(gll);
  bad.push_back(rawPacket(nodeText, zda, kw_test::hex2(zdaSum ^ 0x01), gll, kw_test::hex2(gllSum)));
  bad.push_back(rawPacket(nodeText, zda, kw_test::hex2(zdaSum), gll, kw_test::hex2(gllSum ^ 0x10)));
  // Checksums right, contents not: time without its fraction, a hemisphere
  // that does not exist, a status letter outside A/V.
  bad.push_back(withSums(nodeText, "GPZDA,1200,15,01,2026,08,00", gll));
  bad.push_back(withSums(nodeText, zda, "GPGLL,4500.0000,X,11526.3400,W,120000.00,A,A"));
  bad.push_back(withSums(nodeText, zda, "GPGLL,4500.0000,N,11526.3400,W,120000.00,Z,A"));
  // Valid, but for node numbers that are not listed.
  bad.push_back(kw_test::numberedPacket(999, seq, centis));
  bad.push_back(kw_test::numberedPacket(-1, seq, centis));
  // Oversized: 6000 bytes of noise, and of sentence characters.
  bad.push_back(randomBytes(random, 6000));
  bad.push_back(randomBytes(random, 6000, sentenceChars));
  bad.push_back(std::string());  // empty datagram
  return bad;
}

class Malformed : public SystemTest {};

TEST_F(Malformed, ValidPacketsStillUpdateTheirNodes) {
  startFeed("1\n2\n3\n", std::string("mixed ") + kGroup + " " + std::to_string(kPort) + "\n");
  ASSERT_EQ(sniffer_->ogm, 8 * kNodes);
  kw_test::FeedSender socket(kGroup, kPort);
  ASSERT_TRUE(socket.ok());
  turn(true);
  markLog();

  std::mt19937 random(20260115);
  std::vector<int> lastRound(kNodes, -1);  // by node index
  for (int round = 1; round <= kRounds; ++round) {
    const int index = round % kNodes;
    const int node = index + 1;
    for (const std::string& datagram : badTraffic(random, node, round)) {
      ASSERT_TRUE(socket.send(datagram)) << "round " << round;
    }
    ASSERT_TRUE(socket.send(kw_test::numberedPacket(node, round, round * 100)));
    lastRound[index] = round;

    // Tick until the valid packet has been taken in (it was sent last, so
    // everything bad of this round has been taken in by then too).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    NodeView shown;
    do {
      kw::Sleep(20);
      tick();
      shown = view(index);
    } while (kw_test::centisOf(shown.utcSec, shown.utcMs) != round * 100 &&
             std::chrono::steady_clock::now() < deadline);

    // Every node shows its own last valid packet, nothing of the bad ones.
    for (int i = 0; i < kNodes; ++i) {
      const NodeView v = view(i);
      EXPECT_EQ(v.id, i + 1);
      if (lastRound[i] < 0) {
        EXPECT_EQ(v.utcSec, 0) << "round " << round << " node index " << i;
        continue;
      }
      EXPECT_EQ(kw_test::centisOf(v.utcSec, v.utcMs), lastRound[i] * 100)
          << "round " << round << " node index " << i;
      EXPECT_NEAR(v.latitude, kw_test::latitudeOf(lastRound[i]), 1e-9)
          << "round " << round << " node index " << i;
    }
  }
  turn(false);

  // Only the valid packets parsed whole and reached a node.
  int parsed = 0;
  for (const auto& lines : ticksSinceMark()) parsed += count(lines, "parsedPacket ok 1 1");
  // The two packets of unlisted nodes parse too; they reach no node.
  EXPECT_EQ(parsed, kRounds * 3);
  int updates = 0;
  for (const auto& lines : ticksSinceMark()) {
    updates += countPrefix(lines, "kw_qnv_nodeHandler::set() ");
  }
  EXPECT_EQ(updates, kRounds);
}

}  // namespace
