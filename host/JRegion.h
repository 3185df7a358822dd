// JRegion: the part of the drawing surface that needs painting. A block
// whose pixel rectangle does not meet the region is not drawn.
//
// A plain value: either everything (the default) or one pixel rectangle.
// Thread safety: host's thread only.
#pragma once

#include "JExport.h"
#include "JRect.h"

class J_EXPORT JRegion {
 public:
  JRegion();  // the whole surface
  explicit JRegion(const JRect& bounds);

  bool isEverything() const { return everything_; }
  const JRect& getBounds() const { return bounds_; }
  // True when `rect` shares at least one pixel with the region. An empty
  // rectangle (no width or no height) meets only the whole surface.
  bool intersects(const JRect& rect) const;

 private:
  bool everything_ = true;
  JRect bounds_;
};
