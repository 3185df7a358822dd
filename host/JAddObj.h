// JAddObj: the base class of the plug-in blocks. Adds the storing of the
// block's own base entries to JModuleObj: a module's writeContent and
// readContent call JAddObj's first.
//
// Stored entries, in order: "x", "y", "width", "height" (reals: position and
// extent in model units) and "label" (text). Reading keeps the current value
// for a missing entry, a non-finite number, a coordinate beyond +-1e9 or a
// negative extent.
// Thread safety: host's thread only.
#pragma once

#include "JModuleObj.h"

class J_EXPORT JAddObj : public JModuleObj {
 public:
  JAddObj();
  JAddObj(const JAddObj&) = default;
  JAddObj& operator=(const JAddObj&) = default;
  ~JAddObj() override;

  void writeContent(JOutputStream& stream) override;
  void readContent(JDictionary& dictionary) override;
  const char* className() const override;
  JObject* clone() const override;
};
