#include "JGraph.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "JClassRegistry.h"
#include "JFailure.h"
#include "JGraphics.h"
#include "JLinkObj.h"
#include "JModuleObj.h"
#include "JRegion.h"
#include "platform/thread.h"

namespace {

using jhost::fail;

std::string portText(const char* kind, int index, const JModuleObj* block, int count) {
  return std::string(kind) + " " + std::to_string(index) + " does not exist on " +
         block->className() + " (" + std::to_string(count) + " " + kind + "s)";
}

// A link's four parts, for finding duplicates among many links at once.
struct LinkKey {
  const JModuleObj* source;
  int output;
  const JModuleObj* target;
  int input;
  bool operator==(const LinkKey&) const = default;
};

struct LinkKeyHash {
  size_t operator()(const LinkKey& key) const {
    size_t h = std::hash<const void*>()(key.source);
    h = h * 31 + std::hash<int>()(key.output);
    h = h * 31 + std::hash<const void*>()(key.target);
    return h * 31 + std::hash<int>()(key.input);
  }
};

using LinkKeys = std::unordered_set<LinkKey, LinkKeyHash>;

std::string chainText() {
  return "the links would make a chain through more than " +
         std::to_string(JGraph::kMaxChainBlocks) + " blocks";
}

// Why linkAll refuses `request` in `graph`, cycles and chains aside; empty
// when it is allowed. `existing` holds every link already made; *missing
// tells a missing port apart.
std::string refusal(const JGraph* graph, const JGraph::LinkRequest& request,
                    const LinkKeys& existing, JGraph::MissingPort* missing) {
  JModuleObj* source = request.source;
  JModuleObj* target = request.target;
  *missing = JGraph::MissingPort::None;
  if (source == nullptr || target == nullptr || source->graph() != graph ||
      target->graph() != graph) {
    return "both blocks of a link must be in this graph";
  }
  if (request.output < 0 || request.output >= source->ogm) {
    *missing = JGraph::MissingPort::Output;
    return portText("output", request.output, source, source->ogm);
  }
  if (request.input < 0 || request.input >= target->igm) {
    *missing = JGraph::MissingPort::Input;
    return portText("input", request.input, target, target->igm);
  }
  if (existing.count(LinkKey{source, request.output, target, request.input}) != 0) {
    return "this link already exists";
  }
  if (source == target) return "the link would close a cycle";
  if (!source->outputAllowed(request.output)) {
    return std::string(source->className()) + " refuses a link on output " +
           std::to_string(request.output);
  }
  if (!target->inputAllowed(request.input)) {
    return std::string(target->className()) + " refuses a link on input " +
           std::to_string(request.input);
  }
  return "";
}

}  // namespace

JGraph::JGraph() = default;

JGraph::~JGraph() {
  close();
  // Every link goes, so each block's lists are emptied whole rather than
  // link by link (which takes the square of the link count).
  for (Slot& slot : blocks_) {
    slot.block->inputLinks_.clear();
    slot.block->outputLinks_.clear();
    slot.block->outputsStale_ = true;
  }
  links_.clear();
  for (Slot& slot : blocks_) {
    slot.block->graph_ = nullptr;
    slot.block.reset();
  }
}

JGraph::Slot* JGraph::slotOf(const JModuleObj* block) {
  for (Slot& slot : blocks_) {
    if (block != nullptr && slot.block.get() == block) return &slot;
  }
  return nullptr;
}

const JGraph::Slot* JGraph::slotOf(const JModuleObj* block) const {
  for (const Slot& slot : blocks_) {
    if (block != nullptr && slot.block.get() == block) return &slot;
  }
  return nullptr;
}

JModuleObj* JGraph::add(JModuleObj* block, std::string* error) {
  if (block == nullptr) {
    fail(error, "no block to add");
    return nullptr;
  }
  if (block->graph_ != nullptr) {
    fail(error, std::string("the ") + block->className() + " block is already in a graph");
    return nullptr;
  }
  block->graph_ = this;
  blocks_.push_back(Slot{std::unique_ptr<JModuleObj>(block), false});
  return block;
}

JModuleObj* JGraph::create(const char* className, std::string* error) {
  const std::string name = className != nullptr ? className : "";
  if (!JClassRegistry::contains(name)) {
    fail(error, "unknown module class '" + name + "'");
    return nullptr;
  }
  JModuleObj* block = JClassRegistry::make(name);
  if (block == nullptr) {
    fail(error, "the prototype of module class '" + name + "' could not be copied");
    return nullptr;
  }
  return add(block, error);
}

// True when a chain of links leads from `from`'s outputs to `to`.
bool JGraph::reaches(const JModuleObj* from, const JModuleObj* to) const {
  std::vector<const JModuleObj*> pending{from};
  std::unordered_set<const JModuleObj*> seen;
  while (!pending.empty()) {
    const JModuleObj* block = pending.back();
    pending.pop_back();
    if (block == to) return true;
    if (!seen.insert(block).second) continue;
    for (const JLinkObj* link : block->outputLinks_) pending.push_back(link->target());
  }
  return false;
}

