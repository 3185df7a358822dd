// JIntegerProperty: an integer property with the range the dialog offers.
// The value set by the dialog is handed on as edited; keeping it within the
// range is the block's business.
// Thread safety: host's thread only.
#pragma once

#include "JProperty.h"

class J_EXPORT JIntegerProperty : public JProperty {
 public:
  JIntegerProperty(const JString& name, int value, int minimum, int maximum);
  ~JIntegerProperty() override;

  const char* className() const override;
  JObject* clone() const override;

  int getValue() const { return value_; }
  void setValue(int value) { value_ = value; }
  int getMinimum() const { return minimum_; }
  int getMaximum() const { return maximum_; }

 private:
  int value_;
  int minimum_;
  int maximum_;
};
