#include "JViewObj.h"

namespace {
constexpr double kDefaultWidth = 80.0;
constexpr double kDefaultHeight = 60.0;
}  // namespace

JViewObj::JViewObj() : JFRect(0.0, 0.0, kDefaultWidth, kDefaultHeight) {}

JViewObj::~JViewObj() = default;

const char* JViewObj::className() const { return "JViewObj"; }

JObject* JViewObj::clone() const { return new JViewObj(*this); }

void JViewObj::startup() {}

void JViewObj::reset() {}

void JViewObj::close() {}
