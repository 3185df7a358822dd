#include "JRegion.h"

JRegion::JRegion() = default;

JRegion::JRegion(const JRect& bounds) : everything_(false), bounds_(bounds) {}

bool JRegion::intersects(const JRect& rect) const {
  if (everything_) return true;
  if (rect.width <= 0 || rect.height <= 0 || bounds_.width <= 0 || bounds_.height <= 0) {
    return false;
  }
  // 64-bit sums: the corners of a far-away rectangle must not overflow.
  const long long left = rect.x > bounds_.x ? rect.x : bounds_.x;
  const long long top = rect.y > bounds_.y ? rect.y : bounds_.y;
  const long long right1 = static_cast<long long>(rect.x) + rect.width;
  const long long right2 = static_cast<long long>(bounds_.x) + bounds_.width;
  const long long bottom1 = static_cast<long long>(rect.y) + rect.height;
  const long long bottom2 = static_cast<long long>(bounds_.y) + bounds_.height;
  return left < (right1 < right2 ? right1 : right2) &&
         top < (bottom1 < bottom2 ? bottom1 : bottom2);
}
