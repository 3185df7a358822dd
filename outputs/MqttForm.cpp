// The --mqtt form: the units' retained locations and the ports' counters to
// an MQTT broker (MqttPublisher, on a worker of its own). A unit is
// published again on a health or map change without a new fix, so that its
// retained state stays current.
#include "cli/endpoint.h"
#include "outputs/MqttPublisher.h"
#include "outputs/OutputForm.h"

namespace kw_out {

namespace {

class MqttForm final : public OutputForm {
 public:
  bool open(const OutputOptions& options, std::string* error) {
    std::string host, why;
    int port = 0;
    if (!kw_cli::parseEndpoint(options.mqtt, false, "", MqttPublisher::kDefaultPort, &host, &port,
                               &why)) {
      *error = "--mqtt: " + why;
      return false;
    }
    if (port == 0) {
      *error = "--mqtt: port 0 cannot be connected to";
      return false;
    }
    if (publisher_.start(host, port, options.mqttPrefix)) return true;
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
  }

  void ports(const OutputPorts& report) override {
    for (const PortCounters& p : report.ports) {
      publisher_.publishPort(p, report.tracker.portSilent(p));
    }
  }

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
