#include "geogrid/JGeoGridObj.h"

#include <new>

#include "host/JDataType.h"
#include "host/JDictionary.h"
#include "host/JFocusSet.h"
#include "host/JInteger.h"
#include "host/JIntegerData.h"
#include "host/JIntegerProperty.h"
#include "host/JLinkObj.h"
#include "host/JOutputStream.h"
#include "host/JRect.h"
#include "host/JStringData.h"
#include "host/JStringProperty.h"

namespace {

constexpr int kInputs = 2;
constexpr int kOutputs = 3;

// Port geometry handed to the host: the two inputs spread over the middle
// 80% of the left face, the three outputs over the middle half of the right.
constexpr double kInputStart = 0.1;
constexpr double kInputLength = 0.8;
constexpr double kOutputStart = 0.25;
constexpr double kOutputLength = 0.5;
constexpr int kPortSize = 6;

const char* const kInputTags[kInputs] = {"latitude", "longitude"};
const char* const kOutputTags[kOutputs] = {"in_map", "pixel_x", "pixel_y"};
constexpr const char* kNoSuchPort = "ERROR";
constexpr const char* kCaption = "GeoGrid";

// The property and storage names, in the order of the property list.
constexpr const char* kUlLatitude = "ul_latitude";
constexpr const char* kUlLongitude = "ul_longitude";
constexpr const char* kLrLatitude = "lr_latitude";
constexpr const char* kLrLongitude = "lr_longitude";
constexpr const char* kMapName = "map_name";
constexpr const char* kPixelWidth = "pixel_width";
constexpr const char* kPixelHeight = "pixel_height";

// A copy of `text` with a buffer of its own. JString copies share their
// buffer, and a buffer can be changed in place through operator char*, so a
// text the block keeps must not stay tied to the object it came from.
JString ownCopy(const JString& text) { return JString(static_cast<char*>(text)); }

// A pixel count the geometry accepts: at least 1.
int atLeastOne(int count) { return count < 1 ? 1 : count; }

}  // namespace

JGeoGridObj::JGeoGridObj() {
  igm = kInputs;
  ogm = kOutputs;
}

JGeoGridObj::JGeoGridObj(const JGeoGridObj& other)
    : JAddObj(other),
      latitude_text(ownCopy(other.latitude_text)),
      longitude_text(ownCopy(other.longitude_text)),
      ul_latitude(ownCopy(other.ul_latitude)),
      ul_longitude(ownCopy(other.ul_longitude)),
      lr_latitude(ownCopy(other.lr_latitude)),
      lr_longitude(ownCopy(other.lr_longitude)),
      map_name(ownCopy(other.map_name)),
      pixel_width(other.pixel_width),
      pixel_height(other.pixel_height),
      in_map(other.in_map),
      pixel_x(other.pixel_x),
      pixel_y(other.pixel_y),
      mapper(other.mapper) {}

JGeoGridObj& JGeoGridObj::operator=(const JGeoGridObj& other) {
  if (this != &other) {
    JAddObj::operator=(other);
    latitude_text = ownCopy(other.latitude_text);
    longitude_text = ownCopy(other.longitude_text);
    ul_latitude = ownCopy(other.ul_latitude);
    ul_longitude = ownCopy(other.ul_longitude);
    lr_latitude = ownCopy(other.lr_latitude);
    lr_longitude = ownCopy(other.lr_longitude);
    map_name = ownCopy(other.map_name);
    pixel_width = other.pixel_width;
    pixel_height = other.pixel_height;
    in_map = other.in_map;
    pixel_x = other.pixel_x;
    pixel_y = other.pixel_y;
    mapper = other.mapper;
  }
  return *this;
}

JGeoGridObj::~JGeoGridObj() = default;

void JGeoGridObj::writeContent(JOutputStream& stream) {
  JAddObj::writeContent(stream);
  putObject(stream, kUlLatitude, ul_latitude);
  putObject(stream, kUlLongitude, ul_longitude);
  putObject(stream, kLrLatitude, lr_latitude);
  putObject(stream, kLrLongitude, lr_longitude);
  putObject(stream, kMapName, map_name);
  putInteger(stream, kPixelWidth, pixel_width);
  putInteger(stream, kPixelHeight, pixel_height);
}

void JGeoGridObj::readContent(JDictionary& dictionary) {
  JAddObj::readContent(dictionary);
  // A missing text keeps its value. getObject yields a text object; the
  // check only guards against a host that stores something else there.
  auto readText = [&dictionary](const char* key, JString& field) {
    if (auto* stored = dynamic_cast<JString*>(getObject(dictionary, key))) field = ownCopy(*stored);
  };
  readText(kUlLatitude, ul_latitude);
  readText(kUlLongitude, ul_longitude);
  readText(kLrLatitude, lr_latitude);
  readText(kLrLongitude, lr_longitude);
  readText(kMapName, map_name);
  pixel_width = atLeastOne(getInteger(dictionary, kPixelWidth, 0));
  pixel_height = atLeastOne(getInteger(dictionary, kPixelHeight, 0));
  initMapper();
  remap(longitude_text, latitude_text);
}

const char* JGeoGridObj::className() const { return kClassName; }

JObject* JGeoGridObj::clone() const { return new (std::nothrow) JGeoGridObj(*this); }

JArray JGeoGridObj::getProperties() {
  JArray properties;
  properties.append(new JStringProperty(kUlLatitude, ul_latitude));
  properties.append(new JStringProperty(kUlLongitude, ul_longitude));
  properties.append(new JStringProperty(kLrLatitude, lr_latitude));
  properties.append(new JStringProperty(kLrLongitude, lr_longitude));
  properties.append(new JStringProperty(kMapName, map_name));
  properties.append(new JIntegerProperty(kPixelWidth, pixel_width, 1, JInteger::MAX_VALUE));
  properties.append(new JIntegerProperty(kPixelHeight, pixel_height, 1, JInteger::MAX_VALUE));
  return properties;
}

