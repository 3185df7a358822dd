// Process and thread numbers for trace lines.
//
// Owns nothing; any thread may call.
#pragma once

namespace kw {

// This process's id.
int processId();
// The calling thread's kernel id.
int threadId();

}  // namespace kw
