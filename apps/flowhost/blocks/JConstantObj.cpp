#include "apps/flowhost/blocks/JConstantObj.h"

#include <climits>
#include <string>

#include "host/JDictionary.h"
#include "host/JIntegerData.h"
#include "host/JIntegerProperty.h"
#include "host/JOutputStream.h"

JConstantObj::JConstantObj() {
  igm = 0;
  ogm = 1;
  moduleColor = JColor(220, 220, 255);
}

JConstantObj::~JConstantObj() = default;

void JConstantObj::writeContent(JOutputStream& stream) {
  JAddObj::writeContent(stream);
  putInteger(stream, "value", value_);
}

void JConstantObj::readContent(JDictionary& dictionary) {
  JAddObj::readContent(dictionary);
  value_ = getInteger(dictionary, "value", value_);
}

const char* JConstantObj::className() const { return "JConstantObj"; }

JObject* JConstantObj::clone() const { return new JConstantObj(*this); }

JArray JConstantObj::getProperties() {
  JArray properties = JModuleObj::getProperties();
  properties.append(new JIntegerProperty("value", value_, INT_MIN, INT_MAX));
  return properties;
}

bool JConstantObj::updateProperty(JProperty& property) {
  if (JModuleObj::updateProperty(property)) return true;
  auto* integer = dynamic_cast<JIntegerProperty*>(&property);
  if (integer == nullptr || !(property.getName() == "value")) return false;
  value_ = integer->getValue();
  announce();
  return true;
}

JString JConstantObj::outputTag(int n) { return n == 0 ? JString("value") : JString(); }

int JConstantObj::outputType(int) { return JIntegerData::id; }

void JConstantObj::draw(JGraphics graphics, int x, int y, int w, int h) {
  drawText(graphics, std::to_string(value_).c_str(), JRect(x, y, w, h));
}

void JConstantObj::access(int n, JLinkObj&, const JDataType& data) {
  if (n == 0) static_cast<int&>(data) = value_;
}
