// JSourceObj: the host's value source block, the counterpart of JProbeObj.
// Each output holds a value of one of the three port types; whoever drives
// the graph (a test, the headless runner) sets a value and announces it with
// broadcast(n), and linked blocks fetch it through access.
//
// Owns its values. Outputs start as integers of value 0. Stored entry:
// "outputs" (the output count, 1 to kMaxOutputs); the values are not stored.
// Invariant: igm is 0; ogm is between 1 and kMaxOutputs.
// Thread safety: host's thread only.
#pragma once

#include <vector>

#include "JAddObj.h"

class J_EXPORT JSourceObj : public JAddObj {
 public:
  static constexpr int kMaxOutputs = 256;

  // `outputs` is kept between 1 and kMaxOutputs.
  explicit JSourceObj(int outputs = 1);
  JSourceObj(const JSourceObj&) = default;
  JSourceObj& operator=(const JSourceObj&) = default;
  ~JSourceObj() override;

  void writeContent(JOutputStream& stream) override;
  void readContent(JDictionary& dictionary) override;
  const char* className() const override;
  JObject* clone() const override;

  JString outputTag(int n) override;
  int outputType(int n) override;
  void draw(JGraphics graphics, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;

  // Each makes output n of that type with that value; ignored out of range.
  // Nothing is announced: call broadcast(n) for that.
  void setInteger(int n, int value);
  void setReal(int n, double value);
  void setString(int n, const JString& value);

 private:
  struct Slot {
    int type;
    int integer = 0;
    double real = 0.0;
    JString text;
  };

  void setOutputs(int outputs);
  Slot* slot(int n);

  std::vector<Slot> slots_;
};
