// vezirivodiz_mapper: maps position texts onto the pixel grid of one map.
//
// The text-facing side of GPS_map. It takes the corner coordinates of a map
// and a position as coordinate texts ("4530.12345 N", "07350.5 W"), converts
// each with parse_coordinate, asks its GPS_map whether the position lies on
// the map and, if so, for its pixel column and row. It keeps the outcome of
// the last position (found or not, pixel column and row) and, for its
// diagnostic text, the last position texts and their values in units.
//
// Owns: one GPS_map by value and two 30-character text copies; it keeps no
// pointer to any text it is given. Copy and assignment copy every field, the
// geometry included.
//
// Shared state: toString writes into one process-wide 200-character buffer
// that the next call on any mapper overwrites; toString2 into GPS_map's. The
// inside test also overwrites GPS_map's process-wide failure codes.
//
// Thread safety: none; used from the host's thread only.
//
// Invariants:
//   1. After construction or init: locationFound is false and the pixel is
//      0, 0. Only an on-map position changes pixel_x and pixel_y.
//   2. last_long_text and last_lat_text are always NUL-terminated and hold
//      at most the first 29 characters of the last texts given to
//      map_location (empty before the first); last_long_units and
//      last_lat_units are the values of those whole texts, not of the copies.
//   3. While locationFound is true, pixel_x is in [0, pixel width] and pixel_y
//      in [0, pixel height] of the current geometry.
// Null text pointers are taken as empty texts everywhere.
#pragma once

#include "geogrid/GPS_map.h"

class __attribute__((visibility("default"))) vezirivodiz_mapper {
 public:
  // Room of each last-text field, its terminating NUL included.
  static constexpr int kLastTextSize = 30;
  // Size of the shared buffer that toString writes into.
  static constexpr int kTextSize = 200;

  // Empty last texts, last values 0, then init("", "", "", "", "", 1, 1).
  vezirivodiz_mapper();
  vezirivodiz_mapper(const vezirivodiz_mapper&) = default;
  // Copies all fields, the geometry included.
  vezirivodiz_mapper& operator=(const vezirivodiz_mapper&) = default;

  // Sets the map from its corner texts (upper-left longitude, lower-right
  // longitude, upper-left latitude, lower-right latitude), its name and its
  // pixel size (each at least 1; a smaller count is taken as 1). Discards the
  // last outcome (not found, pixel 0, 0) but keeps the last texts and values.
  void init(const char* ul_long, const char* lr_long, const char* ul_lat, const char* lr_lat,
            const char* map_name, int pixel_width, int pixel_height);

  // Evaluates one position, longitude first. Records both texts and their
  // values; when the position is on the map, sets the pixel and marks it
  // found, otherwise marks it not found and keeps the previous pixel.
  void map_location(const char* longitude, const char* latitude);

  // Whether the last position given to map_location was on the map.
  bool isLocationInMap() const { return locationFound; }
  // Pixel of the last on-map position (0, 0 after init): meaningful only
  // while isLocationInMap is true.
  int getPixelX() const { return pixel_x; }
  int getPixelY() const { return pixel_y; }

  // "vezirivodiz_mapper::toString, locationFound %d, %d, %d, last Long/Lat
  // %s/%s as int: %d, %d\n" in the shared buffer.
  char* toString() const;
  // The geometry's diagnostic text (GPS_map::toString).
  char* toString2() const;

 private:
  // Fields, in this order.
  GPS_map geometry;
  int pixel_x = 0;
  int pixel_y = 0;
  bool locationFound = false;
  char last_long_text[kLastTextSize] = {};
  char last_lat_text[kLastTextSize] = {};
  int last_long_units = 0;
  int last_lat_units = 0;
};
