// JGeoGridObj: the map-to-pixel block of the JGeoGridObj plug-in.
//
// Takes a position as two coordinate texts on its inputs (0 "latitude",
// 1 "longitude", in the form "4525.00000 N" / "07345.00000 W") and maps it
// onto the pixel grid of one map image whose corners, name and size are its
// seven properties. Its three integer outputs say whether the position is on
// the map (0 "in_map": 65535 on the map, else 0) and give the pixel column
// and row of the last on-map position (1 "pixel_x", 2 "pixel_y"). All
// coordinate work is done by its vezirivodiz_mapper; this class is the
// host-facing shell: ports, evaluation, properties, persistence and face.
//
// Announcements: output 0 is announced by an evaluation of an input only
// when in_map changes, outputs 1 and 2 on every evaluation that finds the
// position on the map. A property change always announces output 0.
//
// Owns, by value: the two input texts, the five property texts, the pixel
// size, the three output values and the mapper. Every text it keeps is its
// own copy: texts taken from inputs, properties, documents and the block it
// is copied from never share a buffer with their origin.
//
// Thread safety: host's thread only. It starts no thread and takes no lock.
// The mapper's diagnostic buffers and failure codes are shared by all blocks
// of the process.
//
// Invariants:
//   1. igm is 2 and ogm is 3.
//   2. in_map is 0 or 65535.
//   3. The mapper's geometry has at least one pixel each way. pixel_width and
//      pixel_height read 0 only on a block that never had a property change
//      or a readContent; afterwards they are at least 1.
//   4. While in_map is 65535, pixel_x is in [0, pixel_width] and pixel_y in
//      [0, pixel_height] (a position on the lower-right edge gives the size).
#pragma once

#include "geogrid/vezirivodiz_mapper.h"
#include "host/JAddObj.h"
#include "host/JString.h"

class JDataType;
class JLinkObj;
class JProperty;

class J_EXPORT JGeoGridObj : public JAddObj {
 public:
  // The block's class name, as className() gives it.
  static constexpr const char* kClassName = "JGeoGridObj";
  // The value of output 0 while the position lies on the map.
  static constexpr int kInMap = 65535;

  // No map yet: empty texts, pixel size 0 (the mapper keeps its default
  // one-pixel map), all outputs 0.
  JGeoGridObj();
  // Copies every field, the mapper's state and the input texts included;
  // texts are copied, not shared. The copy has no links (JModuleObj).
  JGeoGridObj(const JGeoGridObj& other);
  JGeoGridObj& operator=(const JGeoGridObj& other);

  // Virtual operations, in the host's table order.
  // Base entries first, then "ul_latitude", "ul_longitude", "lr_latitude",
  // "lr_longitude", "map_name" (texts) and "pixel_width", "pixel_height"
  // (integers, as they stand). Input texts and outputs are not stored.
  void writeContent(JOutputStream& stream) override;
  // Base entries first; a missing text keeps its value; a missing pixel size
  // reads as 0, and 0 or less becomes 1. Then the map is set anew and the
  // current input texts are evaluated against it (remap).
  void readContent(JDictionary& dictionary) override;
  ~JGeoGridObj() override;
  const char* className() const override;  // kClassName
  // A new block made by the copy constructor; null when memory runs out.
  JObject* clone() const override;
  // The seven map properties (the base list is not included).
  JArray getProperties() override;
  // Takes one of the seven map properties, sets the map anew, evaluates the
  // current input texts against it and announces output 0 (and 1, 2 when
  // the position is on the map). False, with nothing changed or announced,
  // for any other property.
  bool updateProperty(JProperty& property) override;
  // The port tags; "ERROR" for an index that is not a port.
  JString inputTag(int n) override;
  JString outputTag(int n) override;
  // JStringData::id for inputs 0 and 1, JIntegerData::id for any other.
  int inputType(int n) override;
  // The map name, or "GeoGrid" while it is empty, in the face rectangle.
  void draw(JGraphics graphics, int x, int y, int width, int height) override;
  // Output 0 in_map, 1 pixel_x, 2 pixel_y into the integer of `data`; any
  // other n leaves `data` untouched.
  void access(int n, JLinkObj& link, const JDataType& data) override;
  // True while input n has no link: each input takes one link.
  bool inputAllowed(int n) override;
  JFRect inputArea(int n) override;
  JFRect outputArea(int n) override;
  int inputFace(int n) override;   // left for inputs 0 and 1, top beyond
  int outputFace(int n) override;  // right
  JFPoint inputPoint(int n, JLinkObj& link) override;
  JFPoint outputPoint(int n, JLinkObj& link) override;
  // A new value on input n: reads the text (0 latitude, 1 longitude) from
  // the link, then evaluates the position (remap), whatever n is.
  void engine(int n, JLinkObj& link) override;

  // Evaluates a position (longitude first) against the current map and
  // announces the outputs that changed (see the class comment). Null texts
  // are taken as empty.
  void remap(const char* longitude, const char* latitude);
  // The property's new value, when it is one of the block's; false else.
  bool takeProperty(JProperty& property);

 private:
  // Sets the mapper's map from the properties, both longitudes first.
  void initMapper();

  // Fields, in this order.
  JString latitude_text;   // text last read from input 0
  JString longitude_text;  // text last read from input 1
  JString ul_latitude;
  JString ul_longitude;
  JString lr_latitude;
  JString lr_longitude;
  JString map_name;
  int pixel_width = 0;
  int pixel_height = 0;
  int in_map = 0;   // output 0
  int pixel_x = 0;  // output 1
  int pixel_y = 0;  // output 2
  vezirivodiz_mapper mapper;
};
