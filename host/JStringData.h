// JStringData: a text port value bound to the caller's JString. A block
// writing it assigns a JString, which the bound variable then shares.
// See JDataType for ownership and thread rules.
#pragma once

#include "JDataType.h"

class J_EXPORT JStringData : public JDataType {
 public:
  static constexpr int id = 3;
  explicit JStringData(JString& variable) : JDataType(id, &variable) {}
};
