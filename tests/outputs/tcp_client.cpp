#include "tests/outputs/tcp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kw_test {

TcpClient::~TcpClient() { close(); }

void TcpClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TcpClient::connect(int port, int receiveBuffer) {
  close();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  if (receiveBuffer > 0)
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool TcpClient::connectFrom(const std::string& local, int port) {
  close();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  sockaddr_in from{};
  from.sin_family = AF_INET;
  if (::inet_pton(AF_INET, local.c_str(), &from.sin_addr) != 1 ||
      ::bind(fd_, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0)
    return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool TcpClient::send(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool TcpClient::readUntil(const std::function<bool(const std::string&)>& done,
                          std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done(text_)) {
    if (eof_ || fd_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[65536];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0)
      text_.append(buf, static_cast<size_t>(n));
    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
      eof_ = true;
  }
  return true;
}

bool TcpClient::closedByPeer(std::chrono::milliseconds timeout) {
  readUntil([](const std::string&) { return false; }, timeout);
  return eof_;
}

std::vector<std::string> TcpClient::lines() const {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t nl; (nl = text_.find('\n', start)) != std::string::npos; start = nl + 1)
    out.push_back(text_.substr(start, nl - start));
  return out;
}

int countLines(const std::string& text, const std::string& needle) {
  int count = 0;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    if (text.substr(start, nl - start).find(needle) != std::string::npos) ++count;
  return count;
}

int countLinesStarting(const std::string& text, const std::string& prefix) {
  int count = 0;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    if (nl - start >= prefix.size() && text.compare(start, prefix.size(), prefix) == 0) ++count;
  return count;
}

}  // namespace kw_test
