#include "geogrid/vezirivodiz_mapper.h"

#include <cstdio>

#include "geogrid/parse_coordinate.h"

namespace {

// Copies at most size - 1 characters of text (null taken as empty) and
// terminates the copy. A longer text is cut: the copy is for display only.
void copyText(char* dest, int size, const char* text) {
  int i = 0;
  if (text != nullptr) {
    for (; i < size - 1 && text[i] != '\0'; ++i) dest[i] = text[i];
  }
  dest[i] = '\0';
}

}  // namespace

vezirivodiz_mapper::vezirivodiz_mapper() {
  // geometry is default-constructed; the last texts start empty and the last
  // values at 0 (member initialisers).
  init("", "", "", "", "", 1, 1);
}

void vezirivodiz_mapper::init(const char* ul_long, const char* lr_long, const char* ul_lat,
                              const char* lr_lat, const char* map_name, int pixel_width,
                              int pixel_height) {
  const int ul_long_units = parse_coordinate(ul_long);
  const int lr_long_units = parse_coordinate(lr_long);
  const int ul_lat_units = parse_coordinate(ul_lat);
  const int lr_lat_units = parse_coordinate(lr_lat);
  geometry.init(ul_long_units, lr_long_units, ul_lat_units, lr_lat_units, map_name, pixel_width,
                pixel_height);
  pixel_x = 0;
  pixel_y = 0;
  locationFound = false;
}

void vezirivodiz_mapper::map_location(const char* longitude, const char* latitude) {
  copyText(last_long_text, kLastTextSize, longitude);
  copyText(last_lat_text, kLastTextSize, latitude);
  // The values come from the whole texts, not from the (possibly cut) copies.
  last_long_units = parse_coordinate(longitude);
  last_lat_units = parse_coordinate(latitude);
  if (geometry.isActive(last_long_units, last_lat_units)) {
    pixel_x = geometry.longitude_to_xPixel(last_long_units);
    pixel_y = geometry.latitude_to_yPixel(last_lat_units);
    locationFound = true;
  } else {
    locationFound = false;
  }
}

char* vezirivodiz_mapper::toString() const {
  static char text[kTextSize];
  std::snprintf(text, sizeof text,
                "vezirivodiz_mapper::toString, locationFound %d, %d, %d, last Long/Lat %s/%s as "
                "int: %d, %d\n",
                locationFound ? 1 : 0, pixel_x, pixel_y, last_long_text, last_lat_text,
                last_long_units, last_lat_units);
  return text;
}

char* vezirivodiz_mapper::toString2() const { return geometry.toString(); }
