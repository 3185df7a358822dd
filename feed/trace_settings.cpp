// Trace settings (see trace_settings.h).
#include "feed/trace_settings.h"

#include <cstring>

#include "platform/environment.h"

namespace kw {

bool parseTraceSwitch(const char* text, bool* enabled) {
  if (text == nullptr) return false;
  if (std::strcmp(text, "on") == 0) {
    *enabled = true;
    return true;
  }
  if (std::strcmp(text, "off") == 0) {
    *enabled = false;
    return true;
  }
  return false;
}

bool parseTraceLimit(const char* text, uint64_t* bytes) {
  if (text == nullptr || *text == '\0') return false;
  constexpr uint64_t kLargest = 1ull << 63;
  uint64_t value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(*c - '0');
    if (value > (kLargest - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *bytes = value;
  return true;
}

bool parseTraceOpen(const char* text, bool* atStartup) {
  if (text == nullptr) return false;
  if (std::strcmp(text, "load") != 0 && std::strcmp(text, "startup") != 0) return false;
  *atStartup = std::strcmp(text, "startup") == 0;
  return true;
}

TraceSettings traceSettingsFromEnvironment(std::string* problem) {
  TraceSettings settings;
  std::string text;
  if (environmentValue(kTraceVariable, &text) &&
      !parseTraceSwitch(text.c_str(), &settings.enabled)) {
    if (problem != nullptr) *problem = std::string(kTraceVariable) + "=" + text + ": not on or off";
    settings.enabled = true;
  }
  if (environmentValue(kTraceLimitVariable, &text) &&
      !parseTraceLimit(text.c_str(), &settings.limitBytes)) {
    if (problem != nullptr) {
      *problem = std::string(kTraceLimitVariable) + "=" + text + ": not a number of bytes";
    }
    settings.limitBytes = kDefaultTraceLimitBytes;
  }
  if (environmentValue(kTraceOpenVariable, &text) &&
      !parseTraceOpen(text.c_str(), &settings.openAtStartup)) {
    if (problem != nullptr)
      *problem = std::string(kTraceOpenVariable) + "=" + text + ": not load or startup";
    settings.openAtStartup = false;
  }
  return settings;
}

Failure applyTraceSettings(const TraceSettings& settings) {
  if (Failure failure = setEnvironmentValue(kTraceVariable, settings.enabled ? "on" : "off")) {
    return failure;
  }
  if (Failure failure =
          setEnvironmentValue(kTraceLimitVariable, std::to_string(settings.limitBytes).c_str())) {
    return failure;
  }
  return setEnvironmentValue(kTraceOpenVariable, settings.openAtStartup ? "startup" : "load");
}

}  // namespace kw
