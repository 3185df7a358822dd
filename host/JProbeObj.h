// JProbeObj: the host's display block. It records every value that arrives
// on its inputs, fetched through JLinkObj::access in the type the linked
// output announces (outputType), and shows the last value of each input on
// its face. Tests and the headless runner read what it recorded.
//
// Owns its records. Each input takes one link. Stored entry: "inputs"
// (the input count, 1 to kMaxInputs).
// Invariant: igm is between 1 and kMaxInputs; ogm is 0.
// Thread safety: host's thread only.
#pragma once

#include <string>
#include <vector>

#include "JAddObj.h"

class J_EXPORT JProbeObj : public JAddObj {
 public:
  static constexpr int kMaxInputs = 256;

  // One received value; `type` says which of the three fields holds it.
  struct Value {
    int input = 0;
    int type = 0;  // JIntegerData::id, JRealData::id or JStringData::id
    int integer = 0;
    double real = 0.0;
    std::string text;
  };

  // `inputs` is kept between 1 and kMaxInputs.
  explicit JProbeObj(int inputs = 1);
  JProbeObj(const JProbeObj&) = default;
  JProbeObj& operator=(const JProbeObj&) = default;
  ~JProbeObj() override;

  void writeContent(JOutputStream& stream) override;
  void readContent(JDictionary& dictionary) override;
  const char* className() const override;
  JObject* clone() const override;

  JString inputTag(int n) override;
  // The type of the output linked to input n, else JIntegerData::id.
  int inputType(int n) override;
  void draw(JGraphics graphics, int x, int y, int w, int h) override;
  bool inputAllowed(int n) override;
  void engine(int n, JLinkObj& link) override;

  const std::vector<Value>& values() const { return values_; }
  // The last value received on `input`, or null.
  const Value* last(int input) const;
  void clear() { values_.clear(); }

  // The value as shown on the face: an integer in decimal, a real with up to
  // six significant digits, a text as it is.
  static std::string display(const Value& value);

 private:
  void setInputs(int inputs);

  std::vector<Value> values_;
};
