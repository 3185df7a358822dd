// JFileProperty: a file name property, offered with a file name filter such
// as "*.nod". The dialog edits the value.
// Owns its texts. Thread safety: host's thread only.
#pragma once

#include "JProperty.h"

class J_EXPORT JFileProperty : public JProperty {
 public:
  JFileProperty(const JString& name, const JString& value, const JString& filter);
  ~JFileProperty() override;

  const char* className() const override;
  JObject* clone() const override;

  JString getValue() const { return value_; }
  void setValue(const JString& value) { value_ = value; }
  JString getFilter() const { return filter_; }

 private:
  JString value_;
  JString filter_;
};
