#include "JModuleObj.h"

#include <algorithm>
#include <cmath>

#include "JClassRegistry.h"
#include "JComponent.h"
#include "JIntegerData.h"
#include "JLinkObj.h"
#include "JStringProperty.h"

namespace {

constexpr int kFrameDepth = 4;         // raised border of the frame, pixels
constexpr double kPixelLimit = 1e9;    // pixel coordinates are kept within +-this
constexpr double kDefaultStart = 0.1;  // default port stretch: 10% .. 90%
constexpr double kDefaultLength = 0.8;
constexpr int kDefaultPortSize = 6;

int toPixel(double value) {
  if (std::isnan(value)) return 0;
  if (value > kPixelLimit) value = kPixelLimit;
  if (value < -kPixelLimit) value = -kPixelLimit;
  return static_cast<int>(std::lround(value));
}

// Where port n lies along a face of length `extent`, from the face's start.
double along(int n, int first, int count, double start, double length, double extent) {
  if (count < 1) count = 1;
  const double share = (static_cast<double>(n) - first + 0.5) / count;
  return extent * (start + length * share);
}

}  // namespace

JModuleObj::JModuleObj() = default;

JModuleObj::JModuleObj(const JModuleObj& other)
    : JViewObj(other),
      igm(other.igm),
      ogm(other.ogm),
      moduleColor(other.moduleColor),
      label_(JString(static_cast<char*>(other.label_))) {}

JModuleObj& JModuleObj::operator=(const JModuleObj& other) {
  if (this != &other) {
    JViewObj::operator=(other);
    igm = other.igm;
    ogm = other.ogm;
    moduleColor = other.moduleColor;
    label_ = JString(static_cast<char*>(other.label_));
  }
  return *this;
}

JModuleObj::~JModuleObj() = default;

const char* JModuleObj::className() const { return "JModuleObj"; }

JObject* JModuleObj::clone() const { return new JModuleObj(*this); }

void JModuleObj::paint(JGraphics graphics, double dx, double dy, JRegion& region, double scale) {
  const JRect r = getIExtent(dx, dy, scale);
  if (!region.intersects(r)) return;
  graphics.setJColor(moduleColor);
  graphics.fill3DRect(r.x, r.y, r.width, r.height, kFrameDepth);
  graphics.setJColor(JColor::black);
  graphics.drawRect(r.x, r.y, r.width, r.height);
  draw(graphics, r.x, r.y, r.width, r.height);
}

JArray JModuleObj::getProperties() {
  JArray properties;
  properties.append(new JStringProperty("label", label_));
  return properties;
}

bool JModuleObj::updateProperty(JProperty& property) {
  auto* text = dynamic_cast<JStringProperty*>(&property);
  if (text == nullptr || !(property.getName() == "label")) return false;
  label_ = JString(static_cast<char*>(text->getValue()));
  return true;
}

JString JModuleObj::inputTag(int) { return JString(); }

JString JModuleObj::outputTag(int) { return JString(); }

int JModuleObj::inputType(int) { return JIntegerData::id; }

int JModuleObj::outputType(int) { return JIntegerData::id; }

void JModuleObj::draw(JGraphics, int, int, int, int) {}

void JModuleObj::access(int, JLinkObj&, const JDataType&) {}

bool JModuleObj::inputAllowed(int) { return true; }

bool JModuleObj::outputAllowed(int) { return true; }

JFRect JModuleObj::inputArea(int n) {
  return leftArea(n, 0, igm, kDefaultStart, kDefaultLength, kDefaultPortSize);
}

JFRect JModuleObj::outputArea(int n) {
  return rightArea(n, 0, ogm, kDefaultStart, kDefaultLength, kDefaultPortSize);
}

int JModuleObj::inputFace(int) { return LEFT_FACE; }

int JModuleObj::outputFace(int) { return RIGHT_FACE; }

JFPoint JModuleObj::inputPoint(int n, JLinkObj& link) {
  return leftPoint(n, link, 0, igm, kDefaultStart, kDefaultLength);
}

JFPoint JModuleObj::outputPoint(int n, JLinkObj& link) {
  return rightPoint(n, link, 0, ogm, kDefaultStart, kDefaultLength);
}

void JModuleObj::engine(int, JLinkObj&) {}

void JModuleObj::addButton(JComponent* component) { addModuleButton(component, this); }

void JModuleObj::indexOutputs() {
  int outputs = 0;
  for (const JLinkObj* link : outputLinks_) outputs = std::max(outputs, link->output() + 1);
  // Counting sort by output: the starts first, then each link in order.
  outputStarts_.assign(static_cast<size_t>(outputs) + 1, 0);
  for (const JLinkObj* link : outputLinks_) {
    if (link->output() >= 0) ++outputStarts_[static_cast<size_t>(link->output()) + 1];
  }
  for (size_t n = 1; n < outputStarts_.size(); ++n) outputStarts_[n] += outputStarts_[n - 1];
  outputIndex_.assign(outputStarts_.back(), OutputLink{nullptr, 0, nullptr});
  std::vector<size_t> next(outputStarts_.begin(), outputStarts_.end() - 1);
  for (JLinkObj* link : outputLinks_) {
    if (link->output() < 0) continue;
    outputIndex_[next[static_cast<size_t>(link->output())]++] =
        OutputLink{link->target(), link->input(), link};
  }
  outputsStale_ = false;
}

