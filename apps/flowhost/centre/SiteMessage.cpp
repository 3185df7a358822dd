#include "apps/flowhost/centre/SiteMessage.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "outputs/NodeUpdate.h"
#include "platform/calendar.h"

namespace flowhost {

namespace {

using Json = nlohmann::json;

bool digits(std::string_view text, size_t at, size_t count, unsigned* value) {
  if (at + count > text.size()) return false;
  *value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

// Reads one message's fields; each take*() false with the reason in `why`.
class Fields {
 public:
  explicit Fields(const Json& object) : object_(object) {}

  const std::string& why() const { return why_; }

  bool text(const char* key, size_t most, bool required, std::string* out) {
    const auto it = object_.find(key);
    if (it == object_.end()) return !required || refuse(std::string("no \"") + key + "\"");
    if (!it->is_string()) return refuse(std::string("\"") + key + "\" is not a text");
    const std::string& value = it->get_ref<const std::string&>();
    if (value.size() > most) {
      return refuse(std::string("\"") + key + "\" is longer than " + std::to_string(most) +
                    " characters");
    }
    *out = value;
    return true;
  }

  bool real(const char* key, double least, double most, bool required, double* out) {
    const auto it = object_.find(key);
    if (it == object_.end()) return !required || refuse(std::string("no \"") + key + "\"");
    if (!it->is_number()) return refuse(std::string("\"") + key + "\" is not a number");
    const double value = it->get<double>();
    if (!std::isfinite(value) || value < least || value > most) {
      return refuse(std::string("\"") + key + "\" is out of range");
    }
    *out = value;
    return true;
  }

  bool integer(const char* key, int64_t least, int64_t most, bool required, int64_t* out) {
    const auto it = object_.find(key);
    if (it == object_.end()) return !required || refuse(std::string("no \"") + key + "\"");
    if (!it->is_number_integer()) return refuse(std::string("\"") + key + "\" is not an integer");
    const bool fits = it->is_number_unsigned()
                          ? it->get<uint64_t>() <= static_cast<uint64_t>(most)
                          : it->get<int64_t>() >= least && it->get<int64_t>() <= most;
    if (!fits) return refuse(std::string("\"") + key + "\" is out of range");
    *out = it->get<int64_t>();
    return true;
  }

  bool count(const char* key, uint64_t* out) {
    int64_t value = 0;
    if (!integer(key, 0, std::numeric_limits<int64_t>::max(), false, &value)) return false;
    *out = static_cast<uint64_t>(value);
    return true;
  }

  bool flag(const char* key, bool* out, bool* given = nullptr) {
    const auto it = object_.find(key);
    if (given != nullptr) *given = it != object_.end();
    if (it == object_.end()) return true;
    if (!it->is_boolean()) return refuse(std::string("\"") + key + "\" is not true or false");
    *out = it->get<bool>();
    return true;
  }

  bool time(const char* key, bool required, std::optional<int64_t>* ms) {
    std::string text;
    if (!this->text(key, 40, required, &text)) return false;
    if (text.empty() && !required) return true;
    int64_t value = 0;
    if (!parseIsoTimeMs(text, &value)) return refuse(std::string("\"") + key + "\" is not a time");
    *ms = value;
    return true;
  }

  bool site(std::string* out) {
    if (!text("site", kw_out::kMaxSiteName, true, out)) return false;
    std::string reason;
    return kw_out::validSiteName(*out, &reason) || refuse(reason);
  }

  bool fleet(std::string* out) {
    if (!text("fleet", kw_out::kMaxFleetName, false, out)) return false;
    std::string reason;
    return out->empty() || kw_out::validFleetName(*out, &reason) || refuse(reason);
  }

 private:
  bool refuse(const std::string& why) {
    why_ = why;
    return false;
  }

  const Json& object_;
  std::string why_;
};

bool readUnit(Fields& f, SiteMessage* m) {
  SiteMessage::Unit& u = m->unit;
  int64_t node = 0, health = 0, x = 0, y = 0;
  std::optional<int64_t> fixMs;
  bool mapGiven = false;
  constexpr int64_t kMaxInt = std::numeric_limits<int>::max();
  if (!f.site(&m->site) || !f.fleet(&u.fleet) ||
      !f.integer("node", std::numeric_limits<int>::min(), kMaxInt, true, &node) ||
      !f.text("name", SiteMessage::kMaxText, false, &u.name) ||
      !f.text("feed", SiteMessage::kMaxText, false, &u.feed) ||
      !f.real("lat", -90.0, 90.0, true, &u.lat) || !f.real("lon", -180.0, 180.0, true, &u.lon) ||
      !f.time("time", true, &fixMs) || !f.time("sent", false, &m->sentMs) ||
      !f.real("idle", 0.0, 1e9, false, &u.idle) || !f.integer("health", 0, 2, false, &health) ||
      !f.flag("in_map", &u.inMap, &mapGiven) || !f.integer("x", -kMaxInt, kMaxInt, false, &x) ||
      !f.integer("y", -kMaxInt, kMaxInt, false, &y)) {
    return false;
  }
  u.node = static_cast<int>(node);
  u.fixSec = *fixMs / 1000 - (*fixMs % 1000 < 0);
  u.fixMs = static_cast<int>(*fixMs - u.fixSec * 1000);
  u.health = static_cast<int>(health);
  u.hasMap = mapGiven;
  u.x = static_cast<int>(x);
  u.y = static_cast<int>(y);
  return true;
}

bool readPort(Fields& f, SiteMessage* m) {
  SiteMessage::Port& p = m->port;
  return f.site(&m->site) && f.fleet(&p.fleet) &&
         f.text("port", SiteMessage::kMaxText, true, &p.name) &&
         f.time("time", false, &m->sentMs) && f.count("taken", &p.taken) &&
         f.count("dropped_full", &p.droppedFull) && f.count("rejected", &p.rejected) &&
         f.count("unknown_node", &p.unknownNode) && f.count("older", &p.older) &&
         f.flag("silent", &p.silent) && f.text("failure", SiteMessage::kMaxText, false, &p.failure);
}

bool readStatus(Fields& f, SiteMessage* m) {
  std::string state;
  if (!f.site(&m->site) || !f.text("state", 16, true, &state) ||
      !f.text("reason", SiteMessage::kMaxText, false, &m->status.reason) ||
      !f.time("time", false, &m->sentMs)) {
    return false;
  }
  if (state != "online" && state != "offline") {
    m->refusal = "\"state\" is neither online nor offline";
    return false;
  }
  m->status.online = state == "online";
  return true;
}

}  // namespace

bool parseIsoTimeMs(std::string_view t, int64_t* ms) {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milli = 0;
  if (!digits(t, 0, 4, &year) || t.size() < 20 || t[4] != '-' || !digits(t, 5, 2, &month) ||
      t[7] != '-' || !digits(t, 8, 2, &day) || t[10] != 'T' || !digits(t, 11, 2, &hour) ||
      t[13] != ':' || !digits(t, 14, 2, &minute) || t[16] != ':' || !digits(t, 17, 2, &second)) {
    return false;
  }
  size_t at = 19;
  if (t[at] == '.') {
    if (!digits(t, at + 1, 3, &milli)) return false;
    at += 4;
  }
  if (at + 1 != t.size() || t[at] != 'Z') return false;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  tm calendar{};
  calendar.tm_year = static_cast<int>(year) - 1900;
  calendar.tm_mon = static_cast<int>(month) - 1;
  calendar.tm_mday = static_cast<int>(day);
  calendar.tm_hour = static_cast<int>(hour);
  calendar.tm_min = static_cast<int>(minute);
  calendar.tm_sec = static_cast<int>(second);
  *ms = static_cast<int64_t>(kw::utcSecondsOf(&calendar)) * 1000 + milli;
  return true;
}

SiteMessage SiteMessage::read(std::string_view payload) {
  SiteMessage m;
  // A site's messages are JSON objects; anything else on the broker is not ours.
  const size_t first = payload.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos || payload[first] != '{') return m;
  if (payload.size() > kMaxPayload) {
    m.kind = Kind::Refused;
    m.refusal = "longer than " + std::to_string(kMaxPayload) + " bytes";
    return m;
  }
  const Json object = Json::parse(payload, nullptr, false);
  if (object.is_discarded() || !object.is_object()) {
    m.kind = Kind::Refused;
    m.refusal = "not a JSON object";
    return m;
  }
  const auto type = object.find("_type");
  const auto cls = object.find("class");
  const auto is = [](Json::const_iterator it, const Json& o, const char* word) {
    return it != o.end() && it->is_string() && it->get_ref<const std::string&>() == word;
  };
  Fields fields(object);
  bool read = false;
  if (is(type, object, "location")) {
    m.kind = Kind::Location;
    read = readUnit(fields, &m);
  } else if (is(cls, object, "PORT")) {
    m.kind = Kind::Port;
    read = readPort(fields, &m);
  } else if (is(cls, object, "STATUS")) {
    m.kind = Kind::Status;
    read = readStatus(fields, &m);
  } else {
    return m;  // an event, or someone else's message
  }
  if (!read) {
    if (m.refusal.empty()) m.refusal = fields.why();
    m.kind = Kind::Refused;
  }
  return m;
}

}  // namespace flowhost
