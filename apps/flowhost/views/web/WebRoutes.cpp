#include "apps/flowhost/views/web/WebRoutes.h"

#include <cstdlib>
#include <cstring>

#include "apps/flowhost/views/web/MbTiles.h"
#include "apps/flowhost/views/web/WebAssets.h"
#include "apps/flowhost/views/web/WebFeed.h"
#include "apps/flowhost/views/web/WebHistory.h"
#include "outputs/TextOut.h"

namespace flowhost {

namespace {

// The answer being made on this thread, for the event stream's handler to
// mark (the library hands handlers only the request and the response).
thread_local WebRoutes::Answer* tAnswer = nullptr;

constexpr const char* kBasemap = "/assets/basemap/countries-50m.json";
// The state and rows change every tick: sent as they are, since the HTTP
// library would compress them anew for every request (it compresses
// "application/json" exactly, not with a charset).
constexpr const char* kJson = "application/json; charset=utf-8";

bool readIndex(const std::string& text, long long limit, long long* value) {
  if (text.empty() || text.size() > 12) return false;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || v < 0 || v > limit) return false;
  *value = v;
  return true;
}

}  // namespace

// The request's bytes as the library's stream: reading gives what the
// server received (then the end, never a wait); writing gathers the
// response.
class WebRoutes::MemoryStream final : public httplib::Stream {
 public:
  MemoryStream(const std::string& input, const Peer& peer, std::string* output)
      : input_(input), peer_(peer), output_(output) {}

  bool is_readable() const override { return read_ < input_.size(); }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    const size_t n = std::min(size, input_.size() - read_);
    if (n == 0) {
      ranOut_ = true;
      return 0;
    }
    std::memcpy(ptr, input_.data() + read_, n);
    read_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    output_->append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = peer_.address;
    port = peer_.port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  // No socket: the request is in memory (defined below).
  socket_t socket() const override;

  size_t consumed() const { return read_; }
  // The request wanted more than the server had received.
  bool ranOut() const { return ranOut_; }

 private:
  const std::string& input_;
  const Peer& peer_;
  std::string* output_;
  size_t read_ = 0;
  bool ranOut_ = false;
};

socket_t WebRoutes::MemoryStream::socket() const { return INVALID_SOCKET; }

WebRoutes::WebRoutes(WebFeed& feed, WebHistory& history, const Settings& settings)
    : feed_(feed), history_(history), settings_(settings) {
  set_payload_max_length(settings.bodyLimit);
  set_keep_alive_max_count(100);
  set_keep_alive_timeout(60);  // as the server's idle limit
  std::string images = "'self' data: blob:";
  const std::string tileOrigin = originOf(settings.tileUrl);
  if (!tileOrigin.empty()) images += " " + tileOrigin;
  policy_ = "default-src 'none'; script-src 'self'; style-src 'self'; img-src " + images +
            "; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
  route();
}

WebRoutes::Answer WebRoutes::answer(const std::string& input, const Peer& peer) {
  Answer answer;
  MemoryStream stream(input, peer, &answer.bytes);
  bool closed = false;
  tAnswer = &answer;
  const bool ok = process_request(stream, false, closed, nullptr);
  tAnswer = nullptr;
  answer.consumed = stream.consumed();
  // A request that wanted more than had come (a body beyond the limit, or
  // one still on its way) leaves the connection's bytes out of step: it
  // ends with this answer.
  answer.close = closed || stream.ranOut() || (!ok && !answer.stream);
  if (answer.bytes.empty()) answer.close = true;
  return answer;
}

void WebRoutes::setSecurityHeaders(httplib::Response& res) const {
  res.set_header("Content-Security-Policy", policy_);
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Referrer-Policy", "no-referrer");
}

