// The wait of a server's thread on poll(2) (see poll_loop.h).
#include "platform/poll_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace kw {

namespace {

short pollEvents(unsigned interest) {
  short events = 0;
  if (interest & PollLoop::kReadable) events |= POLLIN;
  if (interest & PollLoop::kWritable) events |= POLLOUT;
  return events;
}

unsigned readyEvents(short revents) {
  unsigned events = 0;
  if (revents & POLLIN) events |= PollLoop::kReadable;
  if (revents & POLLOUT) events |= PollLoop::kWritable;
  if (revents & (POLLHUP | POLLERR | POLLNVAL)) events |= PollLoop::kClosed;
  return events;
}

}  // namespace

PollLoop::PollLoop() : fds_(1, pollfd{-1, POLLIN, 0}), deadlines_(1, Clock::time_point::max()) {}

PollLoop::~PollLoop() = default;

void PollLoop::watch(int fd, unsigned interest) {
  const auto found = slots_.find(fd);
  if (found != slots_.end()) {
    fds_[found->second].events = pollEvents(interest);
    return;
  }
  slots_.emplace(fd, fds_.size());
  fds_.push_back(pollfd{fd, pollEvents(interest), 0});
  deadlines_.push_back(Clock::time_point::max());
}

void PollLoop::setDeadline(int fd, Clock::time_point deadline) {
  const auto found = slots_.find(fd);
  if (found != slots_.end()) deadlines_[found->second] = deadline;
}

void PollLoop::forget(int fd) {
  const auto found = slots_.find(fd);
  if (found == slots_.end()) return;
  // The last slot takes the place of the one that goes.
  const std::size_t slot = found->second;
  const std::size_t last = fds_.size() - 1;
  slots_.erase(found);
  if (slot != last) {
    fds_[slot] = fds_[last];
    deadlines_[slot] = deadlines_[last];
    slots_[fds_[slot].fd] = slot;
  }
  fds_.pop_back();
  deadlines_.pop_back();
}

int PollLoop::timeoutMs(Clock::time_point until, Clock::time_point now) const {
  Clock::time_point next = until;
  for (std::size_t i = 1; i < deadlines_.size(); ++i) next = std::min(next, deadlines_[i]);
  if (next == Clock::time_point::max()) return -1;
  if (next <= now) return 0;
  // Rounded up, so that a wait never ends just before its moment.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
  return static_cast<int>(std::min<long long>(ms, 24LL * 3600 * 1000));
}

void PollLoop::collect(Clock::time_point now, std::vector<Ready>* ready) {
  for (std::size_t i = 1; i < fds_.size(); ++i) {
    unsigned events = readyEvents(fds_[i].revents);
    if (deadlines_[i] <= now) {
      events |= kTimedOut;
      deadlines_[i] = Clock::time_point::max();
    }
    if (events != 0) ready->push_back(Ready{fds_[i].fd, events});
  }
}

Failure PollLoop::wait(const WakeEvent& wake, Clock::time_point until, std::vector<Ready>* ready,
                       bool* woken) {
  ready->clear();
  *woken = false;
  fds_[0].fd = wake.fd();
  for (;;) {
    const Clock::time_point now = Clock::now();
    const int count = ::poll(fds_.data(), fds_.size(), timeoutMs(until, now));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return Failure::fromErrno("wait for sockets", errno);
    if (fds_[0].revents != 0) {
      wake.clear();
      *woken = true;
      return {};
    }
    const Clock::time_point after = Clock::now();
    collect(after, ready);
    if (!ready->empty() || after >= until) return {};
  }
}

}  // namespace kw
