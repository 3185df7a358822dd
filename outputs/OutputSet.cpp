#include "outputs/OutputSet.h"

#include <signal.h>

#include <charconv>

#include "outputs/FileWriter.h"
#include "outputs/GpsdServer.h"
#include "outputs/JsonLines.h"
#include "outputs/LineStream.h"
#include "outputs/MqttPublisher.h"
#include "outputs/TrackStore.h"

namespace kw_out {

namespace {

std::pair<int64_t, int> wallNow() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  return {ms / 1000, static_cast<int>(ms % 1000)};
}

bool parsePort(const std::string& text, int* port) {
  int value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || value < 0 || value > 65535)
    return false;
  *port = value;
  return true;
}

}  // namespace

bool parseEndpoint(const std::string& text, bool portRequired, const std::string& defaultHost,
                   int defaultPort, std::string* host, int* port, std::string* error) {
  const size_t colon = text.rfind(':');
  std::string hostPart;
  std::string portPart;
  if (colon != std::string::npos) {
    hostPart = text.substr(0, colon);
    portPart = text.substr(colon + 1);
    if (hostPart.empty()) {
      *error = "no host before ':' in '" + text + "'";
      return false;
    }
  } else if (portRequired) {
    portPart = text;
  } else {
    hostPart = text;
  }
  if (!portRequired && hostPart.empty()) {
    *error = "no host in '" + text + "'";
    return false;
  }
  int value = defaultPort;
  if (portRequired || colon != std::string::npos) {
    if (!parsePort(portPart, &value)) {
      *error = "not a port number (0..65535): '" + portPart + "'";
      return false;
    }
  }
  *host = hostPart.empty() ? defaultHost : hostPart;
  *port = value;
  return true;
}

OutputSet::OutputSet() = default;

OutputSet::~OutputSet() { close(); }

bool OutputSet::open(const OutputOptions& options) {
  close();
  closed_.clear();
  options_ = options;
  tracker_ = ChangeTracker(options.portSilentAfter);
  const auto fail = [this](const std::string& why) {
    error_ = why;
    close();
    return false;
  };
  if (!options.json.empty()) {
    ::signal(SIGPIPE, SIG_IGN);
    json_ = std::make_unique<LineStream>();
    if (!json_->open(options.json)) return fail("--json: " + json_->error());
  }
  if (!options.gpsd.empty()) {
    std::string host, why;
    int port = 0;
    if (!parseEndpoint(options.gpsd, true, "127.0.0.1", 2947, &host, &port, &why))
      return fail("--gpsd: " + why);
    gpsd_ = std::make_unique<GpsdServer>();
    if (!gpsd_->start(host, port)) return fail("--gpsd: " + gpsd_->error());
  }
  if (!options.mqtt.empty()) {
    std::string host, why;
    int port = 0;
    if (!parseEndpoint(options.mqtt, false, "", 1883, &host, &port, &why))
      return fail("--mqtt: " + why);
    if (port == 0) return fail("--mqtt: port 0 cannot be connected to");
    mqtt_ = std::make_unique<MqttPublisher>();
    if (!mqtt_->start(host, port, options.mqttPrefix)) return fail("--mqtt: " + mqtt_->error());
  }
  if (!options.gpx.empty() || !options.geojson.empty()) {
    tracks_ = std::make_unique<TrackStore>(options.trackPoints);
    files_ = std::make_unique<FileWriter>();
    lastFileWrite_ = std::chrono::steady_clock::now();
  }
  return true;
}

void OutputSet::tick(const std::vector<NodeUpdate>& nodes) {
  tick(nodes, std::chrono::steady_clock::now());
}

void OutputSet::tick(const std::vector<NodeUpdate>& nodes, std::chrono::steady_clock::time_point now) {
  fresh_.clear();
  events_.clear();
  tracker_.nodes(nodes, &fresh_, &events_);
  text_.clear();
  for (const size_t i : fresh_) {
    const NodeUpdate& u = nodes[i];
    if (json_) appendNodeLine(&text_, u);
    if (gpsd_) gpsd_->publish(u);
    if (tracks_) tracks_->add(u);
  }
  // MQTT also hears of health and map changes without a new fix, so that
  // the retained state of every unit stays current.
  if (mqtt_) {
    size_t k = 0;
    for (size_t i = 0; i < nodes.size(); ++i) {
      const bool isFresh = k < fresh_.size() && fresh_[k] == i;
      if (isFresh) ++k;
      bool changed = isFresh;
      for (const Event& e : events_)
        if (e.node == nodes[i].node && e.kind != Event::Kind::PortSilent && e.kind != Event::Kind::PortBack)
          changed = true;
      if (changed) mqtt_->publishNode(nodes[i]);
    }
  }
  if (json_) {
    if (!events_.empty()) {
      const auto [sec, ms] = wallNow();
      for (const Event& e : events_) appendEventLine(&text_, e, sec, ms);
    }
    json_->write(text_);
  }
  if (tracks_ && tracks_->changed() && now - lastFileWrite_ >= options_.fileInterval) {
    lastFileWrite_ = now;
    writeFiles();
  }
}

