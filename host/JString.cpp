#include "JString.h"

#include <cstring>

JString::JString() : text_(std::make_shared<std::string>()) {}

JString::JString(const char* text)
    : text_(std::make_shared<std::string>(text != nullptr ? text : "")) {}

JString::JString(const char* text, int count) : text_(std::make_shared<std::string>()) {
  if (text == nullptr) return;
  if (count <= 0) {
    *text_ = text;
  } else {
    // strnlen: do not read past `count` characters of an unterminated text.
    text_->assign(text, strnlen(text, static_cast<size_t>(count)));
  }
}

JString::~JString() = default;

const char* JString::className() const { return "JString"; }

JObject* JString::clone() const { return new JString(*this); }

JString::operator char*() const { return text_->data(); }

bool JString::operator==(const JString& other) const {
  return text_ == other.text_ || std::strcmp(text_->c_str(), other.text_->c_str()) == 0;
}

bool JString::operator==(const char* text) const {
  return std::strcmp(text_->c_str(), text != nullptr ? text : "") == 0;
}

int JString::length() const { return static_cast<int>(std::strlen(text_->c_str())); }
