#include "apps/flowhost/blocks/JDegreeTextObj.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/JDictionary.h"
#include "host/JLinkObj.h"
#include "host/JOutputStream.h"
#include "host/JRealData.h"
#include "host/JStringData.h"
#include "host/JStringProperty.h"

namespace {

constexpr double kUnitsPerDegree = 100000.0;  // five fraction digits

}  // namespace

JDegreeTextObj::JDegreeTextObj() {
  igm = 1;
  ogm = 1;
  moduleColor = JColor(200, 235, 255);
}

JDegreeTextObj::~JDegreeTextObj() = default;

const char* JDegreeTextObj::axisName(Axis axis) {
  return axis == Axis::Latitude ? "latitude" : "longitude";
}

std::optional<JDegreeTextObj::Axis> JDegreeTextObj::axisFromName(const char* name) {
  if (name == nullptr) return std::nullopt;
  if (std::strcmp(name, "latitude") == 0) return Axis::Latitude;
  if (std::strcmp(name, "longitude") == 0) return Axis::Longitude;
  return std::nullopt;
}

std::optional<std::string> JDegreeTextObj::format(double degrees, Axis axis) {
  const double limit = axis == Axis::Latitude ? 90.0 : 180.0;
  if (!std::isfinite(degrees) || std::fabs(degrees) > limit) return std::nullopt;
  // At most 180 * 100000, far inside the range of long long.
  const long long units = std::llround(degrees * kUnitsPerDegree);
  const long long magnitude = units < 0 ? -units : units;
  const char letter = axis == Axis::Latitude ? (units < 0 ? 'S' : 'N') : (units < 0 ? 'W' : 'E');
  // "%lld.%05lld %c" of the whole degrees, the five fraction digits and the
  // letter, written by hand: every map block's input passes here each tick.
  char text[16];
  char* end = text + sizeof text;
  char* p = end;
  *--p = letter;
  *--p = ' ';
  long long rest = magnitude;
  for (int digit = 0; digit < 5; ++digit, rest /= 10) *--p = static_cast<char>('0' + rest % 10);
  *--p = '.';
  do {
    *--p = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest > 0);
  return std::string(p, end);
}

void JDegreeTextObj::writeContent(JOutputStream& stream) {
  JAddObj::writeContent(stream);
  putObject(stream, "axis", JString(axisName(axis_)));
}

void JDegreeTextObj::readContent(JDictionary& dictionary) {
  JAddObj::readContent(dictionary);
  if (auto* name = static_cast<JString*>(getObject(dictionary, "axis"))) {
    if (const auto axis = axisFromName(static_cast<char*>(*name))) axis_ = *axis;
  }
}

const char* JDegreeTextObj::className() const { return "JDegreeTextObj"; }

JObject* JDegreeTextObj::clone() const { return new JDegreeTextObj(*this); }

JArray JDegreeTextObj::getProperties() {
  JArray properties = JModuleObj::getProperties();
  properties.append(new JStringProperty("axis", axisName(axis_)));
  return properties;
}

bool JDegreeTextObj::updateProperty(JProperty& property) {
  if (JModuleObj::updateProperty(property)) return true;
  auto* text = dynamic_cast<JStringProperty*>(&property);
  if (text == nullptr || !(property.getName() == "axis")) return false;
  const auto axis = axisFromName(static_cast<char*>(text->getValue()));
  if (!axis) return false;
  axis_ = *axis;
  return true;
}

JString JDegreeTextObj::inputTag(int n) { return n == 0 ? JString("degrees") : JString(); }

JString JDegreeTextObj::outputTag(int n) { return n == 0 ? JString("text") : JString(); }

int JDegreeTextObj::inputType(int) { return JRealData::id; }

int JDegreeTextObj::outputType(int) { return JStringData::id; }

bool JDegreeTextObj::inputAllowed(int n) { return inputSet(n).isEmpty(); }

void JDegreeTextObj::draw(JGraphics graphics, int x, int y, int w, int h) {
  drawText(graphics, axisName(axis_), JRect(x, y, w, h / 2));
  drawText(graphics, text_.empty() ? "-" : text_.c_str(), JRect(x, y + h / 2, w, h - h / 2));
}

void JDegreeTextObj::access(int n, JLinkObj&, const JDataType& data) {
  // Nothing reaches the reader before a first usable value.
  if (n == 0 && !text_.empty()) static_cast<JString&>(data) = JString(text_.c_str());
}

void JDegreeTextObj::engine(int n, JLinkObj& link) {
  if (n != 0) return;
  double degrees = 0.0;
  if (!link.access(JRealData(degrees))) return;
  const auto text = format(degrees, axis_);
  if (!text) return;
  text_ = *text;
  broadcast(0);
}