JLinkObj* JGraph::link(JModuleObj* source, int output, JModuleObj* target, int input,
                       std::string* error) {
  if (slotOf(source) == nullptr || slotOf(target) == nullptr) {
    fail(error, "both blocks of a link must be in this graph");
    return nullptr;
  }
  if (output < 0 || output >= source->ogm) {
    fail(error, portText("output", output, source, source->ogm));
    return nullptr;
  }
  if (input < 0 || input >= target->igm) {
    fail(error, portText("input", input, target, target->igm));
    return nullptr;
  }
  for (const JLinkObj* existing : source->outputLinks_) {
    if (existing->output() == output && existing->target() == target &&
        existing->input() == input) {
      fail(error, "this link already exists");
      return nullptr;
    }
  }
  if (reaches(target, source)) {
    fail(error, "the link would close a cycle");
    return nullptr;
  }
  if (!source->outputAllowed(output)) {
    fail(error,
         std::string(source->className()) + " refuses a link on output " + std::to_string(output));
    return nullptr;
  }
  if (!target->inputAllowed(input)) {
    fail(error,
         std::string(target->className()) + " refuses a link on input " + std::to_string(input));
    return nullptr;
  }
  JLinkObj* made = makeLink(source, output, target, input);
  if (!checkEvaluation(error)) {
    takeBackLinks(links_.size() - 1);
    return nullptr;
  }
  return made;
}

// Kahn's order over the whole graph: a block whose inputs never all come
// from ordered blocks is on a cycle; the longest chain ending at a block is
// one more than the longest ending at any of its sources. Then, in the
// reverse order, the links one announcement of all of a block's outputs
// can run through, taking each engine to announce all of its outputs in
// turn: one for each link of the block plus what its target's announcement
// runs through (counted up to just past the bound).
bool JGraph::checkEvaluation(std::string* error) const {
  std::unordered_map<const JModuleObj*, size_t> position;
  position.reserve(blocks_.size());
  for (size_t i = 0; i < blocks_.size(); ++i) position[blocks_[i].block.get()] = i;
  std::vector<size_t> waiting(blocks_.size(), 0);  // inputs from unordered blocks
  std::vector<int> chain(blocks_.size(), 1);
  std::vector<size_t> ready;
  for (size_t i = 0; i < blocks_.size(); ++i) {
    waiting[i] = blocks_[i].block->inputLinks_.size();
    if (waiting[i] == 0) ready.push_back(i);
  }
  std::vector<size_t> order;
  order.reserve(blocks_.size());
  while (!ready.empty()) {
    const size_t i = ready.back();
    ready.pop_back();
    order.push_back(i);
    if (chain[i] > kMaxChainBlocks) {
      fail(error, chainText());
      return false;
    }
    for (const JLinkObj* link : blocks_[i].block->outputLinks_) {
      const size_t t = position.at(link->target());
      chain[t] = std::max(chain[t], chain[i] + 1);
      if (--waiting[t] == 0) ready.push_back(t);
    }
  }
  if (order.size() != blocks_.size()) {
    fail(error, "the links would close a cycle");
    return false;
  }
  const long long bound = announcementBound();
  std::vector<long long> runs(blocks_.size(), 0);
  for (size_t k = order.size(); k-- > 0;) {
    const size_t i = order[k];
    long long total = 0;
    for (const JLinkObj* link : blocks_[i].block->outputLinks_) {
      total += 1 + runs[position.at(link->target())];
      if (total > bound) {
        fail(error, "the links would let one announcement run through more than " +
                        std::to_string(bound) + " links");
        return false;
      }
    }
    runs[i] = total;
  }
  return true;
}

long long JGraph::announcementBound() const {
  return std::max(kMaxAnnouncementLinks,
                  kAnnouncementsPerLink * static_cast<long long>(links_.size()));
}

JLinkObj* JGraph::makeLink(JModuleObj* source, int output, JModuleObj* target, int input) {
  links_.push_back(std::make_unique<JLinkObj>(source, output, target, input));
  JLinkObj* made = links_.back().get();
  source->outputLinks_.push_back(made);
  source->outputsStale_ = true;
  target->inputLinks_.push_back(made);
  return made;
}

// The links from `first` on are the last of the graph's list and of each
// block's two lists, so taking them back from the end undoes them exactly.
void JGraph::takeBackLinks(size_t first) {
  while (links_.size() > first) {
    JLinkObj* link = links_.back().get();
    link->source()->outputLinks_.pop_back();
    link->source()->outputsStale_ = true;
    link->target()->inputLinks_.pop_back();
    links_.pop_back();
  }
}

