#include "outputs/GpsdServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>

#include "outputs/GpsdProtocol.h"
#include "platform/tcp_listener.h"

namespace kw_out {

namespace {

std::string reason(const std::string& what) { return what + ": " + std::strerror(errno); }

struct Client {
  int fd = -1;
  std::string in;     // received, not yet a complete command
  std::string out;    // queued for sending; out[0..sent) already sent
  size_t sent = 0;
  bool watching = false;
  bool closing = false;  // close once `out` is sent
  bool dead = false;

  size_t queued() const { return out.size() - sent; }
};

// Queues `line` for the client. When the backlog would pass `limit`, every
// queued line not yet begun is dropped (the one being sent is finished) and
// counted in *dropped; the new line is then queued if it fits.
void enqueue(Client* c, const std::string& line, size_t limit, uint64_t* dropped) {
  if (c->dead) return;
  if (c->queued() + line.size() > limit) {
    size_t keep = c->sent;
    if (c->sent > 0 && c->sent < c->out.size()) {
      const size_t nl = c->out.find('\n', c->sent);
      keep = nl == std::string::npos ? c->out.size() : nl + 1;
    }
    *dropped += static_cast<uint64_t>(
        std::count(c->out.begin() + static_cast<std::ptrdiff_t>(keep), c->out.end(), '\n'));
    c->out.erase(keep);
    if (c->queued() + line.size() > limit) {
      ++*dropped;
      return;
    }
  }
  if (c->sent == c->out.size()) {
    c->out.clear();
    c->sent = 0;
  }
  c->out.append(line);
}

void sendSome(Client* c) {
  while (c->sent < c->out.size()) {
    const ssize_t n = ::send(c->fd, c->out.data() + c->sent, c->out.size() - c->sent,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c->sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    c->dead = true;
    return;
  }
  c->out.clear();
  c->sent = 0;
  if (c->closing) c->dead = true;
}

std::pair<int64_t, int> wallNow() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  return {ms / 1000, static_cast<int>(ms % 1000)};
}

}  // namespace

GpsdServer::GpsdServer() : GpsdServer(Limits{}) {}
GpsdServer::GpsdServer(const Limits& limits) : limits_(limits) {}

GpsdServer::~GpsdServer() { stop(); }

bool GpsdServer::start(const std::string& address, int port) {
  if (thread_.joinable()) {
    error_ = "the position server is already running";
    return false;
  }
  kw::Failure failure;
  kw::Socket listener = kw::openTcpListener(address, port, 512, &port_, &failure);
  if (!listener.valid()) {
    error_ = failure.text();
    return false;
  }
  listenFd_ = listener.release();
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) error_ = reason("cannot make the server's wake-up event");
  if (wakeFd_ < 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void GpsdServer::stop() {
  if (thread_.joinable()) {
    stopping_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  if (listenFd_ >= 0) ::close(listenFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
  listenFd_ = wakeFd_ = -1;
}

void GpsdServer::publish(const NodeUpdate& update) {
  if (wakeFd_ < 0 || !hasFix(update)) return;
  Report report{update.node, {}};
  gpsd::appendTpv(&report.line, update);
  {
    std::lock_guard<std::mutex> lock(inboxMutex_);
    if (inboxBytes_ + report.line.size() > limits_.inbox) {
      ++inboxDropped_;
      return;
    }
    inboxBytes_ += report.line.size();
    inbox_.push_back(std::move(report));
  }
  // Only a server thread about to sleep in poll() needs the wake-up; a busy
  // one takes the report on its next round without a system call here.
  if (armed_.exchange(false)) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
  }
}

GpsdServer::Stats GpsdServer::stats() const {
  Stats s;
  s.clients = clients_;
  s.accepted = accepted_;
  s.refused = refused_;
  s.droppedLines = droppedLines_;
  s.closedLongInput = closedLongInput_;
  s.inboxDropped = inboxDropped_;
  return s;
}

void GpsdServer::run() {
  std::vector<std::unique_ptr<Client>> clients;
  std::map<int, std::string> latest;  // node -> TPV object without line feed
  std::map<int, gpsd::Device> devices;
  std::vector<Report> taken;
  std::vector<pollfd> fds;
  uint64_t dropped = 0;

  const auto devicesLine = [&] {
    std::vector<gpsd::Device> list;
    list.reserve(devices.size());
    for (const auto& [node, device] : devices) list.push_back(device);
    std::string line;
    gpsd::appendDevices(&line, list);
    return line;
  };

  const auto answer = [&](Client* c, const gpsd::Command& cmd) {
    std::string reply;
    switch (cmd.kind) {
      case gpsd::Command::Kind::Version:
        gpsd::appendVersion(&reply);
        break;
      case gpsd::Command::Kind::Devices:
      case gpsd::Command::Kind::Device:
        reply = devicesLine();
        break;
      case gpsd::Command::Kind::Watch:
        if (!cmd.valid) {
          gpsd::appendError(&reply, "Invalid WATCH: " + cmd.text.substr(0, 200));
          break;
        }
        c->watching = cmd.watchEnable && cmd.watchJson;
        if (cmd.watchEnable) reply = devicesLine();
        gpsd::appendWatch(&reply, cmd.watchEnable, cmd.watchJson);
        break;
      case gpsd::Command::Kind::Poll: {
        std::vector<std::string> tpvs;
        tpvs.reserve(latest.size());
        for (const auto& [node, tpv] : latest) tpvs.push_back(tpv);
        const auto [sec, ms] = wallNow();
        gpsd::appendPoll(&reply, sec, ms, tpvs);
        break;
      }
      case gpsd::Command::Kind::Unknown:
        gpsd::appendError(&reply, "Unrecognized request '" + cmd.text.substr(0, 200) + "'");
        break;
    }
    enqueue(c, reply, limits_.clientBacklog, &dropped);
  };

  while (!stopping_) {
    fds.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (const auto& c : clients) {
      short events = c->closing ? 0 : POLLIN;
      if (c->queued() > 0) events |= POLLOUT;
      fds.push_back({c->fd, events, 0});
    }
    // Armed before the inbox is looked at: a report handed over after the
    // look finds the flag set and wakes the poll below.
    armed_ = true;
    bool pending;
    {
      std::lock_guard<std::mutex> lock(inboxMutex_);
      pending = !inbox_.empty();
    }
    const int ready = ::poll(fds.data(), fds.size(), pending ? 0 : 1000);
    armed_ = false;
    if (ready < 0 && errno != EINTR) break;
    if (stopping_) break;

    if (fds[0].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
    }
    taken.clear();
    {
      std::lock_guard<std::mutex> lock(inboxMutex_);
      taken.swap(inbox_);
      inboxBytes_ = 0;
    }
    for (Report& r : taken) {
      for (const auto& c : clients)
        if (c->watching) enqueue(c.get(), r.line, limits_.clientBacklog, &dropped);
      auto [it, added] = devices.try_emplace(r.node);
      if (added) {
        it->second.path = gpsd::devicePath(r.node);
        const auto [sec, ms] = wallNow();
        it->second.activatedSec = sec;
        it->second.activatedMs = ms;
      }
      r.line.pop_back();
      latest[r.node] = std::move(r.line);
    }

    for (size_t i = 0; i < clients.size(); ++i) {
      Client* c = clients[i].get();
      const short revents = fds[i + 2].revents;
      if (revents & (POLLERR | POLLNVAL)) {
        c->dead = true;
        continue;
      }
      if (revents & (POLLIN | POLLHUP)) {
        char buf[4096];
        const ssize_t n = ::recv(c->fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          c->dead = true;
          continue;
        }
        if (n > 0) {
          c->in.append(buf, static_cast<size_t>(n));
          gpsd::Command cmd;
          while (gpsd::takeCommand(&c->in, &cmd)) answer(c, cmd);
          if (c->in.size() > limits_.maxCommand) {
            std::string reply;
            gpsd::appendError(&reply, "request too long");
            enqueue(c, reply, limits_.clientBacklog, &dropped);
            c->in.clear();
            c->in.shrink_to_fit();
            c->closing = true;
            ++closedLongInput_;
          }
        }
      }
      if (c->queued() > 0 || c->closing) sendSome(c);
    }

    if (fds[1].revents & POLLIN) {
      for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) break;
        if (clients.size() >= limits_.maxClients) {
          ::close(fd);
          ++refused_;
          continue;
        }
        auto c = std::make_unique<Client>();
        c->fd = fd;
        gpsd::appendVersion(&c->out);
        sendSome(c.get());
        clients.push_back(std::move(c));
        ++accepted_;
      }
    }

    for (auto& c : clients)
      if (c->dead) ::close(c->fd);
    std::erase_if(clients, [](const std::unique_ptr<Client>& c) { return c->dead; });
    clients_ = clients.size();
    if (dropped > 0) {
      droppedLines_ += dropped;
      dropped = 0;
    }
  }
  for (auto& c : clients) ::close(c->fd);
  clients_ = 0;
}

}  // namespace kw_out
