#include "outputs/GpsdServer.h"

#include <algorithm>
#include <chrono>
#include <tuple>

#include "platform/tcp_connection.h"
#include "platform/tcp_listener.h"

namespace kw_out {

namespace {

using Clock = std::chrono::steady_clock;

// How long the loop sleeps at most with nothing to do.
constexpr auto kIdleWait = std::chrono::seconds(1);
constexpr size_t kReadChunk = 4096;
// How long the listener rests after an accept failed (out of descriptors).
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

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
  gpsd::Policy policy;
  Clock::time_point lastCommand;  // or the connection, before any command
  bool closing = false;           // close once `out` is sent
  bool dead = false;

  size_t queued() const { return out.size() - sent; }
  bool watching() const { return policy.enable && (policy.json || policy.wantsNmea()); }
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
  watchers_.clear();
  clients_.clear();
  dying_ = 0;
  clientCount_ = 0;
  if (listener_.valid()) loop_.forget(listener_.fd());
  listener_.close();
}

void GpsdServer::publish(const NodeUpdate& update) {
  if (!worker_.running() || !hasFix(update)) return;
  {
    kw::MutexLock lock(&inboxMutex_);
    if (inbox_.size() >= limits_.inbox) {
      ++inboxDropped_;
      return;
    }
    inbox_.push_back(update);
  }
  // Only a worker about to sleep needs the wake-up; a busy one takes the
  // fix on its next round without a system call here.
  if (armed_.exchange(false)) worker_.wake();
}

GpsdServer::Stats GpsdServer::stats() const {
  Stats s;
  s.clients = clientCount_;
  s.accepted = accepted_;
  s.refused = refused_;
  s.droppedLines = droppedLines_;
  s.closedLongInput = closedLongInput_;
  s.closedIdle = closedIdle_;
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
    // A listener that could not accept rests until its deadline.
    if (ready.events & kw::PollLoop::kTimedOut)
      loop_.watch(listener_.fd(), kw::PollLoop::kReadable);
    if (ready.events & kw::PollLoop::kReadable) acceptClients();
    return;
  }
  const auto found = clients_.find(ready.fd);
  if (found == clients_.end() || found->second->dead) return;
  Client* client = found->second.get();
  if (ready.events & (kw::PollLoop::kReadable | kw::PollLoop::kClosed)) readFrom(client);
  if (!client->dead && (ready.events & kw::PollLoop::kTimedOut)) expire(client);
  if (!client->dead) writeTo(client);
}

bool GpsdServer::inboxPending() {
  kw::MutexLock lock(&inboxMutex_);
  return !inbox_.empty();
}

// The fixes the runner handed over: each kept as its unit's latest (for
// ?POLL) and sent to every client that follows the unit.
void GpsdServer::drainInbox() {
  taken_.clear();
  {
    kw::MutexLock lock(&inboxMutex_);
    taken_.swap(inbox_);
  }
  if (watchersChanged_) {
    watchers_.clear();
    for (auto& [fd, client] : clients_) {
      if (client->watching() && !client->dead) watchers_.push_back(client.get());
    }
    watchersChanged_ = false;
  }
  for (const NodeUpdate& fix : taken_) deliver(fix, &unitOf(fix));
  for (Client* client : watchers_) writeTo(client);
}

GpsdServer::Unit& GpsdServer::unitOf(const NodeUpdate& fix) {
  std::string key = unitDevice(unitId(fix));
  const auto [found, added] = unitIndex_.try_emplace(key, units_.size());
  if (!added) return units_[found->second];
  Unit& unit = units_.emplace_back();
  unit.device.path = key;
  std::tie(unit.device.activatedSec, unit.device.activatedMs) = wallNow();
  unit.key = std::move(key);
  return unit;
}

// One fix: the TPV to the JSON watchers, the sentences to the NMEA ones.
void GpsdServer::deliver(const NodeUpdate& fix, Unit* unit) {
  unit->tpv.clear();
  gpsd::appendTpv(&unit->tpv, fix);
  std::string& nmea = text_;
  nmea.clear();
  for (Client* client : watchers_) {
    if (client->dead || !client->policy.follows(unit->key)) continue;
    if (client->policy.json) enqueue(client, unit->tpv);
    if (client->policy.wantsNmea()) {
      if (nmea.empty()) gpsd::appendNmea(&nmea, fix);
      enqueue(client, nmea);
    }
  }
  unit->tpv.resize(unit->tpv.size() - 2);  // kept without its CR LF
}

