// JDegreeTextObj: converts a latitude or a longitude in signed decimal
// degrees (north and east positive, as the sniffer outputs them) into the
// coordinate text that the map-to-pixel block reads: the magnitude in
// decimal degrees with five fraction digits, a space and a hemisphere
// letter, e.g. "35.92378 N", "115.43900 W". The map block takes such a text
// as number x 100000 units, so map corners must be written in the same form.
//
// Input 0 "degrees" (real), output 0 "text" (text). On each input value the
// block converts and announces the text. A value that is not a number or
// lies beyond +-90 (latitude) or +-180 (longitude) is not a coordinate: the
// output keeps its last text and nothing is announced.
// Property and stored entry "axis": "latitude" (N/S, the default) or
// "longitude" (E/W).
// Owns its last value and text. Invariants: igm is 1, ogm is 1; the text is
// empty until a first usable value arrived.
// Thread safety: host's thread only.
#pragma once

#include <optional>
#include <string>

#include "host/JAddObj.h"

class JDegreeTextObj : public JAddObj {
 public:
  enum class Axis { Latitude, Longitude };

  JDegreeTextObj();
  JDegreeTextObj(const JDegreeTextObj&) = default;
  JDegreeTextObj& operator=(const JDegreeTextObj&) = default;
  ~JDegreeTextObj() override;

  void writeContent(JOutputStream& stream) override;
  // An "axis" entry other than the two words keeps the current axis.
  void readContent(JDictionary& dictionary) override;
  const char* className() const override;
  JObject* clone() const override;

  JArray getProperties() override;
  // Takes "axis" (a JStringProperty) when it holds one of the two words.
  bool updateProperty(JProperty& property) override;
  JString inputTag(int n) override;
  JString outputTag(int n) override;
  int inputType(int n) override;
  int outputType(int n) override;
  bool inputAllowed(int n) override;
  void draw(JGraphics graphics, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;

  // The text for `degrees` on `axis`, or nothing when it is no coordinate.
  // The magnitude is rounded to the nearest 0.00001 degree (halves away from
  // zero); the letter follows the sign of the rounded value, so a value that
  // rounds to 0 is "0.00000 N" or "0.00000 E".
  static std::optional<std::string> format(double degrees, Axis axis);
  // "latitude" or "longitude".
  static const char* axisName(Axis axis);
  static std::optional<Axis> axisFromName(const char* name);

  Axis axis() const { return axis_; }
  void setAxis(Axis axis) { axis_ = axis; }
  const std::string& text() const { return text_; }

 private:
  Axis axis_ = Axis::Latitude;
  std::string text_;
};
