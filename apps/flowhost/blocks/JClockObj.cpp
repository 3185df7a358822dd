#include "apps/flowhost/blocks/JClockObj.h"

#include <cmath>
#include <cstdio>

#include "host/JDictionary.h"
#include "host/JIntegerData.h"
#include "host/JOutputStream.h"
#include "host/JRealProperty.h"

JClockObj::JClockObj() {
  igm = 0;
  ogm = 1;
  moduleColor = JColor(255, 236, 160);
}

JClockObj::~JClockObj() = default;

bool JClockObj::usableRate(double rate) {
  return std::isfinite(rate) && rate >= kMinRate && rate <= kMaxRate;
}

bool JClockObj::setRate(double rate) {
  if (!usableRate(rate)) return false;
  rate_ = rate;
  return true;
}

void JClockObj::setValue(int value) {
  value_ = value != 0 ? 1 : 0;
  broadcast(0);
}

void JClockObj::writeContent(JOutputStream& stream) {
  JAddObj::writeContent(stream);
  putDouble(stream, "rate", rate_);
}

void JClockObj::readContent(JDictionary& dictionary) {
  JAddObj::readContent(dictionary);
  setRate(getDouble(dictionary, "rate", rate_));
}

const char* JClockObj::className() const { return "JClockObj"; }

JObject* JClockObj::clone() const { return new JClockObj(*this); }

JArray JClockObj::getProperties() {
  JArray properties = JModuleObj::getProperties();
  properties.append(new JRealProperty("rate", rate_, 7, 2));
  return properties;
}

bool JClockObj::updateProperty(JProperty& property) {
  if (JModuleObj::updateProperty(property)) return true;
  auto* real = dynamic_cast<JRealProperty*>(&property);
  if (real == nullptr || !(property.getName() == "rate")) return false;
  return setRate(real->getValue());
}

JString JClockObj::outputTag(int n) { return n == 0 ? JString("clock") : JString(); }

int JClockObj::outputType(int) { return JIntegerData::id; }

void JClockObj::draw(JGraphics graphics, int x, int y, int w, int h) {
  char text[64];
  std::snprintf(text, sizeof text, "clock %g Hz", rate_);
  drawText(graphics, text, JRect(x, y, w, h / 2));
  drawText(graphics, value_ != 0 ? "1" : "0", JRect(x, y + h / 2, w, h - h / 2));
}

void JClockObj::access(int n, JLinkObj&, const JDataType& data) {
  if (n == 0) static_cast<int&>(data) = value_;
}
