#include "apps/flowhost/views/web/WebHistory.h"

#include <cmath>

#include "outputs/TextOut.h"

namespace flowhost {

using kw_out::appendFixed;
using kw_out::appendInt;

void WebHistory::add(const WebSnapshot& snapshot) {
  {
    kw::MutexLock lock(&mutex_);
    if (!frames_.empty() && snapshot.t - frames_.back().t < kStep && snapshot.t >= frames_.back().t)
      return;
  }
  Frame frame;
  frame.t = snapshot.t;
  frame.wallMs = snapshot.wallMs;
  const size_t count = snapshot.positions.size();
  frame.lat.resize(count, kNoFix);
  frame.lon.resize(count, kNoFix);
  frame.health.resize(count, 2);
  for (size_t i = 0; i < count; ++i) {
    const WebPosition& p = snapshot.positions[i];
    frame.health[i] = static_cast<uint8_t>(p.health < 0 || p.health > 2 ? 2 : p.health);
    if (!p.heard || !std::isfinite(p.lat) || !std::isfinite(p.lon)) continue;
    frame.lat[i] = static_cast<int32_t>(std::lround(p.lat * 1e5));
    frame.lon[i] = static_cast<int32_t>(std::lround(p.lon * 1e5));
  }
  kw::MutexLock lock(&mutex_);
  frames_.push_back(std::move(frame));
  while (!frames_.empty() && frames_.back().t - frames_.front().t > kKeep) frames_.pop_front();
}

size_t WebHistory::frames() const {
  kw::MutexLock lock(&mutex_);
  return frames_.size();
}

std::string WebHistory::rangeJson() const {
  kw::MutexLock lock(&mutex_);
  std::string out = "{\"step\":";
  appendFixed(&out, kStep, 1);
  out.append(",\"frames\":");
  appendInt(&out, static_cast<int64_t>(frames_.size()));
  if (!frames_.empty()) {
    out.append(",\"from\":");
    appendFixed(&out, frames_.front().t, 3);
    out.append(",\"to\":");
    appendFixed(&out, frames_.back().t, 3);
    out.append(",\"wallFrom\":");
    appendInt(&out, frames_.front().wallMs);
    out.append(",\"wallTo\":");
    appendInt(&out, frames_.back().wallMs);
  }
  out.push_back('}');
  return out;
}

std::string WebHistory::frameJson(double t) const {
  kw::MutexLock lock(&mutex_);
  if (frames_.empty()) return "{\"p\":[]}";
  // The frames are in time order: the first at or after t, or the one
  // before it when that is nearer.
  size_t lo = 0, hi = frames_.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (frames_[mid].t < t)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo == frames_.size() || (lo > 0 && t - frames_[lo - 1].t < frames_[lo].t - t)) --lo;
  const Frame& f = frames_[lo];
  std::string out;
  out.reserve(32 + f.lat.size() * 28);
  out.append("{\"t\":");
  appendFixed(&out, f.t, 3);
  out.append(",\"wall\":");
  appendInt(&out, f.wallMs);
  out.append(",\"p\":[");
  bool first = true;
  for (size_t i = 0; i < f.lat.size(); ++i) {
    if (f.lat[i] == kNoFix) continue;
    if (!first) out.push_back(',');
    first = false;
    out.push_back('[');
    appendInt(&out, static_cast<int64_t>(i));
    out.push_back(',');
    appendFixed(&out, f.lat[i] / 1e5, 5);
    out.push_back(',');
    appendFixed(&out, f.lon[i] / 1e5, 5);
    out.push_back(',');
    appendInt(&out, f.health[i]);
    out.push_back(']');
  }
  out.append("]}");
  return out;
}

}  // namespace flowhost
