// scale_sender: the load of many field units for bench/scale, from one
// process. It sends the packets nmea_beacon sends (the same builder, each
// unit an equal share of the circle apart), every unit `rate` packets a
// second, on an exact schedule: every 10 ms it wakes and sends, in one
// burst, the packets that fell due since its last wake-up. One wake-up per
// burst, not per packet, keeps the senders' own cost far below the
// receiver's (a beacon process sleeps and wakes for every packet).
//
//   scale_sender [--first FIRST] UNITS RATE GROUP:PORT [GROUP:PORT ...]
//
// Units FIRST .. FIRST+UNITS-1 (FIRST 0 unless given) are spread over the
// ports in equal shares, the first ports taking one more, in order. It runs
// until SIGINT or SIGTERM, then prints one line of counters, the proof of
// what it sent and whether it kept its pace:
//   scale_sender: due N, sent S, failed F, late max L ms, late bursts B of T
// (due: packets the schedule asked for so far; sent: datagrams the system
// took; failed: sends it refused; late max: the longest a burst started
// after its time; late bursts: those that started more than 50 ms late, of
// all; a sender that cannot keep up is late burst after burst, while one
// descheduled for a moment on a busy machine is late once). Exit status 0,
// or 2 on a bad command line.
//
// One thread; everything it touches of the system goes through platform/.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "beacon/packet_builder.h"
#include "platform/calendar.h"
#include "platform/clock.h"
#include "platform/multicast.h"
#include "platform/stop_signal.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kBurst = std::chrono::milliseconds(10);
constexpr auto kLate = std::chrono::milliseconds(50);
constexpr int kMaxUnits = 1000;  // node numbers 0 to 999, as a node list may name them

struct Port {
  std::string group;
  int port = 0;
};

struct Unit {
  int number = 0;
  int port = 0;  // index into the ports
  double phase = 0.0;
  Clock::duration offset{};  // its place within the period
};

bool parseInt(const std::string& text, int low, int high, int* out) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return false;
  *out = v;
  return true;
}

bool parsePort(const std::string& text, Port* out) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  out->group = text.substr(0, colon);
  return kw::isIpv4Address(out->group.c_str()) &&
         parseInt(text.substr(colon + 1), 1, 65535, &out->port);
}

// Units first .. first+units-1 spread over the ports in equal shares, and
// over the period.
std::vector<Unit> layOut(int first, int units, int ports, Clock::duration period) {
  std::vector<Unit> out;
  int index = 0;
  for (int p = 0; p < ports; ++p) {
    const int share = units / ports + (p < units % ports ? 1 : 0);
    for (int i = 0; i < share; ++i, ++index) {
      Unit u;
      u.number = first + index;
      u.port = p;
      u.phase = kw_beacon::unitPhase(u.number, first + units);
      u.offset = period * index / units;
      out.push_back(u);
    }
  }
  return out;
}

struct Counters {
  unsigned long long due = 0, sent = 0, failed = 0;
  Clock::duration lateMax{};
  unsigned long long bursts = 0, lateBursts = 0;
};

// Sends every packet due in (from, to], measured from `start`.
void sendDue(const std::vector<Unit>& units, const std::vector<Port>& ports,
             const kw::Socket& socket, Clock::duration period, Clock::duration from,
             Clock::duration to, Counters* counters) {
  const kw_beacon::ClockReading clock = kw_beacon::readClock();
  kw_beacon::BeaconPacket packet{};
  for (const Unit& u : units) {
    // The unit's sends fall at offset + k * period; count those in (from, to].
    const auto before = [&](Clock::duration t) {
      return t < u.offset ? 0 : (t - u.offset) / period + 1;
    };
    for (long long k = before(from); k < before(to); ++k) {
      ++counters->due;
      kw_beacon::buildPacket(clock, u.number, &packet, u.phase);
      const Port& port = ports[static_cast<size_t>(u.port)];
      if (kw::sendDatagram(socket, port.group.c_str(), port.port, packet.text,
                           std::strlen(packet.text))) {
        ++counters->sent;
      } else {
        ++counters->failed;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int first = 0, units = 0, rate = 0;
  bool ok = true;
  if (!args.empty() && args[0] == "--first") {
    ok = args.size() >= 2 && parseInt(args[1], 0, kMaxUnits - 1, &first);
    args.erase(args.begin(), args.begin() + std::min<size_t>(2, args.size()));
  }
  std::vector<Port> ports;
  ok = ok && args.size() >= 3 && parseInt(args[0], 1, kMaxUnits - first, &units) &&
       parseInt(args[1], 1, 100, &rate);
  for (size_t i = 2; ok && i < args.size(); ++i) {
    Port port;
    ok = parsePort(args[i], &port);
    ports.push_back(port);
  }
  if (!ok) {
    std::fprintf(stderr,
                 "usage: scale_sender [--first FIRST] UNITS RATE GROUP:PORT [GROUP:PORT ...]\n"
                 "  node numbers FIRST to FIRST+UNITS-1 within 0 to %d,\n"
                 "  RATE packets a second per unit, 1 to 100\n",
                 kMaxUnits - 1);
    return 2;
  }
  kw::StopSignal::install(kw::StopSignal::Repeat::Keep);
  kw::Failure failure;
  const kw::Socket socket = kw::openMulticastSender(ports[0].port, 1, &failure);
  if (failure) std::fprintf(stderr, "scale_sender: %s\n", failure.c_str());

  const Clock::duration period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
  const std::vector<Unit> laid = layOut(first, units, static_cast<int>(ports.size()), period);
  Counters counters;
  const Clock::time_point start = Clock::now();
  // Nothing is due at the start itself: the first burst sends what fell due
  // in its first 10 ms.
  Clock::duration done{-1};
  for (Clock::time_point next = start + kBurst; !kw::StopSignal::requested(); next += kBurst) {
    kw::StopSignal::sleepUntil(next);
    const Clock::time_point woke = Clock::now();
    if (woke > next) counters.lateMax = std::max(counters.lateMax, woke - next);
    ++counters.bursts;
    if (woke - next > kLate) ++counters.lateBursts;
    const Clock::duration now = std::min(woke, next) - start;
    sendDue(laid, ports, socket, period, done, now, &counters);
    done = now;
  }
  std::printf(
      "scale_sender: due %llu, sent %llu, failed %llu, late max %lld ms, late bursts %llu of "
      "%llu\n",
      counters.due, counters.sent, counters.failed,
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(counters.lateMax).count()),
      counters.lateBursts, counters.bursts);
  return 0;
}
