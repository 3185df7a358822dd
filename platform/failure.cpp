// Failure and errno texts (see failure.h).
#include "platform/failure.h"

#include <cstring>

namespace kw {

Failure Failure::because(std::string_view context, std::string_view reason) {
  Failure failure;
  failure.text_.reserve(context.size() + 2 + reason.size());
  failure.text_.append(context);
  failure.text_.append(": ");
  failure.text_.append(reason.empty() ? std::string_view("failed") : reason);
  return failure;
}

Failure Failure::fromErrno(std::string_view context, int error) {
  return because(context, errnoText(error));
}

std::string errnoText(int error) {
  char buffer[256];
  // GNU strerror_r: returns the text, in `buffer` or a static string.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string("error ") + std::to_string(error);
}

}  // namespace kw
