// What a gpsd client sends the position server is untrusted: split each
// input into two reads at a point the input chooses, take the commands out
// as the server does after each read, and answer each with the error reply
// (which quotes the command), and a WATCH with the echo of the policy it
// sets. Checked: every command taken is a whole one (no separator, no
// leading blank, never empty), nothing complete is left behind, no byte is
// taken twice, the error reply is one line of JSON that says what was sent,
// and the echo is one line of JSON naming the device the WATCH asked for.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "outputs/GpsdProtocol.h"

namespace {

bool hasSeparator(const std::string& text) {
  return text.find_first_of(";\n") != std::string::npos;
}

bool isAscii(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// The echo of the policy a valid WATCH sets.
void checkEcho(const kw_out::gpsd::Command& command) {
  kw_out::gpsd::Policy policy;
  kw_out::gpsd::applyWatch(command, &policy);
  std::string echo;
  kw_out::gpsd::appendWatch(&echo, policy);
  check(echo.size() > 2 && echo.compare(echo.size() - 2, 2, "\r\n") == 0);
  check(echo.find('\n') == echo.size() - 1);
  const nlohmann::json j = nlohmann::json::parse(echo, nullptr, false);
  check(j.is_object() && j["class"] == "WATCH");
  check(policy.device.empty() ? !j.contains("device") : j["device"].is_string());
  if (isAscii(policy.device) && !policy.device.empty()) check(j["device"] == policy.device);
}

// Takes every complete command out of `buffer`; adds the bytes they held.
void drain(std::string* buffer, size_t* taken) {
  kw_out::gpsd::Command command;
  while (kw_out::gpsd::takeCommand(buffer, &command)) {
    const std::string& text = command.text;
    check(!text.empty());
    check(!hasSeparator(text));
    check(text.front() != ' ' && text.front() != '\t' && text.front() != '\r');
    *taken += text.size();
    if (command.kind == kw_out::gpsd::Command::Kind::Watch && !command.valid) {
      check(text.rfind("?WATCH=", 0) == 0);
    }
    if (command.kind == kw_out::gpsd::Command::Kind::Watch && command.valid) checkEcho(command);
    std::string reply;
    kw_out::gpsd::appendError(&reply, text);
    check(!reply.empty() && reply.back() == '\n');
    check(reply.find('\n') == reply.size() - 1);
    const nlohmann::json j = nlohmann::json::parse(reply, nullptr, false);
    check(j.is_object() && j["class"] == "ERROR" && j["message"].is_string());
    if (isAscii(text)) check(j["message"].get<std::string>() == text);
  }
  check(!hasSeparator(*buffer));  // nothing complete left behind
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t split = data[0] % size;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t first = split < input.size() ? split : input.size();
  std::string buffer;
  size_t taken = 0;
  buffer.append(input, 0, first);
  drain(&buffer, &taken);
  buffer.append(input, first, std::string::npos);
  drain(&buffer, &taken);
  check(taken + buffer.size() <= input.size());
  return 0;
}
