// JRect: a rectangle in whole pixels: top-left corner, width and height.
// What a block's face is drawn into (getIExtent) and what a text is drawn in.
//
// A plain value. Thread safety: any thread may use its own copies.
#pragma once

#include "JExport.h"

class J_EXPORT JRect {
 public:
  JRect() = default;
  JRect(int x0, int y0, int w, int h) : x(x0), y(y0), width(w), height(h) {}

  bool operator==(const JRect&) const = default;

  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};
