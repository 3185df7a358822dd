#include "outputs/GpsdServer.h"

#include <algorithm>
#include <chrono>

#include "platform/tcp_connection.h"
#include "platform/tcp_listener.h"

namespace kw_out {

namespace {

using Clock = std::chrono::steady_clock;

// How long the loop sleeps at most with nothing to do.
constexpr auto kIdleWait = std::chrono::seconds(1);
constexpr size_t kReadChunk = 4096;

std::pair<int64_t, int> wallNow() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  return {ms / 1000, static_cast<int>(ms % 1000)};
}

}  // namespace

struct GpsdServer::Client {
  kw::Socket socket;
  std::string in;   // received, not yet a complete command
  std::string out;  // queued for sending; out[0..sent) already sent
  size_t sent = 0;
  bool watching = false;
  bool closing = false;  // close once `out` is sent
  bool dead = false;

  size_t queued() const { return out.size() - sent; }
};

GpsdServer::GpsdServer() : GpsdServer(Limits{}) {}
GpsdServer::GpsdServer(const Limits& limits) : limits_(limits) {}

GpsdServer::~GpsdServer() { stop(); }

bool GpsdServer::start(const std::string& address, int port) {
  if (worker_.running()) {
    error_ = "the position server is already running";
    return false;
  }
  kw::Failure failure;
  listener_ = kw::openTcpListener(address, port, 512, &port_, &failure);
  if (!listener_.valid()) {
    error_ = failure.text();
    return false;
  }
  loop_.watch(listener_.fd(), kw::PollLoop::kReadable);
  if (const kw::Failure failed = worker_.start([this] { run(); })) {
    error_ = "the position server: " + failed.text();
    loop_.forget(listener_.fd());
    listener_.close();
    return false;
  }
  return true;
}

void GpsdServer::stop() {
  worker_.stop();
  for (auto& [fd, client] : clients_) loop_.forget(fd);
  clients_.clear();
  clientCount_ = 0;
  if (listener_.valid()) loop_.forget(listener_.fd());
  listener_.close();
}

void GpsdServer::publish(const NodeUpdate& update) {
  if (!worker_.running() || !hasFix(update)) return;
  Report report{unitId(update), {}};
  gpsd::appendTpv(&report.line, update);
  {
    kw::MutexLock lock(&inboxMutex_);
    if (inboxBytes_ + report.line.size() > limits_.inbox) {
      ++inboxDropped_;
      return;
    }
    inboxBytes_ += report.line.size();
    inbox_.push_back(std::move(report));
  }
  // Only a worker about to sleep needs the wake-up; a busy one takes the
  // report on its next round without a system call here.
  if (armed_.exchange(false)) worker_.wake();
}

GpsdServer::Stats GpsdServer::stats() const {
  Stats s;
  s.clients = clientCount_;
  s.accepted = accepted_;
  s.refused = refused_;
  s.droppedLines = droppedLines_;
  s.closedLongInput = closedLongInput_;
  s.inboxDropped = inboxDropped_;
  return s;
}

// The loop: wait, take the reports handed over, then one handler per ready
// socket, then the connections that ended go.
void GpsdServer::run() {
  while (!worker_.stopping()) {
    // Armed before the inbox is looked at: a report handed over after the
    // look finds the flag set and wakes the wait below.
    armed_ = true;
    const Clock::time_point until = inboxPending() ? Clock::now() : Clock::now() + kIdleWait;
    bool woken = false;
    const kw::Failure failed = loop_.wait(worker_.wakeEvent(), until, &ready_, &woken);
    armed_ = false;
    if (failed || worker_.stopping()) break;
    drainInbox();
    for (const kw::PollLoop::Ready& ready : ready_) dispatch(ready);
    closeDeadClients();
  }
}

void GpsdServer::dispatch(const kw::PollLoop::Ready& ready) {
  if (ready.fd == listener_.fd()) {
    acceptClients();
    return;
  }
  const auto found = clients_.find(ready.fd);
  if (found == clients_.end()) return;
  Client* client = found->second.get();
  if (ready.events & (kw::PollLoop::kReadable | kw::PollLoop::kClosed)) readFrom(client);
  if (!client->dead) writeTo(client);
}

bool GpsdServer::inboxPending() {
  kw::MutexLock lock(&inboxMutex_);
  return !inbox_.empty();
}

// The reports the runner handed over: to every watching client, and kept as
// each node's latest fix for ?POLL and ?DEVICES.
void GpsdServer::drainInbox() {
  taken_.clear();
  {
    kw::MutexLock lock(&inboxMutex_);
    taken_.swap(inbox_);
    inboxBytes_ = 0;
  }
  for (Report& report : taken_) {
    for (auto& [fd, client] : clients_) {
      if (client->watching) enqueue(client.get(), report.line);
    }
    auto [it, added] = devices_.try_emplace(report.unit);
    if (added) {
      it->second.path = unitDevice(report.unit);
      std::tie(it->second.activatedSec, it->second.activatedMs) = wallNow();
    }
    report.line.pop_back();
    latest_[report.unit] = std::move(report.line);
  }
  for (auto& [fd, client] : clients_) writeTo(client.get());
}

