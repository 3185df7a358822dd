#include "JColor.h"

#include <algorithm>

// Named colours: constant-initialised (constexpr constructor), so they hold
// their values before any static initialiser of the host or a plug-in runs.
const JColor JColor::black(0, 0, 0);
const JColor JColor::white(255, 255, 255);
const JColor JColor::gray(128, 128, 128);
const JColor JColor::lightGray(192, 192, 192);
const JColor JColor::green(0, 128, 0);

namespace {

constexpr double kFactor = 0.7;
// The smallest component that still grows visibly when divided by kFactor.
constexpr int kFloor = 3;

int brighten(int c) {
  if (c > 0 && c < kFloor) c = kFloor;
  return std::min(static_cast<int>(c / kFactor), 255);
}

}  // namespace

JColor JColor::brighter() const {
  if (red_ == 0 && green_ == 0 && blue_ == 0) return JColor(kFloor, kFloor, kFloor);
  return JColor(brighten(red_), brighten(green_), brighten(blue_));
}

JColor JColor::darker() const {
  return JColor(static_cast<int>(red_ * kFactor), static_cast<int>(green_ * kFactor),
                static_cast<int>(blue_ * kFactor));
}