void WebRoutes::route() {
  // Every answer, errors included, carries the security headers.
  set_post_routing_handler(
      [this](const httplib::Request&, httplib::Response& res) { setSecurityHeaders(res); });
  set_error_handler([this](const httplib::Request&, httplib::Response& res) {
    setSecurityHeaders(res);
    res.set_content("HTTP status " + std::to_string(res.status) + "\n",
                    "text/plain; charset=utf-8");
  });
  Get("/", [this](const httplib::Request& req, httplib::Response& res) { servePage(req, res); });
  // The page names no icon; a browser that asks anyway is told there is none.
  Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  Get("/assets/.*",
      [this](const httplib::Request& req, httplib::Response& res) { serveAsset(req, res); });
  Get("/state", [this](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(feed_.latest()->stateJson(), kJson);
  });
  Get("/rows", [this](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(feed_.latest()->rowsJson(), kJson);
  });
  Get("/unit", [this](const httplib::Request& req, httplib::Response& res) {
    long long index = 0;
    const std::string text = readIndex(req.get_param_value("i"), 10000000, &index)
                                 ? feed_.latest()->unitJson(index)
                                 : "";
    if (text.empty()) {
      res.status = 404;
      return;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(text, kJson);
  });
  Get("/graph", [this](const httplib::Request&, httplib::Response& res) {
    feed_.wantGraph();
    const auto graph = feed_.graph();
    res.set_header("Cache-Control", "no-store");
    res.set_content(graph ? *graph : std::string("{\"pending\":true}"), kJson);
  });
  Get("/history", [this](const httplib::Request& req, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    if (!req.has_param("t")) {
      res.set_content(history_.rangeJson(), kJson);
      return;
    }
    char* end = nullptr;
    const std::string t = req.get_param_value("t");
    const double at = std::strtod(t.c_str(), &end);
    if (t.empty() || *end != '\0') {
      res.status = 400;
      return;
    }
    res.set_content(history_.frameJson(at), kJson);
  });
  Get(R"(/tiles/(\d{1,2})/(\d{1,10})/(\d{1,10}))",
      [this](const httplib::Request& req, httplib::Response& res) { serveTile(req, res); });
  Get("/events",
      [this](const httplib::Request& req, httplib::Response& res) { serveEvents(req, res); });
}

void WebRoutes::servePage(const httplib::Request& req, httplib::Response& res) {
  httplib::Request page = req;
  page.path = "/assets/index.html";
  serveAsset(page, res);
}

// The files carry a hash of their bytes: a browser that has them already
// is told so (304) instead of being sent them again.
void WebRoutes::serveAsset(const httplib::Request& req, httplib::Response& res) {
  const WebAsset* asset = findWebAsset(req.path);
  if (asset == nullptr) {
    res.status = 404;
    return;
  }
  // Scripts and the basemap go gzipped, as built, to a browser that takes
  // gzip; they are not compressed again on each request.
  const bool packed = asset->gzip != nullptr &&
                      req.get_header_value("Accept-Encoding").find("gzip") != std::string::npos;
  std::string etag = asset->etag;
  if (packed) etag.insert(etag.size() - 1, "-gzip");
  res.set_header("ETag", etag);
  res.set_header("Cache-Control", "no-cache");
  res.set_header("Vary", "Accept-Encoding");
  if (req.get_header_value("If-None-Match") == etag) {
    res.status = 304;
    return;
  }
  if (packed) {
    res.set_header("Content-Encoding", "gzip");
    res.set_content(reinterpret_cast<const char*>(asset->gzip), asset->gzipSize,
                    asset->contentType);
  } else {
    res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->contentType);
  }
}

void WebRoutes::serveTile(const httplib::Request& req, httplib::Response& res) {
  long long z = 0, x = 0, y = 0;
  std::string data;
  if (settings_.tiles == nullptr || !readIndex(req.matches[1], 30, &z) ||
      !readIndex(req.matches[2], 1LL << 30, &x) || !readIndex(req.matches[3], 1LL << 30, &y) ||
      !settings_.tiles->tile(static_cast<int>(z), static_cast<int>(x), static_cast<int>(y),
                             &data)) {
    res.status = 404;
    return;
  }
  res.set_header("Cache-Control", "max-age=3600");
  res.set_content(data, settings_.tiles->contentType().c_str());
}

// The stream's head is written by the library; its events, the first
// state included, are written by the server as chunks of the chunked
// body, as they come (the provider below is never asked for more).
void WebRoutes::serveEvents(const httplib::Request& req, httplib::Response& res) {
  if (tAnswer == nullptr || req.method != "GET") {
    res.status = 500;
    return;
  }
  tAnswer->stream = true;
  tAnswer->streamSeq = feed_.latest()->seq;
  res.set_header("Cache-Control", "no-store");
  res.set_chunked_content_provider("text/event-stream",
                                   [](size_t, httplib::DataSink&) { return false; });
}

std::string WebRoutes::siteJson() const {
  std::string out = "{\"basemap\":\"";
  out.append(kBasemap).append("\",\"historyStep\":");
  kw_out::appendFixed(&out, WebHistory::kStep, 1);
  out.append(",\"tiles\":");
  if (settings_.tiles != nullptr) {
    out.append("{\"url\":\"/tiles/{z}/{x}/{y}\",\"attribution\":");
    const std::string& named = settings_.tiles->attribution();
    kw_out::appendJsonString(&out, named.empty() ? settings_.tiles->name() : named);
    out.append(",\"minZoom\":");
    kw_out::appendInt(&out, settings_.tiles->minZoom());
    out.append(",\"maxZoom\":");
    kw_out::appendInt(&out, settings_.tiles->maxZoom());
    out.push_back('}');
  } else if (!settings_.tileUrl.empty()) {
    out.append("{\"url\":");
    kw_out::appendJsonString(&out, settings_.tileUrl);
    out.append(",\"attribution\":");
    kw_out::appendJsonString(&out, settings_.tileAttribution.empty() ? originOf(settings_.tileUrl)
                                                                     : settings_.tileAttribution);
    out.append(",\"minZoom\":0,\"maxZoom\":19}");
  } else {
    out.append("null");
  }
  out.push_back('}');
  return out;
}

std::string WebRoutes::originOf(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return "";
  const size_t end = url.find('/', scheme + 3);
  std::string origin = url.substr(0, end);
  // Leaflet's {s} picks one of a few subdomains: any of them may serve.
  const size_t s = origin.find("{s}");
  if (s != std::string::npos) origin.replace(s, 3, "*");
  return origin;
}

bool WebRoutes::validTileUrl(const std::string& url, std::string* why) {
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
    *why = "a tile address starts with http:// or https://";
    return false;
  }
  for (const char* part : {"{z}", "{x}", "{y}"}) {
    if (url.find(part) == std::string::npos) {
      *why = std::string("a tile address names ") + part;
      return false;
    }
  }
  for (const unsigned char c : url) {
    if (c <= ' ' || c >= 0x7f || std::strchr("\"'<>\\;,`", c) != nullptr) {
      *why = "a tile address has no spaces, quotes, <, >, \\, ; or ,";
      return false;
    }
  }
  return true;
}

}  // namespace flowhost
