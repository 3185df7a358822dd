#include "JIntegerProperty.h"

JIntegerProperty::JIntegerProperty(const JString& name, int value, int minimum, int maximum)
    : JProperty(name), value_(value), minimum_(minimum), maximum_(maximum) {}

JIntegerProperty::~JIntegerProperty() = default;

const char* JIntegerProperty::className() const { return "JIntegerProperty"; }

JObject* JIntegerProperty::clone() const { return new JIntegerProperty(*this); }
