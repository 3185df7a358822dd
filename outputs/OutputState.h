// OutputStateChange: one change of an output's state, as the output forms
// that talk to a peer report it (the MQTT client to its broker): connected,
// refused or lost with the reason, connected again. Each change is
// reported once, when it happens; an output that keeps failing for the
// same cause reports nothing new.
//
// A plain value; any thread may use its own copy.
#pragma once

#include <string>

namespace kw_out {

struct OutputStateChange {
  enum class State {
    Connected,  // working
    Refused,    // never got through: no route, refused, unknown host
    Lost,       // was working and went away
  };
  std::string output;  // the form ("mqtt")
  State state = State::Lost;
  std::string reason;  // empty for Connected
};

// "connected", "refused", "lost".
const char* stateWord(OutputStateChange::State state);

}  // namespace kw_out
