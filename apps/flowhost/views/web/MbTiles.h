// MbTiles: raster map tiles from an MBTiles file (an SQLite database with a
// "tiles" table of zoom_level, tile_column, tile_row, tile_data and a
// "metadata" table of name/value pairs), the offline map packs field teams
// carry. The file is opened read-only; tiles are looked up by the XYZ
// numbers browsers ask for (MBTiles counts rows from the south, TMS-style).
//
//   auto tiles = MbTiles::open("area.mbtiles", &error);
//   std::string png;
//   if (tiles->tile(12, 655, 1583, &png)) ...
//
// Only raster formats are served (png, jpg, webp); a file of vector tiles
// is refused when opened, with the reason.
//
// Owns the database connection. Thread safety: tile() from any thread (one
// lookup at a time); the metadata is constant after open().
#pragma once

#include <memory>
#include <string>

#include "platform/mutex.h"

struct sqlite3;
struct sqlite3_stmt;

namespace flowhost {

class MbTiles {
 public:
  ~MbTiles();
  MbTiles(const MbTiles&) = delete;
  MbTiles& operator=(const MbTiles&) = delete;

  // Null with the reason when `path` is no readable MBTiles file of raster
  // tiles.
  static std::unique_ptr<MbTiles> open(const std::string& path, std::string* error);

  // The tile's bytes; false when the file has none there (or cannot be read).
  bool tile(int z, int x, int y, std::string* data) KW_EXCLUDES(mutex_);

  const std::string& contentType() const { return contentType_; }  // "image/png"
  const std::string& name() const { return name_; }
  const std::string& attribution() const { return attribution_; }
  int minZoom() const { return minZoom_; }
  int maxZoom() const { return maxZoom_; }

 private:
  MbTiles() = default;
  bool readMetadata(std::string* error);

  sqlite3* db_ = nullptr;
  kw::Mutex mutex_;
  sqlite3_stmt* lookup_ KW_GUARDED_BY(mutex_) = nullptr;
  std::string contentType_ = "image/png";
  std::string name_;
  std::string attribution_;
  int minZoom_ = 0;
  int maxZoom_ = 18;
};

}  // namespace flowhost
