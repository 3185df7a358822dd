#include "JRealProperty.h"

JRealProperty::JRealProperty(const JString& name, double value, int width, int precision)
    : JProperty(name), value_(value), width_(width), precision_(precision) {}

JRealProperty::~JRealProperty() = default;

const char* JRealProperty::className() const { return "JRealProperty"; }

JObject* JRealProperty::clone() const { return new JRealProperty(*this); }
