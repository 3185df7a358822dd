// WebState: what the web view shows, kept on the runner's thread. Each tick
// it takes every unit's update (the same NodeUpdate every output form
// gets, keyed and named through outputs/ so that fleets reach the page
// unchanged), the tick's events and the outputs' state changes, and makes
// the tick's snapshot (WebSnapshot) and the delta a browser needs to go
// from the previous snapshot to this one:
//
//   {"seq","t","ticks","wall",
//    "p":[[i,lat,lon],...]         units with a new fix (heard at "t"),
//    "h":[[i,health],...]          health grades that changed,
//    "m":[[i,map],...]             map flags that changed (1, 0, null),
//    "f":[[i,key,name,node,feed]]  identities that changed,
//    "units":[[key,name,node,feed],...]  all of them, when their number changed,
//    "ports":[...], "outputs":[...]      when they changed,
//    "sites":[...]                       at a centre, when they changed,
//    "ev":[[wall ms,kind,text],...]      the events since the last tick}
//
// Each part is there only when it has something; a tick where nothing
// changed has no delta at all. At a thousand moving units a delta is about
// 30 KB, four a second.
//
// The map blocks' rectangles (their corners are the geofences) and the
// graph's painting come from the graph: the rectangles are read once (no
// one edits them during a run); the graph is painted only when asked for
// (graphJson), since a thousand units make a graph of four thousand
// blocks, whose picture is megabytes.
//
// Owns the latest snapshot and the event list. Thread safety: the runner's
// thread only (it paints the blocks).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "apps/flowhost/run/NodeTable.h"
#include "apps/flowhost/views/web/WebSnapshot.h"
#include "outputs/OutputForm.h"

class JGraph;

namespace flowhost {

class WebState {
 public:
  static constexpr size_t kEvents = 200;  // kept for a browser that starts

  WebState(const JGraph& graph, std::string siteJson);

  // The tick's snapshot; *delta receives the delta's JSON ("" when nothing
  // changed).
  std::shared_ptr<const WebSnapshot> tick(const kw_out::OutputTick& tick, double seconds,
                                          long long ticks, std::string* delta);
  // The ports' lines and events, once a second (shown from the next tick).
  void ports(const std::vector<PortRow>& rows, const kw_out::OutputPorts& report);
  // At a centre: the sites and their changes (each an event), shown from
  // the next tick.
  void sites(const kw_out::SiteReport& report);
  // Every block's face at its stored position, and the links:
  // {"width","height","svg","links":[[x1,y1,x2,y2],...]}.
  std::string graphJson() const;

  // The map blocks' rectangles (one per distinct name and corners).
  static std::vector<WebArea> areasOf(const JGraph& graph);

 private:
  void takeUnits(const kw_out::OutputTick& tick, WebSnapshot* next, std::string* delta);
  void takeOutputs(const kw_out::OutputTick& tick, WebSnapshot* next, std::string* delta);
  void takeEvents(WebSnapshot* next, std::string* delta);
  void addEvent(int64_t wallMs, const kw_out::Event& event);

  const JGraph& graph_;
  std::vector<int> sniffers_;  // the sniffer blocks, in graph order
  std::shared_ptr<const WebSnapshot> last_;
  std::vector<WebEvent> newEvents_;  // since the last tick
  std::shared_ptr<const std::vector<WebPort>> ports_;
  bool portsChanged_ = false;
  std::shared_ptr<const std::vector<WebSite>> sites_;
  bool sitesChanged_ = false;
};

}  // namespace flowhost