// Every connection waiting on the listener: the VERSION banner to each, or
// closed at once beyond the client limit.
void GpsdServer::acceptClients() {
  for (;;) {
    kw::Socket connection;
    kw::Failure failure;
    if (kw::acceptConnection(listener_, &connection, &failure) != kw::IoStatus::Done) return;
    if (clients_.size() >= limits_.maxClients) {
      ++refused_;
      continue;  // closed as it goes
    }
    auto client = std::make_unique<Client>();
    client->socket = std::move(connection);
    gpsd::appendVersion(&client->out);
    const int fd = client->socket.fd();
    Client* added = clients_.emplace(fd, std::move(client)).first->second.get();
    ++accepted_;
    writeTo(added);
  }
}

// What the client sent: every complete command answered; a command beyond
// the bound gets an error and the connection closes after it.
void GpsdServer::readFrom(Client* client) {
  char buffer[kReadChunk];
  size_t count = 0;
  kw::Failure failure;
  const kw::IoStatus status =
      kw::receiveSome(client->socket, buffer, sizeof buffer, &count, &failure);
  if (status == kw::IoStatus::WouldBlock) return;
  if (status != kw::IoStatus::Done) {
    client->dead = true;
    return;
  }
  client->in.append(buffer, count);
  gpsd::Command command;
  while (gpsd::takeCommand(&client->in, &command)) answer(client, command);
  if (client->in.size() > limits_.maxCommand) {
    std::string reply;
    gpsd::appendError(&reply, "request too long");
    enqueue(client, reply);
    client->in.clear();
    client->in.shrink_to_fit();
    client->closing = true;
    ++closedLongInput_;
  }
}

void GpsdServer::answer(Client* client, const gpsd::Command& command) {
  std::string reply;
  switch (command.kind) {
    case gpsd::Command::Kind::Version: gpsd::appendVersion(&reply); break;
    case gpsd::Command::Kind::Devices:
    case gpsd::Command::Kind::Device: reply = devicesLine(); break;
    case gpsd::Command::Kind::Watch:
      if (!command.valid) {
        gpsd::appendError(&reply, "Invalid WATCH: " + command.text.substr(0, 200));
        break;
      }
      client->watching = command.watchEnable && command.watchJson;
      if (command.watchEnable) reply = devicesLine();
      gpsd::appendWatch(&reply, command.watchEnable, command.watchJson);
      break;
    case gpsd::Command::Kind::Poll: {
      std::vector<std::string> tpvs;
      tpvs.reserve(latest_.size());
      for (const auto& [node, tpv] : latest_) tpvs.push_back(tpv);
      const auto [sec, ms] = wallNow();
      gpsd::appendPoll(&reply, sec, ms, tpvs);
      break;
    }
    case gpsd::Command::Kind::Unknown:
      gpsd::appendError(&reply, "Unrecognized request '" + command.text.substr(0, 200) + "'");
      break;
  }
  enqueue(client, reply);
}

// Sends what the client's socket takes now; a client whose last words were
// sent after it was told to close goes.
void GpsdServer::writeTo(Client* client) {
  while (client->sent < client->out.size()) {
    size_t count = 0;
    kw::Failure failure;
    const kw::IoStatus status = kw::sendSome(client->socket, client->out.data() + client->sent,
                                             client->out.size() - client->sent, &count, &failure);
    if (status == kw::IoStatus::WouldBlock) {
      watchFor(*client);
      return;
    }
    if (status != kw::IoStatus::Done || count == 0) {
      client->dead = true;
      return;
    }
    client->sent += count;
  }
  client->out.clear();
  client->sent = 0;
  if (client->closing) {
    client->dead = true;
    return;
  }
  watchFor(*client);
}

void GpsdServer::watchFor(const Client& client) {
  unsigned interest = client.closing ? 0u : unsigned{kw::PollLoop::kReadable};
  if (client.queued() > 0) interest |= kw::PollLoop::kWritable;
  loop_.watch(client.socket.fd(), interest);
}

// When the backlog would pass its bound, every queued line not yet begun is
// dropped (the one being sent is finished) and counted; the new line is
// then queued if it fits.
void GpsdServer::enqueue(Client* client, const std::string& line) {
  if (client->dead) return;
  if (client->queued() + line.size() > limits_.clientBacklog) {
    size_t keep = client->sent;
    if (client->sent > 0 && client->sent < client->out.size()) {
      const size_t nl = client->out.find('\n', client->sent);
      keep = nl == std::string::npos ? client->out.size() : nl + 1;
    }
    droppedLines_ += static_cast<uint64_t>(std::count(
        client->out.begin() + static_cast<std::ptrdiff_t>(keep), client->out.end(), '\n'));
    client->out.erase(keep);
    if (client->queued() + line.size() > limits_.clientBacklog) {
      ++droppedLines_;
      return;
    }
  }
  if (client->sent == client->out.size()) {
    client->out.clear();
    client->sent = 0;
  }
  client->out.append(line);
}

void GpsdServer::closeDeadClients() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (it->second->dead) {
      loop_.forget(it->first);
      it = clients_.erase(it);  // the socket closes with its client
    } else {
      ++it;
    }
  }
  clientCount_ = clients_.size();
}

std::string GpsdServer::devicesLine() const {
  std::vector<gpsd::Device> list;
  list.reserve(devices_.size());
  for (const auto& [node, device] : devices_) list.push_back(device);
  std::string line;
  gpsd::appendDevices(&line, list);
  return line;
}

}  // namespace kw_out
