#include "JFileProperty.h"

JFileProperty::JFileProperty(const JString& name, const JString& value, const JString& filter)
    : JProperty(name), value_(value), filter_(filter) {}

JFileProperty::~JFileProperty() = default;

const char* JFileProperty::className() const { return "JFileProperty"; }

JObject* JFileProperty::clone() const { return new JFileProperty(*this); }
