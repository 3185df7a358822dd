#include "JStringProperty.h"

JStringProperty::JStringProperty(const JString& name, const JString& value)
    : JProperty(name), value_(value) {}

JStringProperty::~JStringProperty() = default;

const char* JStringProperty::className() const { return "JStringProperty"; }

JObject* JStringProperty::clone() const { return new JStringProperty(*this); }
