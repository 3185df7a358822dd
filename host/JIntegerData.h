// JIntegerData: an integer port value bound to the caller's int.
// See JDataType for ownership and thread rules.
#pragma once

#include "JDataType.h"

class J_EXPORT JIntegerData : public JDataType {
 public:
  static constexpr int id = 1;
  explicit JIntegerData(int& variable) : JDataType(id, &variable) {}
};
