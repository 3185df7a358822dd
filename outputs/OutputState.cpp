#include "outputs/OutputState.h"

namespace kw_out {

const char* stateWord(OutputStateChange::State state) {
  switch (state) {
    case OutputStateChange::State::Connected: return "connected";
    case OutputStateChange::State::Refused: return "refused";
    case OutputStateChange::State::Lost: return "lost";
    case OutputStateChange::State::Back: return "back";
  }
  return "unknown";
}

std::string describe(const OutputStateChange& change) {
  std::string text = change.output + " " + stateWord(change.state);
  const std::string to = change.peer.empty() ? "" : " to " + change.peer;
  switch (change.state) {
    case OutputStateChange::State::Connected: text += to; break;
    case OutputStateChange::State::Back: text += ": connected" + to + " again"; break;
    case OutputStateChange::State::Refused:
    case OutputStateChange::State::Lost:
      if (!change.reason.empty()) text += ": " + change.reason;
      break;
  }
  return text;
}

}  // namespace kw_out
