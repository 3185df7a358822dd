// JProperty: one entry of a block's property list, as the host's property
// dialog shows and edits it. The block builds the list in getProperties; the
// dialog hands each edited property back to updateProperty, where the block
// matches getName() and reads the edited value from the derived class
// (JFileProperty, JIntegerProperty, JRealProperty, JStringProperty).
//
// Owns its name. Thread safety: host's thread only.
#pragma once

#include "JObject.h"
#include "JString.h"

class J_EXPORT JProperty : public JObject {
 public:
  explicit JProperty(const JString& name);
  JProperty(const JProperty&) = default;
  JProperty& operator=(const JProperty&) = default;
  ~JProperty() override;

  const char* className() const override;
  JObject* clone() const override;

  JString getName() const { return name_; }

 private:
  JString name_;
};
