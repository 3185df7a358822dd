#include "JFPoint.h"

JFPoint::JFPoint() = default;

JFPoint::JFPoint(double x, double y) : x_(x), y_(y) {}

JFPoint::~JFPoint() = default;

const char* JFPoint::className() const { return "JFPoint"; }

JObject* JFPoint::clone() const { return new JFPoint(*this); }

void JFPoint::setLocation(double x, double y) {
  x_ = x;
  y_ = y;
}
