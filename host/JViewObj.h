// JViewObj: an object shown in the graph view. Its JFRect part is its
// position and extent in model units. Adds the lifecycle operations the host
// calls on every block: startup (after making or restoring it), reset and
// close (before destroying it).
//
// Owns nothing beyond its rectangle. Thread safety: host's thread only.
// Virtual operations keep the host's table order: startup, reset, close.
#pragma once

#include "JFRect.h"

class J_EXPORT JViewObj : public JFRect {
 public:
  // A view of the default extent, 80 by 60 at the origin.
  JViewObj();
  JViewObj(const JViewObj&) = default;
  JViewObj& operator=(const JViewObj&) = default;
  ~JViewObj() override;

  const char* className() const override;
  JObject* clone() const override;

  // The base versions do nothing.
  virtual void startup();
  virtual void reset();
  virtual void close();
};
