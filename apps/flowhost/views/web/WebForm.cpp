#include "apps/flowhost/views/web/WebForm.h"

namespace flowhost {

namespace {

constexpr auto kGraphRepaint = std::chrono::seconds(1);

bool isUrl(const std::string& text) {
  return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
}

}  // namespace

std::unique_ptr<WebForm> WebForm::open(const JGraph& graph, const Source& source,
                                       const Options& options, std::string* error) {
  std::unique_ptr<WebForm> form(new WebForm(source));
  WebRoutes::Settings settings;
  if (isUrl(options.tiles)) {
    std::string why;
    if (!WebRoutes::validTileUrl(options.tiles, &why)) {
      *error = "--tiles " + options.tiles + ": " + why;
      return nullptr;
    }
    settings.tileUrl = options.tiles;
    settings.tileAttribution = options.tilesAttribution;
  } else if (!options.tiles.empty()) {
    form->tiles_ = MbTiles::open(options.tiles, error);
    if (form->tiles_ == nullptr) return nullptr;
    settings.tiles = form->tiles_.get();
  }
  form->server_ = std::make_unique<WebServer>(form->feed_, form->history_, settings);
  form->state_ = std::make_unique<WebState>(graph, form->server_->siteJson());
  if (!form->server_->start(options.address, options.port, error)) return nullptr;
  return form;
}

WebForm::~WebForm() {
  if (server_) server_->stop();
}

void WebForm::tick(const kw_out::OutputTick& tick) {
  auto snapshot = state_->tick(tick, source_.seconds, source_.ticks, &delta_);
  history_.add(*snapshot);
  feed_.publish(std::move(snapshot), delta_);
  server_->notify();
  if (feed_.graphWanted(tick.now) && tick.now - graphPainted_ >= kGraphRepaint) {
    feed_.setGraph(state_->graphJson());
    graphPainted_ = tick.now;
  }
}

void WebForm::ports(const kw_out::OutputPorts& report) { state_->ports(source_.ports, report); }

void WebForm::sites(const kw_out::SiteReport& report) { state_->sites(report); }

void WebForm::describe(std::string* line) const {
  const WebServer::Stats s = server_->stats();
  *line += " web " + std::to_string(s.streams) + " browsers, dropped " +
           std::to_string(s.droppedEvents) + ";";
}

}  // namespace flowhost
