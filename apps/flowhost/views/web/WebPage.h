// WebPage: the web view's page and its script, served by WebServer from
// this program (no file and no internet needed). The page carries the
// state of its moment (withState), so it shows at once; once loaded, the
// script follows "/events" and redraws the graph, the maps and the node
// table (sortable by any column) on every event.
// Constant texts. Thread safety: any thread.
#pragma once

#include <string>

namespace flowhost {

struct WebPage {
  static const char* html();
  static const char* script();
  // The page with `stateJson` in it, safe inside its script element.
  static std::string withState(const std::string& stateJson);
};

}  // namespace flowhost
