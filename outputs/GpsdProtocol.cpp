#include "outputs/GpsdProtocol.h"

#include <nlohmann/json.hpp>

#include "outputs/TextOut.h"

namespace kw_out::gpsd {

void appendVersion(std::string* out) {
  out->append(
      "{\"class\":\"VERSION\",\"release\":\"3.22\",\"rev\":\"flowhost\","
      "\"proto_major\":3,\"proto_minor\":14}\n");
}

void appendTpv(std::string* out, const NodeUpdate& u) {
  out->append("{\"class\":\"TPV\",\"device\":");
  appendJsonString(out, unitDevice(unitId(u)));
  out->append(",\"mode\":2,\"time\":\"");
  appendIsoTime(out, u.utcSec, u.utcMs);
  out->append("\",\"lat\":");
  appendFixed(out, u.lat, 9);
  out->append(",\"lon\":");
  appendFixed(out, u.lon, 9);
  out->append("}\n");
}

void appendDevices(std::string* out, const std::vector<Device>& devices) {
  out->append("{\"class\":\"DEVICES\",\"devices\":[");
  bool first = true;
  for (const Device& d : devices) {
    if (!first) out->push_back(',');
    first = false;
    out->append("{\"class\":\"DEVICE\",\"path\":");
    appendJsonString(out, d.path);
    out->append(",\"driver\":\"flowhost\",\"activated\":\"");
    appendIsoTime(out, d.activatedSec, d.activatedMs);
    out->append("\",\"flags\":1,\"native\":0}");
  }
  out->append("]}\n");
}

void appendWatch(std::string* out, bool enable, bool json) {
  out->append("{\"class\":\"WATCH\",\"enable\":");
  out->append(enable ? "true" : "false");
  out->append(",\"json\":");
  out->append(json ? "true" : "false");
  out->append(
      ",\"nmea\":false,\"raw\":0,\"scaled\":false,\"timing\":false,\"split24\":false,"
      "\"pps\":false}\n");
}

void appendPoll(std::string* out, int64_t utcSec, int utcMs, const std::vector<std::string>& tpvs) {
  out->append("{\"class\":\"POLL\",\"time\":\"");
  appendIsoTime(out, utcSec, utcMs);
  out->append("\",\"active\":");
  appendInt(out, static_cast<int64_t>(tpvs.size()));
  out->append(",\"tpv\":[");
  for (size_t i = 0; i < tpvs.size(); ++i) {
    if (i > 0) out->push_back(',');
    out->append(tpvs[i]);
  }
  out->append("],\"gst\":[],\"sky\":[]}\n");
}

void appendError(std::string* out, std::string_view message) {
  out->append("{\"class\":\"ERROR\",\"message\":");
  appendJsonString(out, message);
  out->append("}\n");
}

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

bool takeCommand(std::string* buffer, Command* command) {
  for (;;) {
    size_t start = 0;
    while (start < buffer->size() &&
           ((*buffer)[start] == ' ' || (*buffer)[start] == '\r' || (*buffer)[start] == '\n' ||
            (*buffer)[start] == '\t' || (*buffer)[start] == ';'))
      ++start;
    buffer->erase(0, start);
    const size_t end = buffer->find_first_of(";\n");
    if (end == std::string::npos) return false;
    std::string text = buffer->substr(0, end);
    buffer->erase(0, end + 1);
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
    if (text.empty()) continue;

    *command = Command{};
    command->text = text;
    std::string_view t = text;
    if (t == "?VERSION") {
      command->kind = Command::Kind::Version;
    } else if (t == "?DEVICES") {
      command->kind = Command::Kind::Devices;
    } else if (t == "?POLL") {
      command->kind = Command::Kind::Poll;
    } else if (startsWith(t, "?DEVICE") && (t.size() == 7 || t[7] == '=')) {
      command->kind = Command::Kind::Device;
    } else if (startsWith(t, "?WATCH") && (t.size() == 6 || t[6] == '=')) {
      command->kind = Command::Kind::Watch;
      if (t.size() > 7) {
        const nlohmann::json arg = nlohmann::json::parse(t.substr(7), nullptr, false);
        if (!arg.is_object()) {
          command->valid = false;
        } else {
          const auto flag = [&](const char* key, bool fallback) {
            const auto it = arg.find(key);
            return it != arg.end() && it->is_boolean() ? it->get<bool>() : fallback;
          };
          command->watchEnable = flag("enable", true);
          command->watchJson = flag("json", command->watchEnable);
        }
      }
    } else {
      command->kind = Command::Kind::Unknown;
    }
    return true;
  }
}

}  // namespace kw_out::gpsd
