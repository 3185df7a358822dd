// JRealData: a real port value bound to the caller's double.
// See JDataType for ownership and thread rules.
#pragma once

#include "JDataType.h"

class J_EXPORT JRealData : public JDataType {
 public:
  static constexpr int id = 2;
  explicit JRealData(double& variable) : JDataType(id, &variable) {}
};
