// JLinkObj: a link from output `output` of one block (the source) to input
// `input` of another (the target). The host's graph (JGraph) owns the links
// it makes; a test may also make a free-standing link on the stack.
//
// Owns nothing: both blocks belong to the graph, which removes a block's
// links before it destroys the block.
// Invariants: the ends never change after construction.
// Thread safety: host's thread only.
#pragma once

#include "JExport.h"

class JDataType;
class JModuleObj;

class J_EXPORT JLinkObj {
 public:
  // A link with no ends: access asks nobody and leaves data untouched.
  JLinkObj();
  JLinkObj(JModuleObj* source, int output, JModuleObj* target, int input);
  JLinkObj(const JLinkObj&) = delete;
  JLinkObj& operator=(const JLinkObj&) = delete;

  JModuleObj* source() const { return source_; }
  int output() const { return output_; }
  JModuleObj* target() const { return target_; }
  int input() const { return input_; }

  // Fetches the current value of the source's output into `data`: calls the
  // source block's access(output, *this, data). When the data's type differs
  // from the source's outputType(output), the value is fetched in the
  // source's type and converted: integer and real into each other (a real is
  // truncated toward zero, and kept within the int range; a NaN is not
  // converted), numbers into their decimal text, and a text into a number
  // when it starts with one (after leading blanks).
  // Returns true when a value reached `data`; false when there is no
  // source, the source left its data untouched, or the conversion failed
  // (then `data` is untouched too).
  bool access(const JDataType& data);

 private:
  JModuleObj* source_ = nullptr;
  int output_ = 0;
  JModuleObj* target_ = nullptr;
  int input_ = 0;
};
