#include "apps/flowhost/views/web/WebServer.h"

#include <algorithm>
#include <cstdio>

#include "apps/flowhost/views/web/WebFeed.h"
#include "cli/endpoint.h"
#include "platform/tcp_connection.h"
#include "platform/tcp_listener.h"

namespace flowhost {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 16 * 1024;
// A refused client's bytes read and dropped before its connection closes,
// so that the refusal reaches it instead of a reset.
constexpr size_t kDrainBytes = 1 << 20;
constexpr auto kDrainTime = std::chrono::seconds(2);

// The loop's own refusals, written before a request could be read; the
// answers to requests are cpp-httplib's.
std::string cannedResponse(int status) {
  const char* reason = status == 431   ? "Request Header Fields Too Large"
                       : status == 408 ? "Request Timeout"
                                       : "Service Unavailable";
  const std::string body = std::string(reason) + "\n";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// Where the request's headers end (just past the empty line), or npos
// while they are not all there. Lines may end in CR LF or in LF alone.
size_t headersEnd(const std::string& in) {
  for (size_t i = in.find('\n'); i != std::string::npos; i = in.find('\n', i + 1)) {
    if (i + 1 < in.size() && in[i + 1] == '\n') return i + 2;
    if (i + 2 < in.size() && in[i + 1] == '\r' && in[i + 2] == '\n') return i + 3;
  }
  return std::string::npos;
}

const std::shared_ptr<const std::string>& lineEnd() {
  static const auto text = std::make_shared<const std::string>("\r\n");
  return text;
}

const std::shared_ptr<const std::string>& keepAliveComment() {
  static const auto text = std::make_shared<const std::string>(": \n\n");
  return text;
}

}  // namespace

struct WebServer::Connection {
  enum class Phase {
    Reading,    // waiting for (the rest of) a request
    Answering,  // a request worker has it
    Writing,    // sending an answer
    Streaming,  // an event stream
    Draining,   // refused: reading what still comes, then closing
  };
  struct Chunk {
    std::shared_ptr<const std::string> text;
    size_t offset = 0;
  };

