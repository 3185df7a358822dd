#include "JGraph.h"

#include <algorithm>

#include "JClassRegistry.h"
#include "JFailure.h"
#include "JGraphics.h"
#include "JLinkObj.h"
#include "JModuleObj.h"
#include "JRegion.h"

namespace {

using jhost::fail;

std::string portText(const char* kind, int index, const JModuleObj* block, int count) {
  return std::string(kind) + " " + std::to_string(index) + " does not exist on " +
         block->className() + " (" + std::to_string(count) + " " + kind + "s)";
}

}  // namespace

JGraph::JGraph() = default;

JGraph::~JGraph() {
  close();
  while (!links_.empty()) unlink(links_.back().get());
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
  std::vector<const JModuleObj*> seen;
  while (!pending.empty()) {
    const JModuleObj* block = pending.back();
    pending.pop_back();
    if (block == to) return true;
    if (std::find(seen.begin(), seen.end(), block) != seen.end()) continue;
    seen.push_back(block);
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
    fail(error, std::string(source->className()) + " refuses a link on output " +
                    std::to_string(output));
    return nullptr;
  }
  if (!target->inputAllowed(input)) {
    fail(error, std::string(target->className()) + " refuses a link on input " +
                    std::to_string(input));
    return nullptr;
  }
  links_.push_back(std::make_unique<JLinkObj>(source, output, target, input));
  JLinkObj* made = links_.back().get();
  source->outputLinks_.push_back(made);
  source->outputsStale_ = true;
  target->inputLinks_.push_back(made);
  return made;
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
