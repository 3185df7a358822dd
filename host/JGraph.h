// JGraph: the host's dataflow graph. Owns blocks and the links between
// them, makes blocks of registered classes by class name, runs the blocks'
// lifecycle (startup, close) and destroys them through their virtual
// destructor.
//
// A link goes from output n of one block to input m of another. It is
// refused when either block is not in this graph, a port index does not
// exist (n not below the source's ogm, m not below the target's igm), the
// source's outputAllowed(n) or the target's inputAllowed(m) says no, the same
// link already exists, the link would close a cycle (evaluation runs
// synchronously through broadcast and engine, so a cycle would never end), or
// it would make a chain of links through more than kMaxChainBlocks blocks
// (each block of a chain nests one more engine call on the stack), or let
// one announcement run through more than kMaxAnnouncementLinks links (or
// kAnnouncementsPerLink times the graph's links, when that is more). The
// last two are checked over the whole graph, in time linear in its size.
//
// Owns every block added and every link made. Removing a block removes its
// links first and closes it when it was started.
// Invariants: each block is in at most one graph; every link's two blocks
// are in this graph and listed in those blocks' link lists.
// Thread safety: host's thread only; no block or link may be removed while
// an evaluation (engine, access, broadcast) is running.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "JExport.h"

class JGraphics;
class JLinkObj;
class JModuleObj;

class J_EXPORT JGraph {
 public:
  JGraph();
  // Closes every started block, then removes every link and destroys every
  // block, in the order they were added.
  ~JGraph();
  JGraph(const JGraph&) = delete;
  JGraph& operator=(const JGraph&) = delete;

  // Takes ownership of `block` and returns it; null (and `block` untouched)
  // when it is null or already in a graph.
  JModuleObj* add(JModuleObj* block, std::string* error = nullptr);
  // Makes a block of a registered class (a clone of the class's prototype)
  // and adds it; null with a reason when the class is unknown.
  JModuleObj* create(const char* className, std::string* error = nullptr);
  // The most blocks one chain of links may pass through.
  static constexpr int kMaxChainBlocks = 1000;
  // The most links one announcement may run through, counting every path:
  // links that fan out and meet again multiply the engine calls of one
  // broadcast, and this keeps them from growing without end. A larger
  // graph may run through kAnnouncementsPerLink times as many links as it
  // has: a clock that drives ten thousand units' blocks passes most links
  // once (a map block's outputs once for each of its two inputs), so its
  // cost grows with the graph, while paths that multiply grow past any
  // such share within a few layers.
  static constexpr long long kMaxAnnouncementLinks = 100000;
  static constexpr long long kAnnouncementsPerLink = 4;

  // Makes a link; null with a reason when it is refused (see above).
  JLinkObj* link(JModuleObj* source, int output, JModuleObj* target, int input,
                 std::string* error = nullptr);

  // One link for linkAll.
  struct LinkRequest {
    JModuleObj* source = nullptr;
    int output = 0;
    JModuleObj* target = nullptr;
    int input = 0;
  };
  // Makes many links at once, in order, with the checks of link(); cycles,
  // chains and announcements are checked once over the whole graph at the
  // end, so the time grows with the size of the graph, not with its square. When
  // one is refused, none of them is kept: false, a reason in `error`, and
  // in `refused` the index of the refused request (requests.size() when
  // the links together close a cycle, make too long a chain or let an
  // announcement run through too many links), and in `missing` whether the
  // refused request named an output or input its block does not have.
  enum class MissingPort { None, Output, Input };
  bool linkAll(const std::vector<LinkRequest>& requests, std::string* error = nullptr,
               size_t* refused = nullptr, MissingPort* missing = nullptr);
  // Removes and destroys a link of this graph; false when it is not one.
  bool unlink(JLinkObj* link);
  // Removes a block of this graph: its links, close (when started), delete.
  bool remove(JModuleObj* block);

  // Calls startup on every block not yet started, in order.
  void startup();
  // Calls close on every started block, in order.
  void close();
  // Calls close on every started block as close() does, but from up to
  // `workers` threads at once (the calling, host's, thread and helpers it
  // starts and waits for), each block closed by one of them: blocks whose
  // close pauses (a sniffer waits 100 ms after ending its feed) then pause
  // together instead of one after the other. Meant for a program's final
  // close, when nothing else runs: each block still gets one close call and
  // no other call meanwhile, but blocks close side by side, so a block's
  // close must touch no other block (no broadcast). That holds for every
  // block this host knows of.
  void closeTogether(int workers);
  bool isStarted(const JModuleObj* block) const;

  int blockCount() const { return static_cast<int>(blocks_.size()); }
  // The block at `index` (in the order added); null out of range.
  JModuleObj* block(int index) const;
  // The index of `block`, or -1 when it is not in this graph.
  int indexOf(const JModuleObj* block) const;
  int linkCount() const { return static_cast<int>(links_.size()); }
  // The link at `index` (in the order made); null out of range.
  JLinkObj* linkAt(int index) const;

  // Paints every block, in order, onto `graphics` at `scale`.
  void paint(JGraphics& graphics, double scale = 1.0);

 private:
  struct Slot {
    std::unique_ptr<JModuleObj> block;
    bool started = false;
  };

  Slot* slotOf(const JModuleObj* block);
  const Slot* slotOf(const JModuleObj* block) const;
  bool reaches(const JModuleObj* from, const JModuleObj* to) const;
  // Checks the whole graph for a cycle, a chain longer than
  // kMaxChainBlocks and an announcement running through more than
  // kMaxAnnouncementLinks links; false with a reason.
  bool checkEvaluation(std::string* error) const;
  // kMaxAnnouncementLinks, or kAnnouncementsPerLink times the number of
  // links when that is more.
  long long announcementBound() const;
  JLinkObj* makeLink(JModuleObj* source, int output, JModuleObj* target, int input);
  // Removes the links made last, from index `first` on.
  void takeBackLinks(size_t first);
  void detach(JLinkObj* link);

  std::vector<Slot> blocks_;
  std::vector<std::unique_ptr<JLinkObj>> links_;
};
