// JClockObj: the host's clock source block. Its one output, "clock"
// (integer), alternates between 0 and 1. Whoever drives the graph (the
// runner's ClockSchedule) calls toggle() every half period, so a block linked
// to it sees a rising edge `rate` times a second; a block that ticks on a
// rising edge (the sniffer) thus ticks at the rate.
//
// Property and stored entry "rate" (real, Hz, kMinRate to kMaxRate). The
// output value is not stored: a restored clock starts at 0.
// Owns nothing beyond its value and rate.
// Invariants: igm is 0, ogm is 1; the value is 0 or 1; the rate is finite and
// within kMinRate..kMaxRate.
// Thread safety: host's thread only.
#pragma once

#include "host/JAddObj.h"

class JClockObj : public JAddObj {
 public:
  static constexpr double kMinRate = 0.01;
  static constexpr double kMaxRate = 1000.0;
  static constexpr double kDefaultRate = 4.0;

  JClockObj();
  JClockObj(const JClockObj&) = default;
  JClockObj& operator=(const JClockObj&) = default;
  ~JClockObj() override;

  void writeContent(JOutputStream& stream) override;
  // A missing or unusable "rate" (not a number, out of range) keeps the
  // current rate.
  void readContent(JDictionary& dictionary) override;
  const char* className() const override;
  JObject* clone() const override;

  JArray getProperties() override;
  // Takes "rate" (a JRealProperty) when the value is a usable rate.
  bool updateProperty(JProperty& property) override;
  JString outputTag(int n) override;
  int outputType(int n) override;
  void draw(JGraphics graphics, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;

  static bool usableRate(double rate);
  double rate() const { return rate_; }
  // False, and the rate unchanged, when `rate` is not usable.
  bool setRate(double rate);

  int value() const { return value_; }
  // Sets the output (any nonzero value counts as 1) and announces it.
  void setValue(int value);
  // Flips the output between 0 and 1 and announces it.
  void toggle() { setValue(value_ == 0 ? 1 : 0); }

 private:
  double rate_ = kDefaultRate;
  int value_ = 0;
};
