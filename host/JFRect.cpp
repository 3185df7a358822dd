#include "JFRect.h"

JFRect::JFRect() = default;

JFRect::JFRect(double x, double y, double width, double height) : JFPoint(x, y) {
  setSize(width, height);
}

JFRect::~JFRect() = default;

const char* JFRect::className() const { return "JFRect"; }

JObject* JFRect::clone() const { return new JFRect(*this); }

void JFRect::setSize(double width, double height) {
  // Written so that NaN, which fails every comparison, also becomes 0.
  width_ = width > 0.0 ? width : 0.0;
  height_ = height > 0.0 ? height : 0.0;
}

void JFRect::setBounds(double x, double y, double width, double height) {
  setLocation(x, y);
  setSize(width, height);
}

JFRect JFRect::getBounds() const { return JFRect(getX(), getY(), width_, height_); }
