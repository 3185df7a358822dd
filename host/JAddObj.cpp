#include "JAddObj.h"

#include <cmath>

#include "JDictionary.h"
#include "JOutputStream.h"

namespace {

constexpr double kCoordinateLimit = 1e9;

bool usableCoordinate(double v) { return std::isfinite(v) && std::fabs(v) <= kCoordinateLimit; }

bool usableExtent(double v) { return usableCoordinate(v) && v >= 0.0; }

}  // namespace

JAddObj::JAddObj() = default;

JAddObj::~JAddObj() = default;

void JAddObj::writeContent(JOutputStream& stream) {
  putDouble(stream, "x", getX());
  putDouble(stream, "y", getY());
  putDouble(stream, "width", getWidth());
  putDouble(stream, "height", getHeight());
  putObject(stream, "label", getLabel());
}

void JAddObj::readContent(JDictionary& dictionary) {
  const double x = getDouble(dictionary, "x", getX());
  const double y = getDouble(dictionary, "y", getY());
  const double w = getDouble(dictionary, "width", getWidth());
  const double h = getDouble(dictionary, "height", getHeight());
  setLocation(usableCoordinate(x) ? x : getX(), usableCoordinate(y) ? y : getY());
  setSize(usableExtent(w) ? w : getWidth(), usableExtent(h) ? h : getHeight());
  if (auto* label = static_cast<JString*>(getObject(dictionary, "label"))) {
    setLabel(JString(static_cast<char*>(*label)));
  }
}

const char* JAddObj::className() const { return "JAddObj"; }

JObject* JAddObj::clone() const { return new JAddObj(*this); }