// Every connection waiting on the listener: the VERSION banner to each. At
// the client limit the longest idle client makes room, or the new one is
// closed at once.
void GpsdServer::acceptClients() {
  for (;;) {
    kw::Socket connection;
    kw::Failure failure;
    const kw::IoStatus status = kw::acceptConnection(listener_, &connection, &failure);
    if (status == kw::IoStatus::WouldBlock) return;
    if (status != kw::IoStatus::Done) {
      // Out of descriptors, say: the waiting connection stays, and the
      // listener would be ready again at once. It rests for a moment.
      loop_.watch(listener_.fd(), 0);
      loop_.setDeadline(listener_.fd(), Clock::now() + kAcceptPause);
      return;
    }
    if (clients_.size() - dying_ >= limits_.maxClients && !makeRoom()) {
      ++refused_;
      continue;  // closed as it goes
    }
    auto client = std::make_unique<Client>();
    client->socket = std::move(connection);
    client->lastCommand = Clock::now();
    gpsd::appendVersion(&client->out);
    const int fd = client->socket.fd();
    Client* added = clients_.emplace(fd, std::move(client)).first->second.get();
    ++accepted_;
    writeTo(added);
    setIdleDeadline(*added);
  }
}

// Closes the client that has gone longest without a command and without
// watching; false when every client watches.
bool GpsdServer::makeRoom() {
  Client* idlest = nullptr;
  for (auto& [fd, client] : clients_) {
    if (client->dead || client->watching()) continue;
    if (idlest == nullptr || client->lastCommand < idlest->lastCommand) idlest = client.get();
  }
  if (idlest == nullptr) return false;
  ++closedIdle_;
  drop(idlest);
  return true;
}

// A client that does not watch sent nothing for the idle limit.
void GpsdServer::expire(Client* client) {
  if (client->watching()) return;
  ++closedIdle_;
  drop(client);
}

void GpsdServer::setIdleDeadline(const Client& client) {
  if (client.dead) return;
  loop_.setDeadline(client.socket.fd(), client.watching() ? Clock::time_point::max()
                                                          : Clock::now() + limits_.idleTimeout);
}

void GpsdServer::drop(Client* client) {
  if (client->dead) return;
  client->dead = true;
  ++dying_;
  // Nothing more is heard of it this round; its socket closes at the end.
  loop_.forget(client->socket.fd());
  watchersChanged_ = true;
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
    drop(client);
    return;
  }
  client->in.append(buffer, count);
  gpsd::Command command;
  bool commanded = false;
  while (!client->dead && gpsd::takeCommand(&client->in, &command)) {
    answer(client, command);
    commanded = true;
  }
  if (commanded) {
    client->lastCommand = Clock::now();
    setIdleDeadline(*client);
  }
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
    case gpsd::Command::Kind::Device: reply = devicesLine(*client); break;
    case gpsd::Command::Kind::Watch: watch(client, command, &reply); break;
    case gpsd::Command::Kind::Poll: reply = pollLine(*client); break;
    case gpsd::Command::Kind::Unknown:
      gpsd::appendError(&reply, "Unrecognized request '" + command.text.substr(0, 200) + "'");
      break;
  }
  enqueue(client, reply);
}

// A WATCH: the client's new policy, the devices it now follows, the echo.
void GpsdServer::watch(Client* client, const gpsd::Command& command, std::string* reply) {
  if (!command.valid) {
    gpsd::appendError(reply, "Invalid WATCH: " + command.text.substr(0, 200));
    return;
  }
  const bool was = client->watching();
  gpsd::applyWatch(command, &client->policy);
  if (client->watching() != was) watchersChanged_ = true;
  if (client->policy.enable && !command.watchQuery) *reply = devicesLine(*client);
  gpsd::appendWatch(reply, client->policy);
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
      drop(client);
      return;
    }
    client->sent += count;
  }
  client->out.clear();
  client->sent = 0;
  if (client->closing) {
    drop(client);
    return;
  }
  watchFor(*client);
}

void GpsdServer::watchFor(const Client& client) {
  if (client.dead) return;
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
  if (dying_ > 0) {
    for (auto it = clients_.begin(); it != clients_.end();) {
      if (it->second->dead) {
        it = clients_.erase(it);  // the socket closes with its client
      } else {
        ++it;
      }
    }
    dying_ = 0;
  }
  clientCount_ = clients_.size();
}

// One device: the unit the client follows, or "all", which stands for
// every unit heard so far (none before the first fix).
std::string GpsdServer::devicesLine(const Client& client) const {
  std::vector<gpsd::Device> list;
  if (!client.policy.device.empty()) {
    const auto found = unitIndex_.find(client.policy.device);
    if (found != unitIndex_.end()) list.push_back(units_[found->second].device);
  } else if (!units_.empty()) {
    gpsd::Device all = units_.front().device;
    all.path = gpsd::kAllUnitsDevice;
    all.subtype = std::to_string(units_.size()) + (units_.size() == 1 ? " unit" : " units");
    list.push_back(std::move(all));
  }
  std::string line;
  gpsd::appendDevices(&line, list);
  return line;
}

// The latest fix of every unit the client follows, in the order first heard.
std::string GpsdServer::pollLine(const Client& client) const {
  std::vector<std::string> tpvs;
  for (const Unit& unit : units_) {
    if (client.policy.follows(unit.key)) tpvs.push_back(unit.tpv);
  }
  const auto [sec, ms] = wallNow();
  std::string line;
  gpsd::appendPoll(&line, sec, ms, tpvs);
  return line;
}

}  // namespace kw_out
