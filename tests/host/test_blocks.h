// Small blocks for the host's own tests: a recorder that logs what reaches
// its inputs and counts its lifecycle calls, and blocks that misbehave in
// one way each. Header-only; test code only.
#pragma once

#include <string>
#include <vector>

#include "host/JAddObj.h"
#include "host/JIntegerData.h"
#include "host/JLinkObj.h"
#include "host/JRealData.h"

namespace host_test {

// Lifecycle counts shared by every RecorderObj of a test.
struct Counts {
  int startups = 0;
  int closes = 0;
  int destroyed = 0;
};

// `inputs` inputs and `outputs` integer outputs. engine reads the input as
// an integer and logs "name:input=value"; output n yields `base` + n.
class RecorderObj : public JAddObj {
 public:
  RecorderObj(std::string name, int inputs, int outputs, std::vector<std::string>* log,
              Counts* counts = nullptr, int base = 0)
      : name_(std::move(name)), log_(log), counts_(counts), base_(base) {
    igm = inputs;
    ogm = outputs;
  }
  ~RecorderObj() override {
    if (counts_ != nullptr) ++counts_->destroyed;
  }
  const char* className() const override { return "RecorderObj"; }
  JObject* clone() const override { return new RecorderObj(*this); }
  void startup() override {
    if (counts_ != nullptr) ++counts_->startups;
  }
  void close() override {
    if (counts_ != nullptr) ++counts_->closes;
  }
  void engine(int n, JLinkObj& link) override {
    int value = -1;
    link.access(JIntegerData(value));
    if (log_ != nullptr)
      log_->push_back(name_ + ":" + std::to_string(n) + "=" + std::to_string(value));
  }
  void access(int n, JLinkObj&, const JDataType& data) override {
    static_cast<int&>(data) = base_ + n;
  }

 private:
  std::string name_;
  std::vector<std::string>* log_;
  Counts* counts_;
  int base_;
};

// Announces integer outputs but writes a real into whatever it is given.
class WrongTypeObj : public JAddObj {
 public:
  WrongTypeObj() { ogm = 1; }
  const char* className() const override { return "WrongTypeObj"; }
  JObject* clone() const override { return new WrongTypeObj(*this); }
  void access(int, JLinkObj&, const JDataType& data) override { static_cast<double&>(data) = 1.5; }
};

// Refuses every link on its outputs.
class ClosedOutputObj : public JAddObj {
 public:
  ClosedOutputObj() { ogm = 2; }
  const char* className() const override { return "ClosedOutputObj"; }
  JObject* clone() const override { return new ClosedOutputObj(*this); }
  bool outputAllowed(int) override { return false; }
};

}  // namespace host_test
