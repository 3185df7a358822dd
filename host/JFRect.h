// JFRect: a rectangle with real coordinates in model space: its top-left
// corner (the JFPoint part) and its width and height. A block's position and
// extent, and the area of a port, are JFRects.
//
// Owns nothing. Thread safety: host's thread only.
// Width and height are not negative when set through setSize/setBounds.
#pragma once

#include "JFPoint.h"

class J_EXPORT JFRect : public JFPoint {
 public:
  JFRect();
  JFRect(double x, double y, double width, double height);
  JFRect(const JFRect&) = default;
  JFRect& operator=(const JFRect&) = default;
  ~JFRect() override;

  const char* className() const override;
  JObject* clone() const override;

  double getWidth() const { return width_; }
  double getHeight() const { return height_; }
  // Negative sizes are taken as 0.
  void setSize(double width, double height);
  void setBounds(double x, double y, double width, double height);
  // The rectangle's own bounds (a copy, without whatever derives from it).
  JFRect getBounds() const;

 private:
  double width_ = 0.0;
  double height_ = 0.0;
};
