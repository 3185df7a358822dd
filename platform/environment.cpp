// The process environment (see environment.h).
#include "platform/environment.h"

#include <cerrno>
#include <cstdlib>

namespace kw {

bool environmentValue(const char* name, std::string* value) {
  const char* found = std::getenv(name);
  if (found == nullptr) return false;
  *value = found;
  return true;
}

Failure setEnvironmentValue(const char* name, const char* value) {
  if (::setenv(name, value, 1) != 0) return Failure::fromErrno(std::string("set ") + name, errno);
  return {};
}

}  // namespace kw
