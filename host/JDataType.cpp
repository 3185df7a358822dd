#include "JDataType.h"

#include "JIntegerData.h"
#include "JRealData.h"
#include "JStringData.h"

JDataType::JDataType(int type, void* variable) : type_(type), variable_(variable) {}

JDataType::~JDataType() = default;

JDataType::operator int&() const {
  if (type_ != JIntegerData::id || variable_ == nullptr) return scratchInteger_;
  reached_ = true;
  return *static_cast<int*>(variable_);
}

JDataType::operator double&() const {
  if (type_ != JRealData::id || variable_ == nullptr) return scratchReal_;
  reached_ = true;
  return *static_cast<double*>(variable_);
}

JDataType::operator JString&() const {
  if (type_ != JStringData::id || variable_ == nullptr) return scratchText_;
  reached_ = true;
  return *static_cast<JString*>(variable_);
}