bool JGraph::linkAll(const std::vector<LinkRequest>& requests, std::string* error, size_t* refused,
                     MissingPort* missing) {
  MissingPort port = MissingPort::None;
  if (missing != nullptr) *missing = MissingPort::None;
  LinkKeys existing;
  existing.reserve(links_.size() + requests.size());
  for (const auto& link : links_) {
    existing.insert(LinkKey{link->source(), link->output(), link->target(), link->input()});
  }
  const size_t before = links_.size();
  for (size_t i = 0; i < requests.size(); ++i) {
    const LinkRequest& r = requests[i];
    const std::string reason = refusal(this, r, existing, &port);
    if (!reason.empty()) {
      takeBackLinks(before);
      fail(error, reason);
      if (refused != nullptr) *refused = i;
      if (missing != nullptr) *missing = port;
      return false;
    }
    existing.insert(LinkKey{r.source, r.output, r.target, r.input});
    makeLink(r.source, r.output, r.target, r.input);
  }
  if (!checkEvaluation(error)) {
    takeBackLinks(before);
    if (refused != nullptr) *refused = requests.size();
    return false;
  }
  return true;
}

void JGraph::detach(JLinkObj* link) {
  auto drop = [link](std::vector<JLinkObj*>& list) {
    list.erase(std::remove(list.begin(), list.end(), link), list.end());
  };
  drop(link->source()->outputLinks_);
  link->source()->outputsStale_ = true;
  drop(link->target()->inputLinks_);
}

bool JGraph::unlink(JLinkObj* link) {
  auto it = std::find_if(links_.begin(), links_.end(),
                         [link](const std::unique_ptr<JLinkObj>& l) { return l.get() == link; });
  if (link == nullptr || it == links_.end()) return false;
  detach(link);
  links_.erase(it);
  return true;
}

bool JGraph::remove(JModuleObj* block) {
  Slot* slot = slotOf(block);
  if (slot == nullptr) return false;
  for (size_t i = links_.size(); i-- > 0;) {
    JLinkObj* link = links_[i].get();
    if (link->source() == block || link->target() == block) unlink(link);
  }
  if (slot->started) {
    slot->started = false;
    block->close();
  }
  // Take the block out of the list before destroying it, so that the list
  // is whole while its destructor runs.
  std::unique_ptr<JModuleObj> owned = std::move(slot->block);
  blocks_.erase(blocks_.begin() + (slot - blocks_.data()));
  owned->graph_ = nullptr;
  owned.reset();
  return true;
}

void JGraph::startup() {
  for (Slot& slot : blocks_) {
    if (!slot.started) {
      slot.started = true;
      slot.block->startup();
    }
  }
}

void JGraph::close() {
  for (Slot& slot : blocks_) {
    if (slot.started) {
      slot.started = false;
      slot.block->close();
    }
  }
}

namespace {

// The blocks to close and the next one nobody has taken yet.
struct ClosingWork {
  std::vector<JModuleObj*> blocks;
  std::atomic<size_t> next{0};
};

void closeSome(void* work) {
  auto* w = static_cast<ClosingWork*>(work);
  for (size_t i = w->next++; i < w->blocks.size(); i = w->next++) w->blocks[i]->close();
}

}  // namespace

void JGraph::closeTogether(int workers) {
  ClosingWork work;
  for (Slot& slot : blocks_) {
    if (slot.started) {
      slot.started = false;
      work.blocks.push_back(slot.block.get());
    }
  }
  const size_t helpers = std::min(work.blocks.size(), static_cast<size_t>(std::max(workers, 1))) -
                         (work.blocks.empty() ? 0 : 1);
  std::vector<std::unique_ptr<kw::Thread>> threads;
  threads.reserve(helpers);
  for (size_t t = 0; t < helpers; ++t) {
    auto thread = std::make_unique<kw::Thread>();
    // No more threads: the ones there are (and this one) close the rest.
    if (!thread->start(&closeSome, &work)) break;
    threads.push_back(std::move(thread));
  }
  closeSome(&work);
  for (auto& thread : threads) thread->join();
}

bool JGraph::isStarted(const JModuleObj* block) const {
  const Slot* slot = slotOf(block);
  return slot != nullptr && slot->started;
}

JModuleObj* JGraph::block(int index) const {
  if (index < 0 || index >= blockCount()) return nullptr;
  return blocks_[static_cast<size_t>(index)].block.get();
}

int JGraph::indexOf(const JModuleObj* block) const {
  for (size_t i = 0; i < blocks_.size(); ++i) {
    if (block != nullptr && blocks_[i].block.get() == block) return static_cast<int>(i);
  }
  return -1;
}

JLinkObj* JGraph::linkAt(int index) const {
  if (index < 0 || index >= linkCount()) return nullptr;
  return links_[static_cast<size_t>(index)].get();
}

void JGraph::paint(JGraphics& graphics, double scale) {
  JRegion everything;
  for (Slot& slot : blocks_) slot.block->paint(graphics, 0.0, 0.0, everything, scale);
}
