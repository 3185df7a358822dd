// feed_record: records the position feed of one multicast group and port,
// every datagram with its arrival time, for `nmea_beacon --replay` to send
// again (line format: record_format.h).
//
//   feed_record [--interface X] <group> <port> FILE
//
// Two threads: the receiving thread waits for datagrams and appends each as
// one line, flushed at once, so a recording cut short keeps what it had;
// the main thread waits for SIGINT or SIGTERM, then wakes the receiving
// thread, waits for it and closes the file. Status 0 after a signal; 1 when
// the group cannot be joined or the file cannot be written; 2 for a wrong
// command line.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "beacon/command_line.h"
#include "beacon/record_format.h"
#include "cli/option_parser.h"
#include "platform/clock.h"
#include "platform/multicast.h"
#include "platform/stop_signal.h"
#include "platform/terminal_text.h"
#include "platform/worker.h"

#ifndef KW_VERSION
#define KW_VERSION "unknown"
#endif

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr size_t kReceiveCapacity = 65536;  // more than any UDP datagram

struct RecorderLine {
  const char* group = nullptr;
  int port = 0;
  const char* file = nullptr;
  const char* interfaceName = nullptr;
};

void writeUsage(std::FILE* stream, const char* programName) {
  std::fprintf(stream,
               "usage: %s [--interface NAME|ADDRESS] <group> <port> FILE\n"
               "       %s --help | --version\n"
               "Records every datagram sent to <group> (IPv4) and <port> (1 to 65535) into\n"
               "FILE, one per line: milliseconds since the start, a tab, the datagram with\n"
               "control and non-ASCII bytes written \\xHH and the backslash \\\\. Ctrl-C or\n"
               "SIGTERM ends the recording. nmea_beacon --replay FILE sends it again.\n",
               programName, programName);
}

enum Code : int { kInterface, kHelp, kVersion };

// Every option; only "-h" has a short form, and any other word is an operand.
const std::vector<kw_cli::Option> kOptions = {
    {"interface", '\0', kw_cli::Option::Value::Required, kInterface},
    {"help", 'h', kw_cli::Option::Value::None, kHelp},
    {"version", '\0', kw_cli::Option::Value::None, kVersion},
};

// 0: *out complete; otherwise the exit status after the message.
int parse(int argc, char** argv, const char* programName, RecorderLine* out) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  int code = -1;  // the option that ended the walk
  const auto take = [&](const kw_cli::Found& found) {
    if (found.code == kInterface && !found.value.empty()) {
      out->interfaceName = argv[1 + found.word] + found.offset;
      return true;
    }
    code = found.code;
    return false;
  };
  const kw_cli::OptionParser parser(kOptions, kw_cli::OptionParser::Style::LongOnly);
  std::vector<size_t> operands;
  kw_cli::Problem problem;
  if (!parser.parse(args, take, &operands, &problem)) {
    if (code == kHelp) {
      writeUsage(stdout, programName);
      return -1;
    }
    if (code == kVersion) {
      std::printf("feed_record %s\n", KW_VERSION);
      return -1;
    }
    if (code == kInterface || problem.kind == kw_cli::Problem::Kind::MissingValue) {
      std::fprintf(stderr, "%s: --interface needs a name or an IPv4 address\n", programName);
    } else {
      std::fprintf(stderr, "%s: unknown option %s\n", programName,
                   kw::terminalText(problem.spelled).c_str());
    }
    return 2;
  }
  if (operands.size() != 3) {
    writeUsage(stderr, programName);
    return 2;
  }
  out->group = argv[1 + operands[0]];
  out->file = argv[1 + operands[2]];
  const char* port = argv[1 + operands[1]];
  if (!kw::isIpv4Address(out->group)) {
    std::fprintf(stderr, "%s: group %s: not an IPv4 address\n", programName,
                 kw::terminalText(out->group).c_str());
    return 1;
  }
  if (!kw_beacon::parsePort(port, &out->port)) {
    std::fprintf(stderr, "%s: port %s: not a number from 1 to 65535\n", programName,
                 kw::terminalText(port).c_str());
    return 1;
  }
  return 0;
}

// What the receiving thread shares with the main thread.
struct Recording {
  int socket = kw::kNoSocket;
  kw::Worker receiver;  // its wake event ends the wait for a datagram
  std::FILE* file = nullptr;
  SteadyClock::time_point start;
  std::atomic<unsigned long long> count{0};
  std::atomic<bool> writeFailed{false};
};

void receiveAll(Recording* recording) {
  std::vector<char> buffer(kReceiveCapacity);
  while (!recording->receiver.stopping()) {
    size_t received = 0;
    const kw::ReceiveStatus status =
        kw::waitAndReceive(recording->socket, recording->receiver.wakeEvent(), buffer.data(),
                           buffer.size(), &received);
    if (status == kw::ReceiveStatus::Woken) break;
    if (status == kw::ReceiveStatus::Failed) {
      // Pause so that a socket that keeps failing cannot make this spin.
      kw::Sleep(10);
      continue;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() -
                                                                               recording->start);
    const std::string line = kw_beacon::formatRecord(static_cast<uint64_t>(elapsed.count()),
                                                     std::string_view(buffer.data(), received));
    if (std::fwrite(line.data(), 1, line.size(), recording->file) != line.size() ||
        std::fflush(recording->file) != 0) {
      recording->writeFailed.store(true);
      break;
    }
    recording->count.fetch_add(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Texts from the command line are shown safe for a terminal, the
  // program's own name too.
  const std::string shownName =
      kw::terminalText(argc > 0 && argv[0] != nullptr ? argv[0] : "feed_record");
  const char* programName = shownName.c_str();
  RecorderLine line;
  if (const int status = parse(argc, argv, programName, &line); status != 0) {
    return status < 0 ? 0 : status;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  kw::StopSignal::install(kw::StopSignal::Repeat::Keep);

  kw::Failure failure;
  const kw::Socket socket =
      kw::openMulticastReceiver(line.group, line.port, &failure, line.interfaceName);
  if (failure) {
    std::fprintf(stderr, "%s: %s\n", programName, kw::terminalText(failure.text()).c_str());
    return 1;
  }
  Recording recording;
  recording.socket = socket.fd();
  recording.file = std::fopen(line.file, "w");
  if (recording.file == nullptr) {
    std::fprintf(stderr, "%s: %s: cannot be written\n", programName,
                 kw::terminalText(line.file).c_str());
    return 1;
  }
  std::fprintf(recording.file, "# feed_record %s %d\n", line.group, line.port);
  std::fflush(recording.file);

  std::printf("Recording mcast adrs: %s and port number : %d into %s\n", line.group, line.port,
              line.file);
  recording.start = SteadyClock::now();
  if (const kw::Failure failed =
          recording.receiver.start([&recording] { receiveAll(&recording); })) {
    std::fprintf(stderr, "%s: %s\n", programName, failed.c_str());
    std::fclose(recording.file);
    return 1;
  }
  while (!kw::StopSignal::requested() && !recording.writeFailed.load()) {
    kw::StopSignal::sleepUntil(SteadyClock::now() + std::chrono::milliseconds(200));
  }
  recording.receiver.stop();
  const bool closed = std::fclose(recording.file) == 0;
  if (recording.writeFailed.load() || !closed) {
    std::fprintf(stderr, "%s: %s: write failed after %llu datagrams\n", programName,
                 kw::terminalText(line.file).c_str(), recording.count.load());
    return 1;
  }
  std::printf("recorded %llu datagrams\n", recording.count.load());
  return 0;
}
