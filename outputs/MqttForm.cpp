// The --mqtt form: the units' retained locations, the ports' counters, the
// events and this flowhost's status to an MQTT broker (MqttPublisher, on a
// worker of its own), under this flowhost's site (--site, else the host
// name), logged in with --mqtt-user and the first line of
// --mqtt-password-file, over TLS with --mqtt-tls.
//
// A site's link may be thin: each unit's location goes out at most
// --mqtt-rate times a second. A fix that comes before the unit's turn
// waits (only the latest) and goes out when the turn comes, judged by the
// tick's clock; a health change or a map event of the unit sends its
// location at once, so that its retained state stays current.
#include <algorithm>
#include <chrono>
#include <cmath>

#include "cli/endpoint.h"
#include "outputs/MqttPublisher.h"
#include "outputs/OutputForm.h"
#include "platform/files.h"
#include "platform/process.h"

namespace kw_out {

namespace {

// The settings the options give; false with the reason.
bool settingsOf(const OutputOptions& options, MqttPublisher::Settings* settings,
                std::string* error) {
  const int defaultPort =
      options.mqttTls.empty() ? MqttPublisher::kDefaultPort : MqttPublisher::kDefaultTlsPort;
  std::string why;
  if (!kw_cli::parseEndpoint(options.mqtt, false, "", defaultPort, &settings->host, &settings->port,
                             &why)) {
    *error = "--mqtt: " + why;
    return false;
  }
  if (settings->port == 0) {
    *error = "--mqtt: port 0 cannot be connected to";
    return false;
  }
  settings->prefix = options.mqttPrefix;
  settings->site = options.site;
  if (settings->site.empty()) {
    std::string host;
    if (const kw::Failure failed = kw::hostName(&host)) {
      *error = "--mqtt: cannot name the site after this machine: " + failed.text() +
               "; name it with --site NAME";
      return false;
    }
    if (std::string refused; !validSiteName(host, &refused)) {
      *error =
          "--mqtt: the host name cannot name the site: " + refused + "; name it with --site NAME";
      return false;
    }
    settings->site = host;
  }
  settings->user = options.mqttUser;
  settings->caFile = options.mqttTls;
  return options.mqttPasswordFile.empty() ||
         MqttPublisher::readPasswordFile(options.mqttPasswordFile, &settings->password, error);
}

class MqttForm final : public OutputForm {
 public:
  bool open(const OutputOptions& options, std::string* error) {
    if (!std::isfinite(options.mqttRate) || options.mqttRate < OutputOptions::kMinMqttRate ||
        options.mqttRate > OutputOptions::kMaxMqttRate) {
      *error = "--mqtt-rate: " + std::to_string(options.mqttRate) + " is out of range";
      return false;
    }
    interval_ = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / options.mqttRate));
    slack_ = std::min<Clock::duration>(interval_ / 10, kMaxSlack);
    MqttPublisher::Settings settings;
    if (!settingsOf(options, &settings, error)) return false;
    if (publisher_.start(settings)) return true;
    *error = "--mqtt: " + publisher_.error();
    return false;
  }

  void tick(const OutputTick& tick) override {
    turns_.resize(tick.nodes.size());
    markUnitEvents(tick.events, tick.nodes.size());
    size_t k = 0;
    for (size_t i = 0; i < tick.nodes.size(); ++i) {
      const NodeUpdate& unit = tick.nodes[i];
      Turn& turn = turns_[i];
      if (turn.node != unit.node || turn.fleet != unit.fleet) turn = Turn{unit.fleet, unit.node};
      const bool fresh = k < tick.fresh.size() && tick.fresh[k] == i;
      if (fresh) {
        ++k;
        turn.waiting = true;
      }
      // A tick a moment early (its clock jitters) still counts as the turn:
      // else a unit heard exactly N times a second would wait a tick each time.
      const bool turnCame = tick.now >= turn.due - slack_;
      if (eventRows_[i] || (turn.waiting && turnCame)) {
        publisher_.publishNode(unit);
        turn.waiting = false;
        // On its turn the next one is a period later, however late or early
        // the tick came (N a second in the long run); out of turn (or after
        // a quiet spell) a period from now.
        const bool onTurn = turnCame && tick.now - turn.due < interval_;
        turn.due = (onTurn ? turn.due : tick.now) + interval_;
      }
    }
    for (const Event& e : tick.events) {
      if (e.row < tick.nodes.size())
        publisher_.publishEvent(e, &tick.nodes[e.row], tick.utcSec, tick.utcMs);
    }
  }

  void ports(const OutputPorts& report) override {
    for (const PortCounters& p : report.ports) {
      publisher_.publishPort(p, report.tracker.portSilent(p));
    }
    for (const Event& e : report.events) {
      publisher_.publishEvent(e, nullptr, report.utcSec, report.utcMs);
    }
  }

  void close(Closing*) override { publisher_.stop(); }

  void describe(std::string* line) const override {
    const MqttPublisher::Stats s = publisher_.stats();
    *line += std::string(" mqtt ") + (s.connected ? "connected" : "not connected") + ", dropped " +
             std::to_string(s.dropped);
    if (!s.connected && !s.lastError.empty()) *line += " (" + s.lastError + ")";
    *line += ";";
  }

  void addStats(OutputStats* stats) const override {
    const MqttPublisher::Stats s = publisher_.stats();
    stats->mqttConnected = s.connected;
    stats->mqttDropped = s.dropped;
    stats->mqttError = s.lastError;
  }

  void takeStateChanges(std::vector<OutputStateChange>* changes) override {
    publisher_.takeStateChanges(changes);
  }

 private:
  using Clock = std::chrono::steady_clock;

  // A unit's turn: when its location may go out next and whether a fix
  // newer than the last one sent waits. Kept by row; a row that comes to
  // hold another unit starts afresh.
  struct Turn {
    std::string fleet;
    int node = -1;
    Clock::time_point due{};
    bool waiting = false;
  };

  // Marks in eventRows_ the rows of the units an event of this tick is
  // about (health, map entry or departure).
  void markUnitEvents(const std::vector<Event>& events, size_t rows) {
    eventRows_.assign(rows, false);
    for (const Event& e : events) {
      if (e.row < rows && e.kind != Event::Kind::PortSilent && e.kind != Event::Kind::PortBack) {
        eventRows_[e.row] = true;
      }
    }
  }

  MqttPublisher publisher_;
  // How early a tick may come and still count as a unit's turn.
  static constexpr auto kMaxSlack = std::chrono::milliseconds(50);
  Clock::duration interval_{};
  Clock::duration slack_{};
  std::vector<Turn> turns_;
  std::vector<bool> eventRows_;
};

}  // namespace

std::unique_ptr<OutputForm> makeMqtt(const OutputOptions& options, OutputShared&,
                                     std::string* error) {
  if (options.mqtt.empty()) return nullptr;
  auto form = std::make_unique<MqttForm>();
  if (!form->open(options, error)) return nullptr;
  return form;
}

}  // namespace kw_out