// Finds the property by name, in the order of the property list, and takes
// its value. A property that carries a known name but not the value kind of
// that name is not one of ours: it is refused like an unknown name, before
// anything changes.
bool JGeoGridObj::takeProperty(JProperty& property) {
  struct TextProperty {
    const char* name;
    JString JGeoGridObj::*field;
  };
  struct IntegerProperty {
    const char* name;
    int JGeoGridObj::*field;
  };
  static constexpr TextProperty kTexts[] = {
      {kUlLatitude, &JGeoGridObj::ul_latitude}, {kUlLongitude, &JGeoGridObj::ul_longitude},
      {kLrLatitude, &JGeoGridObj::lr_latitude}, {kLrLongitude, &JGeoGridObj::lr_longitude},
      {kMapName, &JGeoGridObj::map_name},
  };
  static constexpr IntegerProperty kIntegers[] = {
      {kPixelWidth, &JGeoGridObj::pixel_width},
      {kPixelHeight, &JGeoGridObj::pixel_height},
  };
  const JString name = property.getName();
  for (const TextProperty& entry : kTexts) {
    if (!(name == entry.name)) continue;
    auto* text = dynamic_cast<JStringProperty*>(&property);
    if (text == nullptr) return false;
    this->*entry.field = ownCopy(text->getValue());
    return true;
  }
  for (const IntegerProperty& entry : kIntegers) {
    if (!(name == entry.name)) continue;
    auto* integer = dynamic_cast<JIntegerProperty*>(&property);
    if (integer == nullptr) return false;
    this->*entry.field = integer->getValue();
    return true;
  }
  return false;
}

bool JGeoGridObj::updateProperty(JProperty& property) {
  if (!takeProperty(property)) return false;

  pixel_width = atLeastOne(pixel_width);
  pixel_height = atLeastOne(pixel_height);
  initMapper();

  // Evaluate the current position against the new map. Output 0 is
  // announced whether or not it changed: the map itself did.
  mapper.map_location(longitude_text, latitude_text);
  if (mapper.isLocationInMap()) {
    in_map = kInMap;
    broadcast(0);
    pixel_x = mapper.getPixelX();
    pixel_y = mapper.getPixelY();
    broadcast(1);
    broadcast(2);
  } else {
    in_map = 0;
    broadcast(0);
  }
  return true;
}

JString JGeoGridObj::inputTag(int n) {
  return n >= 0 && n < kInputs ? JString(kInputTags[n]) : JString(kNoSuchPort);
}

JString JGeoGridObj::outputTag(int n) {
  return n >= 0 && n < kOutputs ? JString(kOutputTags[n]) : JString(kNoSuchPort);
}

int JGeoGridObj::inputType(int n) { return n == 0 || n == 1 ? JStringData::id : JIntegerData::id; }

void JGeoGridObj::draw(JGraphics graphics, int x, int y, int width, int height) {
  const JString text = map_name.length() > 0 ? map_name : JString(kCaption);
  drawText(graphics, text, JRect(x, y, width, height));
}

void JGeoGridObj::access(int n, JLinkObj&, const JDataType& data) {
  switch (n) {
    case 0: static_cast<int&>(data) = in_map; break;
    case 1: static_cast<int&>(data) = pixel_x; break;
    case 2: static_cast<int&>(data) = pixel_y; break;
    default: break;  // not an output: the data stays untouched
  }
}

bool JGeoGridObj::inputAllowed(int n) { return inputSet(n).size() == 0; }

JFRect JGeoGridObj::inputArea(int n) {
  return leftArea(n, 0, kInputs, kInputStart, kInputLength, kPortSize);
}

JFRect JGeoGridObj::outputArea(int n) {
  return rightArea(n, 0, kOutputs, kOutputStart, kOutputLength, kPortSize);
}

int JGeoGridObj::inputFace(int n) { return n < kInputs ? LEFT_FACE : TOP_FACE; }

int JGeoGridObj::outputFace(int) { return RIGHT_FACE; }

JFPoint JGeoGridObj::inputPoint(int n, JLinkObj& link) {
  return leftPoint(n, link, 0, kInputs, kInputStart, kInputLength);
}

JFPoint JGeoGridObj::outputPoint(int n, JLinkObj& link) {
  return rightPoint(n, link, 0, kOutputs, kOutputStart, kOutputLength);
}

void JGeoGridObj::engine(int n, JLinkObj& link) {
  // When the link yields nothing the text keeps its value.
  if (n == 0) {
    link.access(JStringData(latitude_text));
    latitude_text = ownCopy(latitude_text);
  } else if (n == 1) {
    link.access(JStringData(longitude_text));
    longitude_text = ownCopy(longitude_text);
  }
  // Every evaluation re-announces the pixel, even for an unchanged text.
  remap(longitude_text, latitude_text);
}

void JGeoGridObj::remap(const char* longitude, const char* latitude) {
  mapper.map_location(longitude, latitude);
  if (mapper.isLocationInMap()) {
    if (in_map == 0) {
      in_map = kInMap;
      broadcast(0);
    }
    pixel_x = mapper.getPixelX();
    pixel_y = mapper.getPixelY();
    broadcast(1);
    broadcast(2);
  } else if (in_map != 0) {
    // Off the map: only the change of output 0 is announced; the pixel keeps
    // the last on-map position.
    in_map = 0;
    broadcast(0);
  }
}

void JGeoGridObj::initMapper() {
  mapper.init(ul_longitude, lr_longitude, ul_latitude, lr_latitude, map_name, pixel_width,
              pixel_height);
}
