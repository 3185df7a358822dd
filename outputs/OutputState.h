// OutputStateChange: one change of an output's state, as the output forms
// that talk to a peer or a reader report it (the MQTT client to its
// broker, the JSON stream to its reader): connected, refused or lost with
// the reason, back again. Each change is reported once, when it happens;
// an output that keeps failing for the same cause reports nothing new, and
// one that cannot get back after it was lost stays lost.
//
// A plain value; any thread may use its own copy.
#pragma once

#include <string>

namespace kw_out {

struct OutputStateChange {
  enum class State {
    Connected,  // working, the first time
    Refused,    // never got through: no route, refused, unknown host, not authorised
    Lost,       // was working and went away
    Back,       // working again after it was lost
  };
  std::string output;  // the form ("mqtt", "json")
  State state = State::Lost;
  std::string reason;  // why, for Refused and Lost
  std::string peer;    // whom the output talks to ("127.0.0.1:1883"), "" when none
};

// "connected", "refused", "lost", "back".
const char* stateWord(OutputStateChange::State state);

// The change in words, for the log and the JSON stream's "message":
// "mqtt connected to 127.0.0.1:1883", "mqtt lost: <reason>",
// "mqtt back: connected to 127.0.0.1:1883 again".
std::string describe(const OutputStateChange& change);

}  // namespace kw_out
