// JDisplayObj: the host's display block. It shows on its face the last
// value that reached each of its inputs, fetched through JLinkObj::access in
// the type the linked output announces, one line per input headed by the
// linked output's tag (or "in <n>" when it has none). Unlike JProbeObj it keeps only the last value
// of each input, so a long run does not grow it.
//
// Stored entry "inputs" (the input count, 1 to kMaxInputs); the values are
// not stored. Each input takes one link.
// Owns its last values. Invariants: igm is between 1 and kMaxInputs, ogm is
// 0; there is one value slot per input.
// Thread safety: host's thread only.
#pragma once

#include <string>
#include <vector>

#include "host/JAddObj.h"

class JDisplayObj : public JAddObj {
 public:
  static constexpr int kMaxInputs = 64;

  // The last value of one input; `type` says which field holds it.
  struct Value {
    bool received = false;
    int type = 0;  // JIntegerData::id, JRealData::id or JStringData::id
    int integer = 0;
    double real = 0.0;
    std::string text;
  };

  // `inputs` is kept between 1 and kMaxInputs.
  explicit JDisplayObj(int inputs = 1);
  JDisplayObj(const JDisplayObj&) = default;
  JDisplayObj& operator=(const JDisplayObj&) = default;
  ~JDisplayObj() override;

  void writeContent(JOutputStream& stream) override;
  // A missing "inputs" keeps the current count; others are kept in range.
  void readContent(JDictionary& dictionary) override;
  const char* className() const override;
  JObject* clone() const override;

  JString inputTag(int n) override;
  // The type of the output linked to input n, else JIntegerData::id.
  int inputType(int n) override;
  bool inputAllowed(int n) override;
  void draw(JGraphics graphics, int x, int y, int w, int h) override;
  void engine(int n, JLinkObj& link) override;

  // The last value of input n; null when n is out of range.
  const Value* last(int n) const;
  // The value as shown: an integer in decimal, a real with up to eight
  // significant digits, a text as it is, "-" before the first value.
  static std::string shown(const Value& value);
  // How many values have arrived in all (every input counted).
  long long received() const { return received_; }

 private:
  void setInputs(int inputs);

  std::vector<Value> values_;
  long long received_ = 0;
};
