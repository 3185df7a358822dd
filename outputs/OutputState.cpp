#include "outputs/OutputState.h"

namespace kw_out {

const char* stateWord(OutputStateChange::State state) {
  switch (state) {
    case OutputStateChange::State::Connected: return "connected";
    case OutputStateChange::State::Refused: return "refused";
    case OutputStateChange::State::Lost: return "lost";
  }
  return "unknown";
}

}  // namespace kw_out
