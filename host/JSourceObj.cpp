#include "JSourceObj.h"

#include <algorithm>

#include "JDictionary.h"
#include "JIntegerData.h"
#include "JOutputStream.h"
#include "JRealData.h"
#include "JStringData.h"

JSourceObj::JSourceObj(int outputs) {
  moduleColor = JColor::lightGray;
  setOutputs(outputs);
}

JSourceObj::~JSourceObj() = default;

void JSourceObj::setOutputs(int outputs) {
  ogm = std::clamp(outputs, 1, kMaxOutputs);
  slots_.resize(static_cast<size_t>(ogm), Slot{JIntegerData::id, 0, 0.0, JString()});
}

JSourceObj::Slot* JSourceObj::slot(int n) {
  if (n < 0 || n >= static_cast<int>(slots_.size())) return nullptr;
  return &slots_[static_cast<size_t>(n)];
}

void JSourceObj::writeContent(JOutputStream& stream) {
  JAddObj::writeContent(stream);
  putInteger(stream, "outputs", ogm);
}

void JSourceObj::readContent(JDictionary& dictionary) {
  JAddObj::readContent(dictionary);
  setOutputs(getInteger(dictionary, "outputs", ogm));
}

const char* JSourceObj::className() const { return "JSourceObj"; }

JObject* JSourceObj::clone() const { return new JSourceObj(*this); }

JString JSourceObj::outputTag(int n) { return JString(("out " + std::to_string(n)).c_str()); }

int JSourceObj::outputType(int n) {
  const Slot* s = slot(n);
  return s != nullptr ? s->type : JIntegerData::id;
}

void JSourceObj::draw(JGraphics graphics, int x, int y, int w, int h) {
  drawText(graphics, "source", JRect(x, y, w, h));
}

void JSourceObj::access(int n, JLinkObj&, const JDataType& data) {
  const Slot* s = slot(n);
  if (s == nullptr) return;
  if (s->type == JRealData::id) {
    static_cast<double&>(data) = s->real;
  } else if (s->type == JStringData::id) {
    static_cast<JString&>(data) =
        JString(static_cast<char*>(s->text));  // the reader gets its own copy
  } else {
    static_cast<int&>(data) = s->integer;
  }
}

void JSourceObj::setInteger(int n, int value) {
  if (Slot* s = slot(n)) *s = Slot{JIntegerData::id, value, 0.0, JString()};
}

void JSourceObj::setReal(int n, double value) {
  if (Slot* s = slot(n)) *s = Slot{JRealData::id, 0, value, JString()};
}

void JSourceObj::setString(int n, const JString& value) {
  if (Slot* s = slot(n)) *s = Slot{JStringData::id, 0, 0.0, JString(static_cast<char*>(value))};
}
