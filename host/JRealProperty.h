// JRealProperty: a real property. The two integers say how the dialog shows
// the value: `width` digits in all, `precision` of them after the point.
// Thread safety: host's thread only.
#pragma once

#include "JProperty.h"

class J_EXPORT JRealProperty : public JProperty {
 public:
  JRealProperty(const JString& name, double value, int width, int precision);
  ~JRealProperty() override;

  const char* className() const override;
  JObject* clone() const override;

  double getValue() const { return value_; }
  void setValue(double value) { value_ = value; }
  int getWidth() const { return width_; }
  int getPrecision() const { return precision_; }

 private:
  double value_;
  int width_;
  int precision_;
};
