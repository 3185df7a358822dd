#include "cli/endpoint.h"

#include <charconv>

namespace kw_cli {

namespace {

bool parsePort(const std::string& text, int* port) {
  int value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || value < 0 || value > 65535) {
    return false;
  }
  *port = value;
  return true;
}

std::string withoutBrackets(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

}  // namespace

bool parseEndpoint(const std::string& text, bool portRequired, const std::string& defaultHost,
                   int defaultPort, std::string* host, int* port, std::string* error) {
  const size_t colon = text.rfind(':');
  std::string hostPart;
  std::string portPart;
  if (colon != std::string::npos) {
    hostPart = withoutBrackets(text.substr(0, colon));
    portPart = text.substr(colon + 1);
    if (hostPart.empty()) {
      *error = "no host before ':' in '" + text + "'";
      return false;
    }
  } else if (portRequired) {
    portPart = text;
  } else {
    hostPart = withoutBrackets(text);
  }
  if (!portRequired && hostPart.empty()) {
    *error = "no host in '" + text + "'";
    return false;
  }
  int value = defaultPort;
  if ((portRequired || colon != std::string::npos) && !parsePort(portPart, &value)) {
    *error = "not a port number (0..65535): '" + portPart + "'";
    return false;
  }
  *host = hostPart.empty() ? defaultHost : hostPart;
  *port = value;
  return true;
}

}  // namespace kw_cli
