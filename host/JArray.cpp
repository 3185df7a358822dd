#include "JArray.h"

JArray::JArray() : items_(std::make_shared<std::vector<std::unique_ptr<JObject>>>()) {}

JArray::~JArray() = default;

const char* JArray::className() const { return "JArray"; }

JObject* JArray::clone() const { return new JArray(*this); }

void JArray::append(JObject* object) {
  if (object != nullptr) items_->emplace_back(object);
}

void JArray::append(const JObject& object) { append(object.clone()); }

int JArray::size() const { return static_cast<int>(items_->size()); }

JObject* JArray::at(int index) const {
  if (index < 0 || index >= size()) return nullptr;
  return (*items_)[static_cast<size_t>(index)].get();
}
