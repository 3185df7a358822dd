#include "apps/flowhost/views/web/WebAssets.h"

namespace flowhost {

const WebAsset* findWebAsset(const std::string& path) {
  for (const WebAsset& asset : webAssets()) {
    if (path == asset.path) return &asset;
  }
  return nullptr;
}

}  // namespace flowhost
