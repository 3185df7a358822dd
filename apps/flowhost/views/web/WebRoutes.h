// WebRoutes: what the web view answers, one request at a time, with
// cpp-httplib reading the request and writing the response. The web
// server (WebServer) reads a request's bytes off the network itself, on
// its poll loop and within its limits, and hands the complete request
// here; the library then parses it from memory and writes the response to
// memory, so that answering never waits on the network.
//
// The addresses:
//   /                        the page ("Map", "Units", "Graph")
//   /assets/...              its script, style sheet and basemap, Leaflet
//   /state                   the newest state (WebSnapshot::stateJson)
//   /rows                    every unit's full row, for the Units page
//   /unit?i=N                one unit's row, for its details
//   /graph                   the blocks' faces and links, painted on request
//   /history, /history?t=T   the kept frames' span, and one frame
//   /tiles/Z/X/Y             a tile of the --tiles MBTiles file
//   /events                  the server-sent events: a state, then deltas
// Every answer carries a Content-Security-Policy that lets the page run
// only its own scripts and style sheets and fetch only from this server
// (and the --tiles server, when one is named). Requests with a body larger
// than bodyLimit are refused (413) without reading it.
//
// Owns nothing but the library's routing table; the feed, history and
// tiles belong to the caller and outlive it.
// Thread safety: answer() from any number of threads at once.
#pragma once

#include <httplib.h>

#include <cstdint>
#include <string>

namespace flowhost {

class MbTiles;
class WebFeed;
class WebHistory;

class WebRoutes : private httplib::Server {
 public:
  struct Settings {
    std::string tileUrl;          // --tiles URL_TEMPLATE; empty: none
    std::string tileAttribution;  // shown with the tiles
    MbTiles* tiles = nullptr;     // --tiles FILE.mbtiles; null: none
    size_t bodyLimit = 4096;
  };

  // The answer to one request.
  struct Answer {
    std::string bytes;       // the response as sent
    size_t consumed = 0;     // bytes of the input the request took
    bool close = false;      // end the connection after the response
    bool stream = false;     // the response opens the event stream
    uint64_t streamSeq = 0;  // the snapshot the stream's first state showed
  };
  struct Peer {
    std::string address;
    int port = 0;
  };

  WebRoutes(WebFeed& feed, WebHistory& history, const Settings& settings);

  // Answers the request at the start of `input` (its line and headers, and
  // whatever of its body arrived).
  Answer answer(const std::string& input, const Peer& peer);

  // The constant settings the page reads (its "site" object): the tiles
  // and their attribution, the basemap's address.
  std::string siteJson() const;

  // "http://host:port" of a tile URL template ("" when it names none), for
  // the Content-Security-Policy.
  static std::string originOf(const std::string& url);
  // True when `url` may be used as a tile template: http(s), with {z}, {x}
  // and {y}, and nothing that could break out of a header or a string.
  static bool validTileUrl(const std::string& url, std::string* why);

 private:
  class MemoryStream;

  void route();
  void servePage(const httplib::Request& req, httplib::Response& res);
  void serveAsset(const httplib::Request& req, httplib::Response& res);
  void serveTile(const httplib::Request& req, httplib::Response& res);
  void serveEvents(const httplib::Request& req, httplib::Response& res);
  void setSecurityHeaders(httplib::Response& res) const;

  WebFeed& feed_;
  WebHistory& history_;
  Settings settings_;
  std::string policy_;  // the Content-Security-Policy
};

}  // namespace flowhost
