#include "outputs/GpsdProtocol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "outputs/TextOut.h"

namespace kw_out::gpsd {

namespace {

// The longest device name a WATCH may ask for.
constexpr size_t kMaxDeviceName = 256;

}  // namespace

void appendVersion(std::string* out) {
  out->append(
      "{\"class\":\"VERSION\",\"release\":\"3.22\",\"rev\":\"flowhost\","
      "\"proto_major\":3,\"proto_minor\":14}\r\n");
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
  out->append("}\r\n");
}

void appendDevices(std::string* out, const std::vector<Device>& devices) {
  out->append("{\"class\":\"DEVICES\",\"devices\":[");
  for (size_t i = 0; i < devices.size() && i < kMaxListedDevices; ++i) {
    const Device& d = devices[i];
    if (i > 0) out->push_back(',');
    out->append("{\"class\":\"DEVICE\",\"path\":");
    appendJsonString(out, d.path);
    out->append(",\"driver\":\"flowhost\"");
    if (!d.subtype.empty()) {
      out->append(",\"subtype\":");
      appendJsonString(out, d.subtype.substr(0, 63));
    }
    out->append(",\"activated\":\"");
    appendIsoTime(out, d.activatedSec, d.activatedMs);
    out->append("\",\"flags\":1,\"native\":0}");
  }
  out->append("]}\r\n");
}

void appendWatch(std::string* out, const Policy& p) {
  out->append("{\"class\":\"WATCH\",\"enable\":");
  out->append(p.enable ? "true" : "false");
  out->append(",\"json\":");
  out->append(p.json ? "true" : "false");
  out->append(",\"nmea\":");
  out->append(p.nmea ? "true" : "false");
  out->append(",\"raw\":");
  appendInt(out, p.raw);
  out->append(",\"scaled\":false,\"timing\":false,\"split24\":false,\"pps\":false");
  if (!p.device.empty()) {
    out->append(",\"device\":");
    appendJsonString(out, p.device);
  }
  out->append("}\r\n");
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
  out->append("],\"gst\":[],\"sky\":[]}\r\n");
}

void appendError(std::string* out, std::string_view message) {
  out->append("{\"class\":\"ERROR\",\"message\":");
  appendJsonString(out, message);
  out->append("}\r\n");
}

unsigned nmeaChecksum(std::string_view sentence) {
  unsigned sum = 0;
  for (const char c : sentence) sum ^= static_cast<unsigned char>(c);
  return sum;
}

namespace {

// One sentence: '$', the body, '*', two upper-case hex digits, CR LF.
void appendSentence(std::string* out, const std::string& body) {
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", nmeaChecksum(body));
  out->push_back('$');
  out->append(body);
  out->append(tail);
}

// "ddmm.mmmm,N" (latitude, `degreeDigits` 2) or "dddmm.mmmm,E" (3): the
// minutes rounded to four decimals first, so that 59.99999 carries into
// the degrees instead of being written as 60.0000.
void appendAngle(std::string* out, double value, int degreeDigits, char positive, char negative) {
  const long long tenThousandths = std::llround(std::fabs(value) * 60.0 * 10000.0);
  const long long degrees = tenThousandths / 600000;
  const long long minutes = tenThousandths % 600000;
  char text[32];
  std::snprintf(text, sizeof text, "%0*lld%02lld.%04lld,%c", degreeDigits, degrees, minutes / 10000,
                minutes % 10000, value < 0 ? negative : positive);
  out->append(text);
}

}  // namespace

// The position, then the fields a receiver fills and the feed does not know.
void appendNmea(std::string* out, const NodeUpdate& u) {
  const UtcFields t = utcFields(u.utcSec);
  const int hundredths = std::clamp(u.utcMs, 0, 999) / 10;
  char time[16];
  std::snprintf(time, sizeof time, "%02u%02u%02u.%02d", t.hour, t.minute, t.second, hundredths);
  std::string position;
  appendAngle(&position, u.lat, 2, 'N', 'S');
  position.push_back(',');
  appendAngle(&position, u.lon, 3, 'E', 'W');

  // time, position, quality 1 (a fix), satellites, HDOP, altitude, M,
  // geoid separation, M, age and station of differential data.
  appendSentence(out, std::string("GPGGA,") + time + "," + position + ",1,,,,M,,M,,");
  // time, status A (valid), position, speed, course, date, magnetic
  // variation and its side, mode A (autonomous).
  char date[16];
  std::snprintf(date, sizeof date, "%02u%02u%02u", t.day, t.month,
                static_cast<unsigned>(t.year % 100));
  appendSentence(out, std::string("GPRMC,") + time + ",A," + position + ",,," + date + ",,,A");
}

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// ?WATCH={"enable":true,"json":true,"nmea":false,"raw":0,"device":"node:3"}
// Attributes of other types than these are taken as left out.
void readWatch(std::string_view argument, Command* command) {
  const nlohmann::json arg = nlohmann::json::parse(argument, nullptr, false);
  if (!arg.is_object()) {
    command->valid = false;
    return;
  }
  const auto flag = [&](const char* key) -> std::optional<bool> {
    const auto it = arg.find(key);
    if (it == arg.end() || !it->is_boolean()) return std::nullopt;
    return it->get<bool>();
  };
  command->watchEnable = flag("enable").value_or(true);
  command->watchJson = flag("json");
  command->watchNmea = flag("nmea");
  if (const auto raw = arg.find("raw"); raw != arg.end() && raw->is_number_integer()) {
    command->watchRaw = static_cast<int>(std::clamp<int64_t>(raw->get<int64_t>(), 0, 2));
  }
  if (const auto device = arg.find("device"); device != arg.end() && device->is_string()) {
    const std::string& name = device->get_ref<const std::string&>();
    if (name.size() > kMaxDeviceName) {
      command->valid = false;
      return;
    }
    command->watchDevice = name == kAllUnitsDevice ? "" : name;
  }
}

}  // namespace

void applyWatch(const Command& command, Policy* policy) {
  if (command.watchQuery) return;
  policy->enable = command.watchEnable;
  if (command.watchJson) policy->json = *command.watchJson;
  if (command.watchNmea) policy->nmea = *command.watchNmea;
  if (command.watchRaw) policy->raw = *command.watchRaw;
  if (command.watchDevice) policy->device = *command.watchDevice;
  if (policy->enable && !command.watchJson && !policy->json && !policy->wantsNmea()) {
    policy->json = true;
  }
}

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
      command->watchQuery = t.size() <= 7;
      if (!command->watchQuery) readWatch(t.substr(7), command);
    } else {
      command->kind = Command::Kind::Unknown;
    }
    return true;
  }
}

}  // namespace kw_out::gpsd
