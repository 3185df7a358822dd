// JFPoint: a point with real coordinates in the graph's model space (where
// port connection points lie). First link of the block class chain
// JObject, JFPoint, JFRect, JViewObj, JModuleObj, JAddObj.
//
// Owns nothing. Thread safety: host's thread only.
// The coordinates are private so that parameters named x and y in blocks do
// not shadow them.
#pragma once

#include "JObject.h"

class J_EXPORT JFPoint : public JObject {
 public:
  JFPoint();
  JFPoint(double x, double y);
  JFPoint(const JFPoint&) = default;
  JFPoint& operator=(const JFPoint&) = default;
  ~JFPoint() override;

  const char* className() const override;
  JObject* clone() const override;

  double getX() const { return x_; }
  double getY() const { return y_; }
  void setLocation(double x, double y);

 private:
  double x_ = 0.0;
  double y_ = 0.0;
};
