// WebForm: the web view as one of the runner's output forms. Each tick it
// turns the units' updates into the tick's snapshot and delta (WebState),
// keeps the history's frames (WebHistory), hands both to the browsers
// (WebFeed, WebServer) and, while a browser shows the Graph page, paints
// the graph once a second.
//
// Owns the state, the history, the feed, the tiles file and the server.
// The port rows it shows belong to the runner (WebForm::Source), which
// fills them before each report and keeps them while the form lives.
// Thread safety: the runner's thread; the server has threads of its own.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "apps/flowhost/run/NodeTable.h"
#include "apps/flowhost/views/web/MbTiles.h"
#include "apps/flowhost/views/web/WebFeed.h"
#include "apps/flowhost/views/web/WebHistory.h"
#include "apps/flowhost/views/web/WebServer.h"
#include "apps/flowhost/views/web/WebState.h"
#include "outputs/OutputForm.h"

class JGraph;

namespace flowhost {

class WebForm final : public kw_out::OutputForm {
 public:
  // What the runner read, for the page.
  struct Source {
    std::vector<PortRow> ports;  // as last reported
    double seconds = 0.0;        // since the start of the run
    long long ticks = 0;         // rising clock edges so far
  };
  // Where and what to serve.
  struct Options {
    std::string address;  // empty: no web view
    int port = WebServer::kDefaultPort;
    std::string tiles;             // --tiles URL_TEMPLATE or FILE.mbtiles; empty: none
    std::string tilesAttribution;  // shown with tiles from a URL
  };

  // Serves the web view of `graph`; null with the reason when the address
  // cannot be had or the tiles cannot be read.
  static std::unique_ptr<WebForm> open(const JGraph& graph, const Source& source,
                                       const Options& options, std::string* error);
  ~WebForm() override;

  void tick(const kw_out::OutputTick& tick) override;
  void ports(const kw_out::OutputPorts& report) override;
  void sites(const kw_out::SiteReport& report) override;
  // Ends the event streams; the server stops at once, not after the files.
  void close(kw_out::Closing*) override { server_->stop(); }
  void describe(std::string* line) const override;
  // The port the server listens on.
  int webPort() const { return server_->port(); }

 private:
  explicit WebForm(const Source& source) : source_(source) {}

  const Source& source_;
  std::unique_ptr<MbTiles> tiles_;
  WebFeed feed_;
  WebHistory history_;
  std::unique_ptr<WebServer> server_;
  std::unique_ptr<WebState> state_;
  std::chrono::steady_clock::time_point graphPainted_{};
  std::string delta_;
};

}  // namespace flowhost
