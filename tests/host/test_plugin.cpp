// A tiny plug-in for the loader tests, built several times with a different
// class name (TEST_PLUGIN_CLASS) and value (TEST_PLUGIN_VALUE) each time.
// Output 0 yields the value plus the last integer read on input 0.
#include "host/JAddObj.h"
#include "host/JIntegerData.h"
#include "host/JLinkObj.h"

#define TEST_PLUGIN_TEXT2(x) #x
#define TEST_PLUGIN_TEXT(x) TEST_PLUGIN_TEXT2(x)

// Every build defines this same name. Hidden, and opened local to its
// plug-in, each build must keep using its own.
int testPluginValue() { return TEST_PLUGIN_VALUE; }

class J_EXPORT TEST_PLUGIN_CLASS : public JAddObj {
 public:
  TEST_PLUGIN_CLASS() {
    igm = 1;
    ogm = 1;
  }
  const char* className() const override { return TEST_PLUGIN_TEXT(TEST_PLUGIN_CLASS); }
  JObject* clone() const override { return new TEST_PLUGIN_CLASS(*this); }
  void engine(int, JLinkObj& link) override {
    link.access(JIntegerData(received_));
    broadcast(0);
  }
  void access(int n, JLinkObj&, const JDataType& data) override {
    if (n == 0) static_cast<int&>(data) = testPluginValue() + received_;
  }

  static JString registered;

 private:
  int received_ = 0;
};

JString TEST_PLUGIN_CLASS::registered = [] {
  auto* block = new TEST_PLUGIN_CLASS();
  JString result = block->Register();
  delete block;
  return result;
}();
