#include "JProperty.h"

JProperty::JProperty(const JString& name) : name_(name) {}

JProperty::~JProperty() = default;

const char* JProperty::className() const { return "JProperty"; }

JObject* JProperty::clone() const { return new JProperty(*this); }
