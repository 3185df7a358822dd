// What this test process holds now, read from /proc/self: its threads and
// its open file descriptors, so that a test can check that what it started
// (receive threads, sockets, events) is gone again.
//
// Owns nothing; any thread may call.
#pragma once

#include <cstddef>

namespace kw_test {

size_t threadCount();
size_t openFileCount();
// The thread count once it reached `want`, or after 500 ms whatever it is
// then (a joined thread may linger in /proc for a moment).
size_t settledThreadCount(size_t want);

}  // namespace kw_test
