// Fuzzer for the map-to-pixel core: coordinate texts and map geometry.
//
// Input layout: byte 0 selects the checks, bytes 1-4 give the pixel width and
// height (16-bit signed each, so counts below 1 occur), the rest is split at
// '\n' into up to six texts: upper-left longitude, lower-right longitude,
// upper-left latitude, lower-right latitude, position longitude, position
// latitude (missing texts are empty, NUL bytes end a text early). Every text
// goes through parse_coordinate and the mapper; the same input is also read
// as raw 32-bit coordinates for GPS_map. Violated invariants abort.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "geogrid/GPS_map.h"
#include "geogrid/parse_coordinate.h"
#include "geogrid/vezirivodiz_mapper.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

int16_t read16(const uint8_t* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

int32_t read32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) |
                              (static_cast<uint32_t>(p[3]) << 24));
}

int64_t absDiff(int32_t a, int32_t b) {
  const int64_t d = static_cast<int64_t>(a) - b;
  return d < 0 ? -d : d;
}

// A pixel of an on-map position must lie in [0, count]. When the span fits 32
// bits, the pixel's first unit is at or before the distance and the next
// pixel's first unit after it.
void checkAxis(const GPS_map& map, bool x_axis, int32_t ul, int32_t lr, int32_t pos, int count) {
  const int pixel = x_axis ? map.longitude_to_xPixel(pos) : map.latitude_to_yPixel(pos);
  check(pixel >= 0 && pixel <= count);
  if (absDiff(lr, ul) > INT32_MAX) return;
  const int64_t d = absDiff(pos, ul);
  const int first = x_axis ? map.xPixel_to_longitude(pixel) : map.yPixel_to_latitude(pixel);
  check(first <= d);
  if (pixel < count) {
    const int next =
        x_axis ? map.xPixel_to_longitude(pixel + 1) : map.yPixel_to_latitude(pixel + 1);
    check(d < next || next == first);  // next == first: an empty pixel (span < count)
  }
}

void fuzzGeometry(const uint8_t* data, size_t size, int width, int height) {
  if (size < 24) return;
  const int32_t v[6] = {read32(data),      read32(data + 4),  read32(data + 8),
                        read32(data + 12), read32(data + 16), read32(data + 20)};
  GPS_map map;
  map.init(v[0], v[1], v[2], v[3], "fuzz", width, height);
  const int w = width < 1 ? 1 : width;
  const int h = height < 1 ? 1 : height;
  if (map.isActive(v[4], v[5])) {
    check(GPS_map::long_failure_code == 0 && GPS_map::lat_failure_code == 0);
    checkAxis(map, true, v[0], v[1], v[4], w);
    checkAxis(map, false, v[2], v[3], v[5], h);
  } else {
    check(GPS_map::long_failure_code >= 0 && GPS_map::long_failure_code <= 4);
  }
  // Any column or row, on the map or not, converts without overflow.
  map.xPixel_to_longitude(v[4]);
  map.yPixel_to_latitude(v[5]);
  map.longitude_to_xPixel(v[5]);
  map.latitude_to_yPixel(v[4]);
  check(std::strlen(map.toString()) < GPS_map::kTextSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const int width = read16(data + 1);
  const int height = read16(data + 3);
  const uint8_t* rest = data + 5;
  const size_t rest_size = size - 5;

  std::string texts[6];
  size_t start = 0;
  for (int i = 0; i < 6 && start <= rest_size; ++i) {
    const void* nl = std::memchr(rest + start, '\n', rest_size - start);
    const size_t end =
        nl != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nl) - rest) : rest_size;
    texts[i].assign(reinterpret_cast<const char*>(rest + start), end - start);
    start = end + 1;
  }

  for (const std::string& t : texts) parse_coordinate(t.c_str());

  vezirivodiz_mapper mapper;
  mapper.init(texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), texts[3].c_str(), "fuzz", width,
              height);
  mapper.map_location(texts[4].c_str(), texts[5].c_str());
  if (mapper.isLocationInMap()) {
    check(mapper.getPixelX() >= 0 && mapper.getPixelX() <= (width < 1 ? 1 : width));
    check(mapper.getPixelY() >= 0 && mapper.getPixelY() <= (height < 1 ? 1 : height));
  }
  const char* text = mapper.toString();
  const size_t length = std::strlen(text);
  check(length > 0 && length < vezirivodiz_mapper::kTextSize && text[length - 1] == '\n');
  check(std::strlen(mapper.toString2()) < GPS_map::kTextSize);

  // A copy behaves like its source.
  vezirivodiz_mapper copy;
  copy = mapper;
  copy.map_location(texts[4].c_str(), texts[5].c_str());
  check(copy.isLocationInMap() == mapper.isLocationInMap() &&
        copy.getPixelX() == mapper.getPixelX() && copy.getPixelY() == mapper.getPixelY());

  if (data[0] & 1) fuzzGeometry(rest, rest_size, width, height);
  return 0;
}
