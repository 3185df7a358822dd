// WebAssets: the web view's files (the page, its script and style sheet,
// the offline basemap, Leaflet and its marker clusters), carried inside
// flowhost so that the view needs no file beside the program and no
// internet. The build writes them into a generated source
// (embed_assets.cmake) from apps/flowhost/views/web/assets/ and Debian's
// Leaflet packages.
//
// Constant data. Thread safety: any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace flowhost {

struct WebAsset {
  const char* path;         // the address it is served at ("/assets/app.js")
  const char* contentType;  // "text/javascript; charset=utf-8"
  const unsigned char* data;
  size_t size;
  const unsigned char* gzip;  // the bytes gzipped (scripts and JSON), or null
  size_t gzipSize;
  const char* etag;  // a hash of the bytes, quoted, for If-None-Match
};

// Every file, in no particular order.
const std::vector<WebAsset>& webAssets();

// The file served at `path`, or null.
const WebAsset* findWebAsset(const std::string& path);

}  // namespace flowhost
