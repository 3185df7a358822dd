// Trace settings: whether the trace log is kept, the size at which
// "logFile.txt" is rotated to "logFile.txt.1", and when the file is first
// touched. They come from the environment, so that a program can set them
// (flowhost's --trace and --trace-limit) before the plug-in whose log reads
// them is loaded:
//   KW_TRACE=off               the log stays closed from the start ("on": kept, the default)
//   KW_TRACE_LIMIT_BYTES=N     rotate before a line would take the file past
//                              N bytes; 0 = never rotate; default 64 MiB
//   KW_TRACE_OPEN=startup      the file is opened (and emptied) when the host
//                              starts its first sniffer block, not when the
//                              plug-in loads ("load", the default); the lines
//                              written before are held until then, so a host
//                              that only loads documents (to check or convert
//                              them) leaves the file alone
//
// Owns nothing. Parsing is pure (any thread); the environment functions as
// in platform/environment.h.
#pragma once

#include <cstdint>
#include <string>

#include "platform/failure.h"

namespace kw {

inline constexpr const char* kTraceVariable = "KW_TRACE";
inline constexpr const char* kTraceLimitVariable = "KW_TRACE_LIMIT_BYTES";
inline constexpr const char* kTraceOpenVariable = "KW_TRACE_OPEN";
inline constexpr uint64_t kDefaultTraceLimitBytes = 64ull * 1024 * 1024;

struct TraceSettings {
  bool enabled = true;
  uint64_t limitBytes = kDefaultTraceLimitBytes;  // 0: no limit
  bool openAtStartup = false;                     // the file waits for the first block's startup
};

// "on" or "off"; false for anything else.
bool parseTraceSwitch(const char* text, bool* enabled);
// Decimal digits only, at most 2^63; false for anything else ("", "-1", "1k").
bool parseTraceLimit(const char* text, uint64_t* bytes);
// "load" or "startup"; false for anything else.
bool parseTraceOpen(const char* text, bool* atStartup);

// The settings the environment gives. A variable with a value that does not
// parse keeps the default; *problem (when not null) then says which, as one
// line without its line end ("KW_TRACE_LIMIT_BYTES=1k: not a number of bytes").
TraceSettings traceSettingsFromEnvironment(std::string* problem);

// Writes `settings` into the environment for a trace log opened later in
// this process.
Failure applyTraceSettings(const TraceSettings& settings);

}  // namespace kw
