// The --mqtt form: the units' retained locations, the ports' counters, the
// events and this flowhost's status to an MQTT broker (MqttPublisher, on a
// worker of its own), logged in with --mqtt-user and the first line of
// --mqtt-password-file, over TLS with --mqtt-tls. A unit is published
// again on a health or map change without a new fix, so that its retained
// state stays current.
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
  if (settings->site.empty() && kw::hostName(&settings->site)) settings->site = "flowhost";
  settings->user = options.mqttUser;
  settings->caFile = options.mqttTls;
  return options.mqttPasswordFile.empty() ||
         MqttPublisher::readPasswordFile(options.mqttPasswordFile, &settings->password, error);
}

class MqttForm final : public OutputForm {
 public:
  bool open(const OutputOptions& options, std::string* error) {
    MqttPublisher::Settings settings;
    if (!settingsOf(options, &settings, error)) return false;
    if (publisher_.start(settings)) return true;
    *error = "--mqtt: " + publisher_.error();
    return false;
  }

  void tick(const OutputTick& tick) override {
    size_t k = 0;
    for (size_t i = 0; i < tick.nodes.size(); ++i) {
      const bool fresh = k < tick.fresh.size() && tick.fresh[k] == i;
      if (fresh) ++k;
      if (fresh || changedWithoutFix(tick.events, i)) {
        publisher_.publishNode(tick.nodes[i]);
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
  // True when an event of this tick is about the unit at `row`.
  static bool changedWithoutFix(const std::vector<Event>& events, size_t row) {
    for (const Event& e : events) {
      if (e.row == row && e.kind != Event::Kind::PortSilent && e.kind != Event::Kind::PortBack) {
        return true;
      }
    }
    return false;
  }

  MqttPublisher publisher_;
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
