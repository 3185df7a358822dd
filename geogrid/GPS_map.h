// GPS_map: the integer geometry of one rectangular map image.
//
// Holds the coordinates of the upper-left and lower-right corners (in
// coordinate units: 1/100000 of the number written in a coordinate text, so
// "4530.12345 N" is 453012345) and the image size in pixels. It answers
// whether a position lies on the map, leaving a failure code per axis, and
// converts a coordinate into a pixel column or row with integer arithmetic
// only. It knows nothing of text and owns nothing but its sixteen fields; it
// is a plain value type (copy and assignment copy every field).
//
// Pixel split: each axis's span is divided over its pixel count. When the span
// is not a multiple of the count, the first `x_extra` columns (`y_extra` rows)
// each cover one unit more than the others, so that together all columns cover
// exactly the span. A position exactly on the lower-right edge maps to
// `pixel_width` (`pixel_height`), one past the last column (row).
//
// Either corner may hold the larger value on either axis: `long_ascending` and
// `lat_ascending` record which way the axis runs. Distances are always taken
// from the upper-left corner, whichever way the axis runs.
//
// Process-wide state: `long_failure_code` and `lat_failure_code` are shared by
// every GPS_map of the process; each inside test overwrites the code of its own
// axis. `toString` writes into one shared 100-character buffer that the next
// call, on any object, overwrites.
//
// Thread safety: none. All objects, the failure codes and the text buffer are
// used from the host's thread only.
//
// Invariants (after construction and after every init):
//   1. pixel_width >= 1 and pixel_height >= 1.
//   2. long_span = |lr_long - ul_long| and lat_span = |lr_lat - ul_lat|,
//      computed in 64 bits and capped at INT32_MAX.
//   3. x_step = long_span / pixel_width, x_extra = long_span % pixel_width,
//      x_split = x_extra * (x_step + 1) <= long_span; the same for y.
//   4. For a position that isActive accepted, the pixel column lies in
//      [0, pixel_width] and the row in [0, pixel_height].
// Limits: a map whose span on an axis exceeds INT32_MAX units (21474.83647 in
// the number of the coordinate text) is treated as if it ended INT32_MAX
// units from its upper-left corner on that axis; on-map positions beyond that
// map to the far-edge pixel. Nothing overflows.
#pragma once

class __attribute__((visibility("default"))) GPS_map {
 public:
  // Result codes of the latest inside test of each axis, shared by all
  // objects of the process. 0: on the map. On an ascending axis 1: before the
  // upper-left corner, 2: beyond the lower-right corner. On a descending axis
  // 3: before the upper-left corner, 4: beyond the lower-right corner.
  static inline int long_failure_code = 0;
  static inline int lat_failure_code = 0;

  // Size of the shared buffer that toString writes into.
  static constexpr int kTextSize = 100;

  // The geometry of init(0, 0, 0, 0, "", 1, 1).
  GPS_map();
  GPS_map(const GPS_map&) = default;
  // Copies all sixteen fields.
  GPS_map& operator=(const GPS_map&) = default;

  // Sets the whole geometry: both longitudes first, then both latitudes.
  // The map name is not kept. A pixel count below 1 is taken as 1.
  void init(int ul_long, int lr_long, int ul_lat, int lr_lat, const char* map_name, int pixel_width,
            int pixel_height);

  // True when the position lies on the map, edges included. Tests the
  // longitude first and the latitude only when the longitude passed, so a
  // longitude failure leaves lat_failure_code as an earlier test left it.
  bool isActive(int longitude, int latitude) const;

  // Pixel column (row) of a coordinate: meaningful for a position that
  // isActive accepted, and then in [0, pixel_width] ([0, pixel_height]).
  int longitude_to_xPixel(int longitude) const;
  int latitude_to_yPixel(int latitude) const;

  // Distance in units from the upper-left corner to the first unit covered by
  // column x (row y). Not an absolute coordinate: the corner is not added and
  // the direction of the axis is not applied. Capped to the 32-bit range.
  int xPixel_to_longitude(int x) const;
  int yPixel_to_latitude(int y) const;

  // "GPS_map: long %d to %d, lat %d to %d, failure_codes %d, %d" with the four
  // corners and the two shared failure codes, in the shared buffer.
  char* toString() const;

 private:
  // Per-axis inside tests behind isActive; each sets its axis's failure code.
  bool x_isActive(int longitude) const;
  bool y_isActive(int latitude) const;

  // Fields, in this order.
  int ul_long;
  int lr_long;
  int long_span;
  bool long_ascending;
  int ul_lat;
  int lr_lat;
  int lat_span;
  bool lat_ascending;
  int pixel_width;
  int x_step;
  int x_extra;
  int pixel_height;
  int y_step;
  int y_extra;
  int x_split;
  int y_split;
};
