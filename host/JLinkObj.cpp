#include "JLinkObj.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "JIntegerData.h"
#include "JModuleObj.h"
#include "JRealData.h"
#include "JStringData.h"

JLinkObj::JLinkObj() = default;

JLinkObj::JLinkObj(JModuleObj* source, int output, JModuleObj* target, int input)
    : source_(source), output_(output), target_(target), input_(input) {}

namespace {

// A value fetched in the source's type, before conversion.
struct Fetched {
  int integer = 0;
  double real = 0.0;
  JString text;
};

bool isKnownType(int type) {
  return type == JIntegerData::id || type == JRealData::id || type == JStringData::id;
}

// Leading blanks skipped; the number must start right after them.
const char* numberStart(const char* text) {
  while (*text != '\0' && std::isspace(static_cast<unsigned char>(*text))) ++text;
  if (*text == '+') ++text;  // from_chars does not take a plus sign
  return text;
}

bool textToInteger(const char* text, int* out) {
  const char* begin = numberStart(text);
  return std::from_chars(begin, begin + std::strlen(begin), *out).ec == std::errc();
}

bool textToReal(const char* text, double* out) {
  const char* begin = numberStart(text);
  return std::from_chars(begin, begin + std::strlen(begin), *out).ec == std::errc();
}

bool realToInteger(double value, int* out) {
  if (std::isnan(value)) return false;
  const double truncated = std::trunc(value);
  if (truncated >= 2147483647.0) {
    *out = 2147483647;
  } else if (truncated <= -2147483648.0) {
    *out = -2147483647 - 1;
  } else {
    *out = static_cast<int>(truncated);
  }
  return true;
}

JString realToText(double value) {
  char buffer[64];
  // Shortest text that reads back as the same double.
  const auto result = std::to_chars(buffer, buffer + sizeof buffer - 1, value);
  *result.ptr = '\0';
  return JString(buffer);
}

// Writes `from` (of type `fromType`) into `data` (of another type).
bool convert(int fromType, const Fetched& from, const JDataType& data) {
  const int toType = data.type();
  if (toType == JIntegerData::id) {
    int value = 0;
    bool ok = false;
    if (fromType == JRealData::id) ok = realToInteger(from.real, &value);
    if (fromType == JStringData::id) ok = textToInteger(from.text, &value);
    if (ok) static_cast<int&>(data) = value;
    return ok;
  }
  if (toType == JRealData::id) {
    double value = 0.0;
    bool ok = false;
    if (fromType == JIntegerData::id) {
      value = from.integer;
      ok = true;
    }
    if (fromType == JStringData::id) ok = textToReal(from.text, &value);
    if (ok) static_cast<double&>(data) = value;
    return ok;
  }
  if (toType == JStringData::id) {
    if (fromType == JIntegerData::id) {
      static_cast<JString&>(data) = JString(std::to_string(from.integer).c_str());
      return true;
    }
    if (fromType == JRealData::id) {
      static_cast<JString&>(data) = realToText(from.real);
      return true;
    }
  }
  return false;
}

}  // namespace

bool JLinkObj::access(const JDataType& data) {
  if (source_ == nullptr) return false;
  data.reached_ = false;
  const int fromType = source_->outputType(output_);
  if (fromType == data.type() || !isKnownType(fromType)) {
    // Same type (or a type this host cannot convert): the source fills the
    // caller's data itself; a mismatched write lands in its scratch value.
    source_->access(output_, *this, data);
    return data.reached();
  }
  Fetched fetched;
  bool reached = false;
  if (fromType == JIntegerData::id) {
    JIntegerData temporary(fetched.integer);
    source_->access(output_, *this, temporary);
    reached = temporary.reached();
  } else if (fromType == JRealData::id) {
    JRealData temporary(fetched.real);
    source_->access(output_, *this, temporary);
    reached = temporary.reached();
  } else {
    JStringData temporary(fetched.text);
    source_->access(output_, *this, temporary);
    reached = temporary.reached();
  }
  return reached && convert(fromType, fetched, data);
}