  uint64_t id = 0;
  kw::Socket socket;
  WebRoutes::Peer peer;
  Phase phase = Phase::Reading;
  std::string in;                    // received, not yet answered
  Clock::time_point requestStart{};  // the first byte of the request in `in`
  std::deque<Chunk> out;
  size_t queued = 0;             // bytes of `out` not yet sent
  Clock::time_point progress{};  // the last time the client took bytes
  bool closeAfter = false;       // after `out` is sent
  bool dead = false;
  bool counted = false;  // within the client's and the server's connections
  bool stream = false;   // counted as an event stream
  size_t drained = 0;
  // Event streams.
  uint64_t seq = 0;     // the snapshot the browser has reached
  bool behind = false;  // deltas were dropped: a fresh state is due
};

WebServer::WebServer(WebFeed& feed, WebHistory& history, const WebRoutes::Settings& settings)
    : WebServer(feed, history, settings, Limits{}) {}

WebServer::WebServer(WebFeed& feed, WebHistory& history, const WebRoutes::Settings& settings,
                     const Limits& limits)
    : limits_(limits), feed_(feed), routes_(feed, history, [&] {
        WebRoutes::Settings s = settings;
        s.bodyLimit = limits.bodyBytes;
        return s;
      }()) {}

WebServer::~WebServer() { stop(); }

bool WebServer::parseEndpoint(const std::string& text, std::string* address, int* port) {
  if (text.empty()) {
    *address = kDefaultAddress;
    *port = kDefaultPort;
    return true;
  }
  std::string host, why;
  int value = 0;
  if (!kw_cli::parseEndpoint(text, true, kDefaultAddress, kDefaultPort, &host, &value, &why) ||
      value == 0) {
    return false;
  }
  *address = host;
  *port = value;
  return true;
}

bool WebServer::start(const std::string& address, int port, std::string* error) {
  stop();
  kw::Failure failure;
  listener_ = kw::openTcpListener(address, port, 512, &port_, &failure);
  if (!listener_.valid()) {
    *error = "web view: " + failure.text();
    port_ = 0;
    return false;
  }
  if (const kw::Failure failed = workers_.start(limits_.workers)) {
    *error = "web view: " + failed.text();
    listener_.close();
    port_ = 0;
    return false;
  }
  loop_.watch(listener_.fd(), kw::PollLoop::kReadable);
  if (const kw::Failure failed = worker_.start([this] { run(); })) {
    *error = "web view: " + failed.text();
    workers_.stop();
    loop_.forget(listener_.fd());
    listener_.close();
    port_ = 0;
    return false;
  }
  return true;
}

// The request workers finish what they hold first (their answers wake a
// loop that still runs), then the loop ends and every connection closes.
void WebServer::stop() {
  workers_.stop();
  worker_.stop();
  for (auto& [fd, c] : connections_) loop_.forget(fd);
  connections_.clear();
  byId_.clear();
  perClient_.clear();
  if (listener_.valid()) loop_.forget(listener_.fd());
  listener_.close();
  port_ = 0;
  {
    kw::MutexLock lock(&answersMutex_);
    answers_.clear();
  }
  connectionCount_ = 0;
  streamCount_ = 0;
}

WebServer::Stats WebServer::stats() const {
  Stats s;
  s.connections = connectionCount_;
  s.streams = streamCount_;
  s.accepted = accepted_;
  s.refused = refused_;
  s.tooLarge = tooLarge_;
  s.timedOut = timedOutCount_;
  s.droppedEvents = droppedEvents_;
  s.freshStates = freshStates_;
  return s;
}

// The loop: wait, then the answers the workers finished, one handler per
// ready socket, the news for the streams, and the connections that ended go.
void WebServer::run() {
  while (!worker_.stopping()) {
    bool woken = false;
    const kw::Failure failed =
        loop_.wait(worker_.wakeEvent(), Clock::time_point::max(), &ready_, &woken);
    if (failed || worker_.stopping()) break;
    takeAnswers();
    for (const kw::PollLoop::Ready& ready : ready_) dispatch(ready);
    sendEvents();
    closeDead();
  }
}

void WebServer::dispatch(const kw::PollLoop::Ready& ready) {
  if (ready.fd == listener_.fd()) {
    acceptClients();
    return;
  }
  const auto found = connections_.find(ready.fd);
  if (found == connections_.end()) return;
  Connection* c = found->second.get();
  if (ready.events & (kw::PollLoop::kReadable | kw::PollLoop::kClosed)) readFrom(c);
  if (!c->dead && (ready.events & kw::PollLoop::kWritable)) writeTo(c);
  if (!c->dead && (ready.events & kw::PollLoop::kTimedOut)) timedOut(c);
}

void WebServer::acceptClients() {
  for (;;) {
    kw::Socket socket;
    kw::Failure failure;
    const kw::IoStatus status = kw::acceptConnection(listener_, &socket, &failure);
    if (status != kw::IoStatus::Done) return;  // none waits, or out of descriptors for now
    auto c = std::make_unique<Connection>();
    c->id = nextId_++;
    c->socket = std::move(socket);
    if (kw::peerAddress(c->socket, &c->peer.address, &c->peer.port)) continue;  // gone already
    ++accepted_;
    const int fd = c->socket.fd();
    Connection* raw = c.get();
    connections_.emplace(fd, std::move(c));
    byId_.emplace(raw->id, raw);
    loop_.watch(fd, kw::PollLoop::kReadable);
    const auto client = perClient_.find(raw->peer.address);
    if (connectionCount_ >= limits_.connections ||
        (client != perClient_.end() && client->second >= limits_.perClient)) {
      ++refused_;
      refuse(raw, 503);
      continue;
    }
    ++perClient_[raw->peer.address];
    ++connectionCount_;
    raw->counted = true;
    raw->progress = Clock::now();
    watchFor(raw);
  }
}

// What the client sent: a request's bytes while it is read, nothing while
// it is answered or streamed to (a stream's client only ever hangs up),
// the rest of a refused request while draining.
void WebServer::readFrom(Connection* c) {
  char buffer[kReadChunk];
  const size_t cap = limits_.headerBytes + limits_.bodyBytes;
  for (;;) {
    size_t room = sizeof buffer;
    if (c->phase == Connection::Phase::Reading) room = std::min(room, cap - c->in.size());
    if (room == 0) break;
    size_t count = 0;
    kw::Failure failure;
    const kw::IoStatus status = kw::receiveSome(c->socket, buffer, room, &count, &failure);
    if (status == kw::IoStatus::WouldBlock) break;
    if (status != kw::IoStatus::Done) {
      c->dead = true;  // hung up or reset
      return;
    }
    if (c->phase == Connection::Phase::Draining) {
      c->drained += count;
      if (c->drained > kDrainBytes) {
        c->dead = true;
        return;
      }
      continue;
    }
    if (c->phase != Connection::Phase::Reading) continue;  // a stream's client says nothing
    if (c->in.empty()) c->requestStart = Clock::now();
    c->in.append(buffer, count);
  }
  if (c->phase != Connection::Phase::Reading || c->in.empty()) {
    watchFor(c);
    return;
  }
  const size_t end = headersEnd(c->in);
  if (end == std::string::npos ? c->in.size() >= limits_.headerBytes : end > limits_.headerBytes) {
    ++tooLarge_;
    refuse(c, 431);
    return;
  }
  if (end == std::string::npos) {
    watchFor(c);  // the rest of the headers is still to come
    return;
  }
  startAnswer(c);
}

// A complete request goes to a request worker; the loop reads nothing more
// from the connection until the answer is back.
void WebServer::startAnswer(Connection* c) {
  c->phase = Connection::Phase::Answering;
  watchFor(c);
  const uint64_t id = c->id;
  const WebRoutes::Peer peer = c->peer;
  std::string request = c->in;
  if (!workers_.add(
          [this, id, request = std::move(request), peer] { answerOn(id, request, peer); }))
    c->dead = true;  // stopping
}

void WebServer::answerOn(uint64_t id, const std::string& request, const WebRoutes::Peer& peer) {
  Finished done{id, routes_.answer(request, peer)};
  if (done.answer.stream) {
    // The stream opens with the newest state, as the first chunk of its body.
    const auto snapshot = feed_.latest();
    const std::string event = WebFeed::stateEvent(*snapshot);
    char size[24];
    const int n = std::snprintf(size, sizeof size, "%zx\r\n", event.size());
    done.answer.bytes.append(size, static_cast<size_t>(n)).append(event).append("\r\n");
    done.answer.streamSeq = snapshot->seq;
  }
  {
    kw::MutexLock lock(&answersMutex_);
    answers_.push_back(std::move(done));
  }
  worker_.wake();
}

void WebServer::takeAnswers() {
  std::vector<Finished> answers;
  {
    kw::MutexLock lock(&answersMutex_);
    answers.swap(answers_);
  }
  for (Finished& done : answers) {
    const auto found = byId_.find(done.id);
    if (found == byId_.end()) continue;  // closed meanwhile
    Connection* c = found->second;
    WebRoutes::Answer& a = done.answer;
    c->in.erase(0, std::min(a.consumed, c->in.size()));
    c->requestStart = Clock::now();
    c->closeAfter = a.close;
    c->progress = Clock::now();
    queue(c, std::make_shared<const std::string>(std::move(a.bytes)));
    if (a.stream) {
      c->phase = Connection::Phase::Streaming;
      c->seq = a.streamSeq;
      c->in.clear();
      c->stream = true;
      ++streamCount_;
    } else {
      c->phase = Connection::Phase::Writing;
    }
    writeTo(c);
  }
}

void WebServer::writeTo(Connection* c) {
  while (!c->out.empty()) {
    Connection::Chunk& chunk = c->out.front();
    const std::string& text = *chunk.text;
    size_t count = 0;
    kw::Failure failure;
    const kw::IoStatus status = kw::sendSome(c->socket, text.data() + chunk.offset,
                                             text.size() - chunk.offset, &count, &failure);
    if (status == kw::IoStatus::Failed) {
      c->dead = true;
      return;
    }
    if (status != kw::IoStatus::Done || count == 0) break;
    c->progress = Clock::now();
    c->queued -= count;
    chunk.offset += count;
    if (chunk.offset == text.size()) c->out.pop_front();
  }
  if (c->out.empty()) sent(c);
  watchFor(c);
}

// Everything queued went out: an answer's connection reads the next
// request (which may be there already) or ends; a stream waits for news.
void WebServer::sent(Connection* c) {
  if (c->phase != Connection::Phase::Writing) return;
  if (c->closeAfter) {
    drain(c);
    return;
  }
  c->phase = Connection::Phase::Reading;
  if (c->in.empty()) return;
  const size_t end = headersEnd(c->in);
  if (end != std::string::npos && end <= limits_.headerBytes) startAnswer(c);
}

void WebServer::sendEvents() {
  for (auto& [fd, c] : connections_) {
    if (c->phase == Connection::Phase::Streaming && !c->dead) sendEventsTo(c.get());
  }
}

// The deltas after the snapshot the stream has reached, within its queue's
// bound; once some are dropped (or no longer kept), a fresh state when the
// queue has drained.
void WebServer::sendEventsTo(Connection* c) {
  const size_t before = c->queued;
  if (!c->behind) {
    std::vector<WebFeed::Delta> deltas;
    uint64_t seq = c->seq;
    if (!feed_.deltasAfter(&seq, &deltas)) {
      c->behind = true;
    } else {
      for (size_t i = 0; i < deltas.size(); ++i) {
        if (c->queued + deltas[i].event->size() > limits_.streamQueue) {
          droppedEvents_ += deltas.size() - i;
          c->behind = true;
          break;
        }
        queueChunk(c, deltas[i].event);
      }
      if (!c->behind) c->seq = seq;
    }
  }
  if (c->behind && c->queued == 0) {
    const auto snapshot = feed_.latest();
    queueChunk(c, std::make_shared<const std::string>(WebFeed::stateEvent(*snapshot)));
    c->seq = snapshot->seq;
    c->behind = false;
    ++freshStates_;
  }
  if (c->queued != before) {
    if (before == 0) c->progress = Clock::now();
    writeTo(c);
  }
}

void WebServer::timedOut(Connection* c) {
  const Clock::time_point now = Clock::now();
  switch (c->phase) {
    case Connection::Phase::Reading:
      ++timedOutCount_;
      if (c->in.empty())
        c->dead = true;  // idle between requests
      else
        refuse(c, 408);  // headers too slow
      return;
    case Connection::Phase::Writing:
    case Connection::Phase::Streaming:
      if (c->queued > 0 && now - c->progress >= limits_.stuckTime) {
        ++timedOutCount_;
        c->dead = true;
      } else if (c->phase == Connection::Phase::Streaming && c->queued == 0) {
        queueChunk(c, keepAliveComment());
        writeTo(c);
      } else {
        watchFor(c);
      }
      return;
    case Connection::Phase::Draining: c->dead = true; return;
    case Connection::Phase::Answering: watchFor(c); return;
  }
}

// Refuses the connection with `status` (431, 408, 503): the answer goes
// out, then whatever the client still sends is read and dropped for a
// short while before the connection closes.
void WebServer::refuse(Connection* c, int status) {
  c->in.clear();
  c->in.shrink_to_fit();
  c->phase = Connection::Phase::Writing;
  c->closeAfter = true;
  c->progress = Clock::now();
  queue(c, std::make_shared<const std::string>(cannedResponse(status)));
  writeTo(c);
}

void WebServer::drain(Connection* c) {
  c->phase = Connection::Phase::Draining;
  c->in.clear();
  if (kw::endSending(c->socket)) c->dead = true;
  c->progress = Clock::now();
}

// What the loop waits for on `c` now, and until when.
void WebServer::watchFor(Connection* c) {
  const int fd = c->socket.fd();
  unsigned interest = 0;
  Clock::time_point deadline = Clock::time_point::max();
  switch (c->phase) {
    case Connection::Phase::Reading:
      interest = kw::PollLoop::kReadable;
      deadline =
          c->in.empty() ? c->progress + limits_.idleTime : c->requestStart + limits_.headerTime;
      break;
    case Connection::Phase::Answering: break;
    case Connection::Phase::Writing:
      interest = kw::PollLoop::kWritable;
      deadline = c->progress + limits_.stuckTime;
      break;
    case Connection::Phase::Streaming:
      interest = kw::PollLoop::kReadable | (c->queued > 0 ? kw::PollLoop::kWritable : 0u);
      deadline = c->progress + (c->queued > 0 ? limits_.stuckTime : limits_.keepAlive);
      break;
    case Connection::Phase::Draining:
      interest = kw::PollLoop::kReadable;
      deadline = c->progress + kDrainTime;
      break;
  }
  loop_.watch(fd, interest);
  loop_.setDeadline(fd, deadline);
}

void WebServer::queue(Connection* c, std::shared_ptr<const std::string> text) {
  if (text->empty()) return;
  c->queued += text->size();
  c->out.push_back(Connection::Chunk{std::move(text), 0});
}

void WebServer::queueChunk(Connection* c, std::shared_ptr<const std::string> text) {
  char size[24];
  const int n = std::snprintf(size, sizeof size, "%zx\r\n", text->size());
  queue(c, std::make_shared<const std::string>(size, static_cast<size_t>(n)));
  queue(c, std::move(text));
  queue(c, lineEnd());
}

void WebServer::closeDead() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    Connection* c = it->second.get();
    if (!c->dead) {
      ++it;
      continue;
    }
    loop_.forget(it->first);
    byId_.erase(c->id);
    if (c->counted) {
      const auto client = perClient_.find(c->peer.address);
      if (client != perClient_.end() && --client->second == 0) perClient_.erase(client);
      --connectionCount_;
    }
    if (c->stream) --streamCount_;
    it = connections_.erase(it);
  }
}

}  // namespace flowhost
