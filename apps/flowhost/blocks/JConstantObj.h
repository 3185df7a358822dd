// JConstantObj: the host's constant block. Its one output, "value"
// (integer), holds the block's value; the runner announces it once after
// every block has started (announce()), and again whenever the "value"
// property is edited. Used for the sniffer's "on off" input.
//
// Property and stored entry "value" (integer). Owns nothing beyond it.
// Invariants: igm is 0, ogm is 1.
// Thread safety: host's thread only.
#pragma once

#include "host/JAddObj.h"

class JConstantObj : public JAddObj {
 public:
  JConstantObj();
  JConstantObj(const JConstantObj&) = default;
  JConstantObj& operator=(const JConstantObj&) = default;
  ~JConstantObj() override;

  void writeContent(JOutputStream& stream) override;
  // A missing "value", or one that does not fit an int, keeps the current one.
  void readContent(JDictionary& dictionary) override;
  const char* className() const override;
  JObject* clone() const override;

  JArray getProperties() override;
  // Takes "value" (a JIntegerProperty) and announces the new value.
  bool updateProperty(JProperty& property) override;
  JString outputTag(int n) override;
  int outputType(int n) override;
  void draw(JGraphics graphics, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;

  int value() const { return value_; }
  // Sets the value without announcing it.
  void setValue(int value) { value_ = value; }
  // Announces the value on output 0.
  void announce() { broadcast(0); }

 private:
  int value_ = 0;
};
