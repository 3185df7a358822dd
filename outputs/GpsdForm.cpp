// The --gpsd form: every new fix to the gpsd-protocol server's watching
// clients (GpsdServer, on a worker of its own), on 127.0.0.1:2947 unless
// the endpoint says otherwise.
#include "cli/endpoint.h"
#include "outputs/GpsdServer.h"
#include "outputs/OutputForm.h"

namespace kw_out {

namespace {

constexpr const char* kDefaultAddress = "127.0.0.1";

class GpsdForm final : public OutputForm {
 public:
  bool open(const std::string& endpoint, std::string* error) {
    std::string host, why;
    int port = 0;
    if (!kw_cli::parseEndpoint(endpoint, true, kDefaultAddress, GpsdServer::kDefaultPort, &host,
                               &port, &why)) {
      *error = "--gpsd: " + why;
      return false;
    }
    if (server_.start(host, port)) return true;
    *error = "--gpsd: " + server_.error();
    return false;
  }

  void tick(const OutputTick& tick) override {
    for (const size_t i : tick.fresh) server_.publish(tick.nodes[i]);
  }

  void describe(std::string* line) const override {
    OutputStats s;
    addStats(&s);
    *line += " gpsd " + std::to_string(s.gpsdClients) + " clients, dropped " +
             std::to_string(s.gpsdDroppedLines) + ", closed " +
             std::to_string(s.gpsdClosedClients) + ";";
  }

  void addStats(OutputStats* stats) const override {
    const GpsdServer::Stats g = server_.stats();
    stats->gpsdClients = g.clients;
    stats->gpsdDroppedLines = g.droppedLines + g.inboxDropped;
    stats->gpsdClosedClients = g.refused + g.closedLongInput + g.closedIdle;
  }

  int listeningPort() const override { return server_.port(); }

 private:
  GpsdServer server_;
};

}  // namespace

std::unique_ptr<OutputForm> makeGpsd(const OutputOptions& options, OutputShared&,
                                     std::string* error) {
  if (options.gpsd.empty()) return nullptr;
  auto form = std::make_unique<GpsdForm>();
  if (!form->open(options.gpsd, error)) return nullptr;
  return form;
}

}  // namespace kw_out
