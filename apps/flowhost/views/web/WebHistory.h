// WebHistory: where every unit was over the last hour, for the page's time
// slider. Every kStep seconds of the run it keeps one frame: each unit's
// last position and health at that moment, in 9 bytes a unit (degrees
// times 100,000 as 32-bit integers, the health grade as a byte), so an
// hour of a thousand units is about 6.5 MB; frames older than kKeep go.
//
//   rangeJson():  {"from": t, "to": t, "step": s, "frames": n, "wallFrom": ms, "wallTo": ms}
//   frameJson(t): the frame nearest to run time t:
//                 {"t": t, "wall": ms, "p": [[index, lat, lon, health], ...]}
//                 (units never heard by then are left out)
//
// Owns its frames. Thread safety: add() from the runner's thread, the rest
// from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "apps/flowhost/views/web/WebSnapshot.h"
#include "platform/mutex.h"

namespace flowhost {

class WebHistory {
 public:
  static constexpr double kStep = 5.0;     // seconds between frames
  static constexpr double kKeep = 3600.0;  // seconds of frames kept

  // Keeps a frame of `snapshot` when kStep seconds passed since the last.
  void add(const WebSnapshot& snapshot) KW_EXCLUDES(mutex_);
  std::string rangeJson() const KW_EXCLUDES(mutex_);
  std::string frameJson(double t) const KW_EXCLUDES(mutex_);
  size_t frames() const KW_EXCLUDES(mutex_);

 private:
  static constexpr int32_t kNoFix = INT32_MIN;
  struct Frame {
    double t = 0.0;
    int64_t wallMs = 0;
    std::vector<int32_t> lat, lon;  // degrees * 1e5, kNoFix for none
    std::vector<uint8_t> health;
  };

  mutable kw::Mutex mutex_;
  std::deque<Frame> frames_ KW_GUARDED_BY(mutex_);
};

}  // namespace flowhost