void OutputSet::counters(const std::vector<PortCounters>& ports) {
  counters(ports, std::chrono::steady_clock::now());
}

void OutputSet::counters(const std::vector<PortCounters>& ports,
                         std::chrono::steady_clock::time_point now) {
  events_.clear();
  tracker_.ports(ports, now, &events_);
  const auto [sec, ms] = wallNow();
  if (json_) {
    text_.clear();
    for (const Event& e : events_) appendEventLine(&text_, e, sec, ms);
    for (const PortCounters& p : ports) appendPortLine(&text_, p, tracker_.portSilent(p.port), sec, ms);
    json_->write(text_);
  }
  if (mqtt_)
    for (const PortCounters& p : ports) mqtt_->publishPort(p, tracker_.portSilent(p.port));
}

void OutputSet::writeFiles() {
  if (!tracks_ || !files_) return;
  if (!options_.gpx.empty()) {
    std::string gpx;
    tracks_->appendGpx(&gpx);
    files_->submit(options_.gpx, std::move(gpx));
  }
  if (!options_.geojson.empty()) {
    std::string geojson;
    tracks_->appendGeoJson(&geojson);
    files_->submit(options_.geojson, std::move(geojson));
  }
  tracks_->clearChanged();
}

void OutputSet::close() {
  if (tracks_ && files_) {
    writeFiles();
    files_->drain();
  }
  if (json_ || gpsd_ || mqtt_ || files_) closed_ = describe();
  files_.reset();
  tracks_.reset();
  gpsd_.reset();
  mqtt_.reset();
  json_.reset();
}

int OutputSet::gpsdPort() const { return gpsd_ ? gpsd_->port() : 0; }

OutputSet::Stats OutputSet::stats() const {
  Stats s;
  if (json_) {
    s.jsonDroppedLines = json_->droppedLines();
    s.jsonError = json_->error();
  }
  if (gpsd_) {
    const GpsdServer::Stats g = gpsd_->stats();
    s.gpsdClients = g.clients;
    s.gpsdDroppedLines = g.droppedLines + g.inboxDropped;
    s.gpsdClosedClients = g.refused + g.closedLongInput;
  }
  if (mqtt_) {
    const MqttPublisher::Stats m = mqtt_->stats();
    s.mqttConnected = m.connected;
    s.mqttDropped = m.dropped;
    s.mqttError = m.lastError;
  }
  if (files_) {
    s.filesWritten = files_->written();
    s.fileError = files_->lastError();
  }
  return s;
}

std::string OutputSet::describe() const {
  if (!json_ && !gpsd_ && !mqtt_ && !files_ && !closed_.empty()) return closed_;
  const Stats s = stats();
  std::string line = "outputs:";
  if (json_) {
    line += " json dropped " + std::to_string(s.jsonDroppedLines);
    if (!s.jsonError.empty()) line += " (" + s.jsonError + ")";
    line += ";";
  }
  if (gpsd_)
    line += " gpsd " + std::to_string(s.gpsdClients) + " clients, dropped " +
            std::to_string(s.gpsdDroppedLines) + ", closed " + std::to_string(s.gpsdClosedClients) + ";";
  if (mqtt_) {
    line += std::string(" mqtt ") + (s.mqttConnected ? "connected" : "not connected") + ", dropped " +
            std::to_string(s.mqttDropped);
    if (!s.mqttConnected && !s.mqttError.empty()) line += " (" + s.mqttError + ")";
    line += ";";
  }
  if (files_) {
    line += " files written " + std::to_string(s.filesWritten);
    if (!s.fileError.empty()) line += " (" + s.fileError + ")";
    line += ";";
  }
  if (line.back() == ';') line.pop_back();
  return line;
}

}  // namespace kw_out