void JModuleObj::broadcast(int n) {
  if (outputsStale_) indexOutputs();
  if (n < 0 || static_cast<size_t>(n) + 1 >= outputStarts_.size()) return;
  // A snapshot: a target's engine must not disturb this walk (links may not
  // be removed during evaluation at all, and one made meanwhile rebuilds the
  // index). Most outputs have a link or two, kept without allocating.
  const size_t first = outputStarts_[static_cast<size_t>(n)];
  const size_t count = outputStarts_[static_cast<size_t>(n) + 1] - first;
  constexpr size_t kFew = 4;
  OutputLink few[kFew];
  std::vector<OutputLink> many;
  const OutputLink* links = few;
  const auto begin = outputIndex_.begin() + static_cast<std::ptrdiff_t>(first);
  if (count <= kFew) {
    std::copy(begin, begin + static_cast<std::ptrdiff_t>(count), few);
  } else {
    many.assign(begin, begin + static_cast<std::ptrdiff_t>(count));
    links = many.data();
  }
  for (size_t i = 0; i < count; ++i) {
    if (links[i].target != nullptr) links[i].target->engine(links[i].input, *links[i].link);
  }
}

JFPoint JModuleObj::topPoint(int n, JLinkObj&, int first, int count, double start, double length) {
  return JFPoint(getX() + along(n, first, count, start, length, getWidth()), getY());
}

JFPoint JModuleObj::leftPoint(int n, JLinkObj&, int first, int count, double start, double length) {
  return JFPoint(getX(), getY() + along(n, first, count, start, length, getHeight()));
}

JFPoint JModuleObj::rightPoint(int n, JLinkObj&, int first, int count, double start,
                               double length) {
  return JFPoint(getX() + getWidth(), getY() + along(n, first, count, start, length, getHeight()));
}

JFRect JModuleObj::topArea(int n, int first, int count, double start, double length, int size) {
  JLinkObj none;
  const JFPoint p = topPoint(n, none, first, count, start, length);
  return JFRect(p.getX() - size / 2.0, p.getY() - size, size, size);
}

JFRect JModuleObj::leftArea(int n, int first, int count, double start, double length, int size) {
  JLinkObj none;
  const JFPoint p = leftPoint(n, none, first, count, start, length);
  return JFRect(p.getX() - size, p.getY() - size / 2.0, size, size);
}

JFRect JModuleObj::rightArea(int n, int first, int count, double start, double length, int size) {
  JLinkObj none;
  const JFPoint p = rightPoint(n, none, first, count, start, length);
  return JFRect(p.getX(), p.getY() - size / 2.0, size, size);
}

JFocusSet JModuleObj::inputSet(int n) const {
  std::vector<JLinkObj*> result;
  for (JLinkObj* link : inputLinks_) {
    if (link->input() == n) result.push_back(link);
  }
  return JFocusSet(std::move(result));
}

JFocusSet JModuleObj::outputSet(int n) const {
  std::vector<JLinkObj*> result;
  for (JLinkObj* link : outputLinks_) {
    if (link->output() == n) result.push_back(link);
  }
  return JFocusSet(std::move(result));
}

JRect JModuleObj::getIExtent(double dx, double dy, double scale) const {
  const double left = (getX() + dx) * scale;
  const double top = (getY() + dy) * scale;
  const int x = toPixel(left);
  const int y = toPixel(top);
  // Width from the rounded right edge, so that blocks side by side touch.
  const int right = toPixel(left + getWidth() * scale);
  const int bottom = toPixel(top + getHeight() * scale);
  return JRect(x, y, right > x ? right - x : 0, bottom > y ? bottom - y : 0);
}

void JModuleObj::drawText(JGraphics graphics, const JString& text, const JRect& rect) {
  graphics.drawText(text, rect);
}

int JModuleObj::depth2() const { return 2 * kFrameDepth; }

void JModuleObj::repaint() { ++repaintRequests_; }

JString JModuleObj::Register() {
  JObject* copy = clone();
  auto* prototype = dynamic_cast<JModuleObj*>(copy);
  if (prototype == nullptr) {
    delete copy;
    return JString();
  }
  const JString name(prototype->className());
  return JClassRegistry::add(prototype) ? name : JString();
}

void JModuleObj::addModuleButton(JComponent* component, JModuleObj* prototype) {
  if (component == nullptr || prototype == nullptr) return;
  component->addButton(prototype->className());
}
