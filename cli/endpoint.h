// Endpoints as the programs' command lines give them: "HOST:PORT" with one
// of the two left out and taken from the defaults. The one reader of this
// form for every option that takes one (flowhost's --gpsd, --mqtt and
// --http).
//
//   "2947"            port only            (when the port is required)
//   "broker.lan"      host only            (when it is not)
//   "0.0.0.0:81"      both; the last ':' parts them
//   "[::1]:8443"      brackets around the host are taken off
//
// A plain function; any thread.
#pragma once

#include <string>

namespace kw_cli {

// Splits "[HOST:]PORT" (`portRequired`) or "HOST[:PORT]" into its parts,
// using the defaults for what is left out. The port is a whole number from
// 0 to 65535; the host is not looked up. False with the reason in *error
// ("not a port number (0..65535): 'x'", "no host before ':' in ':5'").
bool parseEndpoint(const std::string& text, bool portRequired, const std::string& defaultHost,
                   int defaultPort, std::string* host, int* port, std::string* error);

}  // namespace kw_cli
