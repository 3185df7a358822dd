// JDoublerObj: a plug-in built outside the project, against an installed
// host only (its headers and libjhost), the way a user's own block is built.
// One integer input, one integer output: twice the last value received.
#include "JAddObj.h"
#include "JIntegerData.h"
#include "JLinkObj.h"

class J_EXPORT JDoublerObj : public JAddObj {
 public:
  JDoublerObj() {
    igm = 1;
    ogm = 1;
  }
  const char* className() const override { return "JDoublerObj"; }
  JObject* clone() const override { return new JDoublerObj(*this); }
  void engine(int, JLinkObj& link) override {
    link.access(JIntegerData(received_));
    broadcast(0);
  }
  void access(int n, JLinkObj&, const JDataType& data) override {
    if (n == 0) static_cast<int&>(data) = 2 * received_;
  }

 private:
  int received_ = 0;
};

// Opening the library registers the class with the host.
namespace {
JString registerDoubler() {
  JDoublerObj prototype;
  return prototype.Register();
}
}  // namespace
JString registered = registerDoubler();
