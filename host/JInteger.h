// JInteger: the host's integer limits, as offered to integer properties
// (for example a range from 1 to JInteger::MAX_VALUE).
// Constants only: owns nothing, any thread may read them.
#pragma once

#include <climits>

#include "JExport.h"

class J_EXPORT JInteger {
 public:
  static constexpr int MAX_VALUE = INT_MAX;
  static constexpr int MIN_VALUE = INT_MIN;
};
