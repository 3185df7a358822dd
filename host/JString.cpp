#include "JString.h"

#include <cstring>

namespace {
// Every empty string made without a text shares this buffer: nothing can be
// written into it (a buffer is writable only within its length), and data
// fields of each output port of every block start out empty, so a tick made
// one allocation per field before.
const std::shared_ptr<std::string>& emptyText() {
  static const std::shared_ptr<std::string> empty = std::make_shared<std::string>();
  return empty;
}
}  // namespace

JString::JString() : text_(emptyText()) {}

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
