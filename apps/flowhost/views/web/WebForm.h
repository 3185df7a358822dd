// WebForm: the web view as one of the runner's output forms. Each tick it
// takes the state (WebState) of the node table's rows as the runner read
// them for that tick, and the ports as last reported, and publishes it to
// the browsers (WebServer).
//
// Owns the web state and the server. The rows and ports it shows belong to
// the runner (WebForm::Source), which fills them before each tick and keeps
// them while the form lives. Thread safety: the runner's thread; the server
// has threads of its own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "apps/flowhost/run/NodeTable.h"
#include "apps/flowhost/views/web/WebServer.h"
#include "apps/flowhost/views/web/WebState.h"
#include "outputs/OutputForm.h"

class JGraph;

namespace flowhost {

class WebForm final : public kw_out::OutputForm {
 public:
  // What the runner read this tick, for the page.
  struct Source {
    std::vector<NodeRow> rows;
    std::vector<PortRow> ports;  // as last reported
    double seconds = 0.0;        // since the start of the run
    long long ticks = 0;         // rising clock edges so far
  };

  // Serves the web view of `graph` on `address`:`port`; null with the
  // reason when the address cannot be had.
  static std::unique_ptr<WebForm> open(const JGraph& graph, const Source& source,
                                       const std::string& address, int port, std::string* error);

  void tick(const kw_out::OutputTick& tick) override;
  // Ends the event streams; the server stops at once, not after the files.
  void close(kw_out::Closing*) override { server_.stop(); }
  // The port the server listens on.
  int webPort() const { return server_.port(); }

 private:
  WebForm(const JGraph& graph, const Source& source) : state_(graph), source_(source) {}

  WebState state_;
  WebServer server_;
  const Source& source_;
};

}  // namespace flowhost
