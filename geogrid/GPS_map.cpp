#include "geogrid/GPS_map.h"

#include <cstdint>
#include <cstdio>
#include <limits>

namespace {

constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();
constexpr std::int64_t kIntMin = std::numeric_limits<int>::min();

int clampToInt(std::int64_t v) {
  if (v > kIntMax) return static_cast<int>(kIntMax);
  if (v < kIntMin) return static_cast<int>(kIntMin);
  return static_cast<int>(v);
}

// |a - b| taken in 64 bits (it may reach 2^32 - 1) and capped at INT32_MAX.
int distance(int a, int b) {
  std::int64_t d = static_cast<std::int64_t>(a) - static_cast<std::int64_t>(b);
  if (d < 0) d = -d;
  return clampToInt(d);
}

// Pixel index of a distance d >= 0 from the upper-left corner on one axis.
// The first `extra` pixels cover step + 1 units each (together `split`
// units), the rest `step` units each. With step 0 (a span smaller than the
// pixel count) every distance below the span maps to pixel d and the far edge
// (d == span == split) to `count`, the same far-edge pixel as with step >= 1;
// a distance beyond the span (off the map) also yields `count`.
int pixelOf(int d, int step, int extra, int split, int count) {
  if (d < split) return static_cast<int>(d / (static_cast<std::int64_t>(step) + 1));
  if (step == 0) return count;
  // (d - split) / step + extra <= d: no overflow.
  return (d - split) / step + extra;
}

// Distance from the upper-left corner to the first unit of pixel p.
int distanceOf(int p, int step, int extra, int split) {
  std::int64_t v;
  if (p < extra) {
    v = static_cast<std::int64_t>(p) * (static_cast<std::int64_t>(step) + 1);
  } else {
    v = (static_cast<std::int64_t>(p) - extra) * step + split;
  }
  return clampToInt(v);
}

}  // namespace

GPS_map::GPS_map() { init(0, 0, 0, 0, "", 1, 1); }

void GPS_map::init(int ul_long_, int lr_long_, int ul_lat_, int lr_lat_, const char* /*map_name*/,
                   int pixel_width_, int pixel_height_) {
  ul_long = ul_long_;
  lr_long = lr_long_;
  ul_lat = ul_lat_;
  lr_lat = lr_lat_;
  // Callers guarantee at least one pixel each way; a smaller count would
  // divide by zero below, so it is raised to 1 here as well.
  pixel_width = pixel_width_ < 1 ? 1 : pixel_width_;
  pixel_height = pixel_height_ < 1 ? 1 : pixel_height_;

  long_span = distance(lr_long, ul_long);
  long_ascending = ul_long < lr_long;
  lat_span = distance(lr_lat, ul_lat);
  lat_ascending = ul_lat < lr_lat;

  x_step = long_span / pixel_width;
  x_extra = long_span % pixel_width;
  y_step = lat_span / pixel_height;
  y_extra = lat_span % pixel_height;

  // extra * (step + 1) <= span, so it fits; step + 1 itself may not when the
  // span is INT32_MAX over one pixel, hence the 64-bit product.
  x_split = static_cast<int>(static_cast<std::int64_t>(x_extra) *
                             (static_cast<std::int64_t>(x_step) + 1));
  y_split = static_cast<int>(static_cast<std::int64_t>(y_extra) *
                             (static_cast<std::int64_t>(y_step) + 1));
}

bool GPS_map::x_isActive(int longitude) const {
  if (long_ascending) {
    if (longitude < ul_long) {
      long_failure_code = 1;
      return false;
    }
    if (longitude > lr_long) {
      long_failure_code = 2;
      return false;
    }
  } else {
    if (longitude > ul_long) {
      long_failure_code = 3;
      return false;
    }
    if (longitude < lr_long) {
      long_failure_code = 4;
      return false;
    }
  }
  long_failure_code = 0;
  return true;
}

bool GPS_map::y_isActive(int latitude) const {
  if (lat_ascending) {
    if (latitude < ul_lat) {
      lat_failure_code = 1;
      return false;
    }
    if (latitude > lr_lat) {
      lat_failure_code = 2;
      return false;
    }
  } else {
    if (latitude > ul_lat) {
      lat_failure_code = 3;
      return false;
    }
    if (latitude < lr_lat) {
      lat_failure_code = 4;
      return false;
    }
  }
  lat_failure_code = 0;
  return true;
}

bool GPS_map::isActive(int longitude, int latitude) const {
  // Short cut: the latitude is not tested (and its code not touched) when the
  // longitude already fails.
  return x_isActive(longitude) && y_isActive(latitude);
}

int GPS_map::longitude_to_xPixel(int longitude) const {
  return pixelOf(distance(longitude, ul_long), x_step, x_extra, x_split, pixel_width);
}

int GPS_map::latitude_to_yPixel(int latitude) const {
  return pixelOf(distance(latitude, ul_lat), y_step, y_extra, y_split, pixel_height);
}

int GPS_map::xPixel_to_longitude(int x) const { return distanceOf(x, x_step, x_extra, x_split); }

int GPS_map::yPixel_to_latitude(int y) const { return distanceOf(y, y_step, y_extra, y_split); }

char* GPS_map::toString() const {
  static char text[kTextSize];
  std::snprintf(text, sizeof text, "GPS_map: long %d to %d, lat %d to %d, failure_codes %d, %d",
                ul_long, lr_long, ul_lat, lr_lat, long_failure_code, lat_failure_code);
  return text;
}
