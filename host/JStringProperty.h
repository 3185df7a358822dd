// JStringProperty: a text property.
// Owns its value. Thread safety: host's thread only.
#pragma once

#include "JProperty.h"

class J_EXPORT JStringProperty : public JProperty {
 public:
  JStringProperty(const JString& name, const JString& value);
  ~JStringProperty() override;

  const char* className() const override;
  JObject* clone() const override;

  JString getValue() const { return value_; }
  void setValue(const JString& value) { value_ = value; }

 private:
  JString value_;
};
