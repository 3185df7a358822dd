#include "apps/flowhost/blocks/JDisplayObj.h"

#include <algorithm>
#include <cstdio>

#include "host/JDictionary.h"
#include "host/JIntegerData.h"
#include "host/JLinkObj.h"
#include "host/JOutputStream.h"
#include "host/JRealData.h"
#include "host/JStringData.h"

namespace {

// A tag as a one-line heading: the sniffer's tags end with a line feed.
std::string oneLine(const char* text) {
  std::string line = text != nullptr ? text : "";
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
    line.pop_back();
  }
  std::replace(line.begin(), line.end(), '\n', ' ');
  return line;
}

}  // namespace

JDisplayObj::JDisplayObj(int inputs) {
  moduleColor = JColor::white;
  setInputs(inputs);
}

JDisplayObj::~JDisplayObj() = default;

void JDisplayObj::setInputs(int inputs) {
  igm = std::clamp(inputs, 1, kMaxInputs);
  values_.resize(static_cast<size_t>(igm));
}

void JDisplayObj::writeContent(JOutputStream& stream) {
  JAddObj::writeContent(stream);
  putInteger(stream, "inputs", igm);
}

void JDisplayObj::readContent(JDictionary& dictionary) {
  JAddObj::readContent(dictionary);
  setInputs(getInteger(dictionary, "inputs", igm));
}

const char* JDisplayObj::className() const { return "JDisplayObj"; }

JObject* JDisplayObj::clone() const { return new JDisplayObj(*this); }

JString JDisplayObj::inputTag(int n) {
  JLinkObj* link = inputSet(n).at(0);
  if (link != nullptr && link->source() != nullptr) {
    const std::string tag = oneLine(link->source()->outputTag(link->output()));
    if (!tag.empty()) return JString(tag.c_str());
  }
  return JString(("in " + std::to_string(n)).c_str());
}

int JDisplayObj::inputType(int n) {
  JLinkObj* link = inputSet(n).at(0);
  if (link == nullptr || link->source() == nullptr) return JIntegerData::id;
  return link->source()->outputType(link->output());
}

bool JDisplayObj::inputAllowed(int n) { return inputSet(n).isEmpty(); }

void JDisplayObj::engine(int n, JLinkObj& link) {
  if (n < 0 || n >= igm) return;
  Value value;
  value.type =
      link.source() != nullptr ? link.source()->outputType(link.output()) : JIntegerData::id;
  bool reached = false;
  if (value.type == JRealData::id) {
    reached = link.access(JRealData(value.real));
  } else if (value.type == JStringData::id) {
    JString text;
    reached = link.access(JStringData(text));
    value.text = static_cast<char*>(text);
  } else {
    value.type = JIntegerData::id;  // any other type is read as an integer
    reached = link.access(JIntegerData(value.integer));
  }
  if (!reached) return;
  value.received = true;
  values_[static_cast<size_t>(n)] = std::move(value);
  ++received_;
}

const JDisplayObj::Value* JDisplayObj::last(int n) const {
  if (n < 0 || n >= static_cast<int>(values_.size())) return nullptr;
  return &values_[static_cast<size_t>(n)];
}

std::string JDisplayObj::shown(const Value& value) {
  if (!value.received) return "-";
  if (value.type == JStringData::id) return oneLine(value.text.c_str());
  char buffer[64];
  if (value.type == JRealData::id) {
    std::snprintf(buffer, sizeof buffer, "%.8g", value.real);
  } else {
    std::snprintf(buffer, sizeof buffer, "%d", value.integer);
  }
  return buffer;
}

// One line per input, top to bottom: "<tag>: <last value>".
void JDisplayObj::draw(JGraphics graphics, int x, int y, int w, int h) {
  const int lineHeight = std::max(h / igm, 1);
  for (int n = 0; n < igm; ++n) {
    const std::string tag = static_cast<char*>(inputTag(n));
    const std::string line = tag + ": " + shown(values_[static_cast<size_t>(n)]);
    drawText(graphics, line.c_str(), JRect(x, y + n * lineHeight, w, lineHeight));
  }
}
