#include "apps/flowhost/views/web/MbTiles.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>

namespace flowhost {

namespace {

// The image types an MBTiles "format" names, as served.
const char* contentTypeOf(const std::string& format) {
  if (format == "png" || format.empty()) return "image/png";
  if (format == "jpg" || format == "jpeg") return "image/jpeg";
  if (format == "webp") return "image/webp";
  return nullptr;
}

std::string columnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

}  // namespace

MbTiles::~MbTiles() {
  {
    kw::MutexLock lock(&mutex_);
    sqlite3_finalize(lookup_);
    lookup_ = nullptr;
  }
  sqlite3_close(db_);
}

std::unique_ptr<MbTiles> MbTiles::open(const std::string& path, std::string* error) {
  std::unique_ptr<MbTiles> tiles(new MbTiles());
  const int opened = sqlite3_open_v2(path.c_str(), &tiles->db_,
                                     SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  if (opened != SQLITE_OK) {
    *error = "--tiles " + path + ": " +
             (tiles->db_ != nullptr ? sqlite3_errmsg(tiles->db_) : sqlite3_errstr(opened));
    return nullptr;
  }
  // A file that is not a database fails here, at the first read.
  kw::MutexLock lock(&tiles->mutex_);
  if (sqlite3_prepare_v2(tiles->db_,
                         "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 "
                         "AND tile_row = ?3",
                         -1, &tiles->lookup_, nullptr) != SQLITE_OK) {
    *error = "--tiles " + path + ": not an MBTiles file (" + sqlite3_errmsg(tiles->db_) + ")";
    return nullptr;
  }
  std::string why;
  if (!tiles->readMetadata(&why)) {
    *error = "--tiles " + path + ": " + why;
    return nullptr;
  }
  if (tiles->name_.empty()) tiles->name_ = path.substr(path.find_last_of('/') + 1);
  return tiles;
}

// The metadata table is optional in practice; what it says is taken, what
// it leaves out keeps the defaults.
bool MbTiles::readMetadata(std::string* error) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT name, value FROM metadata", -1, &statement, nullptr) !=
      SQLITE_OK) {
    return true;
  }
  std::string format;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const std::string key = columnText(statement, 0);
    const std::string value = columnText(statement, 1);
    if (key == "format")
      format = value;
    else if (key == "name")
      name_ = value;
    else if (key == "attribution")
      attribution_ = value;
    else if (key == "minzoom")
      minZoom_ = std::clamp(std::atoi(value.c_str()), 0, 30);
    else if (key == "maxzoom")
      maxZoom_ = std::clamp(std::atoi(value.c_str()), 0, 30);
  }
  sqlite3_finalize(statement);
  const char* type = contentTypeOf(format);
  if (type == nullptr) {
    *error = "its tiles are \"" + format + "\"; only raster tiles (png, jpg, webp) are served";
    return false;
  }
  contentType_ = type;
  if (maxZoom_ < minZoom_) std::swap(minZoom_, maxZoom_);
  return true;
}

bool MbTiles::tile(int z, int x, int y, std::string* data) {
  if (z < 0 || z > 30 || x < 0 || y < 0 || x >= (1 << z) || y >= (1 << z)) return false;
  const int row = (1 << z) - 1 - y;
  kw::MutexLock lock(&mutex_);
  sqlite3_reset(lookup_);
  sqlite3_bind_int(lookup_, 1, z);
  sqlite3_bind_int(lookup_, 2, x);
  sqlite3_bind_int(lookup_, 3, row);
  bool found = false;
  if (sqlite3_step(lookup_) == SQLITE_ROW) {
    const void* bytes = sqlite3_column_blob(lookup_, 0);
    const int size = sqlite3_column_bytes(lookup_, 0);
    if (bytes != nullptr && size > 0) {
      data->assign(static_cast<const char*>(bytes), static_cast<size_t>(size));
      found = true;
    }
  }
  sqlite3_reset(lookup_);
  return found;
}

}  // namespace flowhost
