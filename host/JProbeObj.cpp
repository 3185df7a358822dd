#include "JProbeObj.h"

#include <algorithm>
#include <cstdio>

#include "JDictionary.h"
#include "JIntegerData.h"
#include "JLinkObj.h"
#include "JOutputStream.h"
#include "JRealData.h"
#include "JStringData.h"

JProbeObj::JProbeObj(int inputs) {
  moduleColor = JColor::white;
  setInputs(inputs);
}

JProbeObj::~JProbeObj() = default;

void JProbeObj::setInputs(int inputs) { igm = std::clamp(inputs, 1, kMaxInputs); }

void JProbeObj::writeContent(JOutputStream& stream) {
  JAddObj::writeContent(stream);
  putInteger(stream, "inputs", igm);
}

void JProbeObj::readContent(JDictionary& dictionary) {
  JAddObj::readContent(dictionary);
  setInputs(getInteger(dictionary, "inputs", igm));
}

const char* JProbeObj::className() const { return "JProbeObj"; }

JObject* JProbeObj::clone() const { return new JProbeObj(*this); }

JString JProbeObj::inputTag(int n) { return JString(("in " + std::to_string(n)).c_str()); }

int JProbeObj::inputType(int n) {
  JLinkObj* link = inputSet(n).at(0);
  if (link == nullptr || link->source() == nullptr) return JIntegerData::id;
  return link->source()->outputType(link->output());
}

bool JProbeObj::inputAllowed(int n) { return inputSet(n).isEmpty(); }

void JProbeObj::engine(int n, JLinkObj& link) {
  Value value;
  value.input = n;
  value.type =
      link.source() != nullptr ? link.source()->outputType(link.output()) : JIntegerData::id;
  bool received = false;
  if (value.type == JRealData::id) {
    received = link.access(JRealData(value.real));
  } else if (value.type == JStringData::id) {
    JString text;
    received = link.access(JStringData(text));
    value.text = static_cast<char*>(text);
  } else {
    value.type = JIntegerData::id;  // any unknown type is read as an integer
    received = link.access(JIntegerData(value.integer));
  }
  if (received) values_.push_back(std::move(value));
}

const JProbeObj::Value* JProbeObj::last(int input) const {
  for (auto it = values_.rbegin(); it != values_.rend(); ++it) {
    if (it->input == input) return &*it;
  }
  return nullptr;
}

std::string JProbeObj::display(const Value& value) {
  if (value.type == JStringData::id) return value.text;
  char buffer[64];
  if (value.type == JRealData::id) {
    std::snprintf(buffer, sizeof buffer, "%.6g", value.real);
  } else {
    std::snprintf(buffer, sizeof buffer, "%d", value.integer);
  }
  return buffer;
}

// One line per input, top to bottom: the last value received, or "-".
void JProbeObj::draw(JGraphics graphics, int x, int y, int w, int h) {
  const int lineHeight = h / igm;
  for (int n = 0; n < igm; ++n) {
    const Value* value = last(n);
    const std::string text = value != nullptr ? display(*value) : "-";
    drawText(graphics, text.c_str(), JRect(x, y + n * lineHeight, w, lineHeight));
  }
}
