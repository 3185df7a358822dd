// The platform layer: the only code that calls the operating system or the
// C runtime's environment directly. The feed, the sniffer, the map-to-pixel
// block and the beacon use these services, one header per service:
//  - clock.h: the clock, `_timeb`/`_ftime`, Sleep;
//  - calendar.h, local_time.h: calendar conversions and the cached local
//    time of the packet parser;
//  - semaphore_lock.h, mutex.h, thread.h, process.h: locking (the feed's
//    semaphore; the servers' mutex and condition variable), threads, trace
//    numbers and the program's own file;
//  - worker.h, task_pool.h: a server's or writer's thread with its wake
//    event and stop; a fixed pool of threads running queued tasks;
//  - socket.h, multicast.h, wake_event.h: UDP multicast receiving and
//    sending, and waking a thread blocked on a socket;
//  - tcp_listener.h, tcp_connection.h, poll_loop.h: the local servers'
//    listening sockets, connections and the wait on many sockets;
//  - output_file.h: writing a stream to a file or pipe without blocking;
//  - files.h: appending, the trace log's regular-only writing and its
//    rotation, reading regular files, atomic replacement;
//  - environment.h: reading and setting environment variables;
//  - stop_signal.h: SIGINT/SIGTERM as a request to stop;
//  - terminal.h: terminal size and resize notices;
//  - failure.h: the failure-with-reason type every fallible call returns.
// This header includes them all, for code that uses several.
#pragma once

#include "platform/calendar.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/multicast.h"
#include "platform/mutex.h"
#include "platform/output_file.h"
#include "platform/poll_loop.h"
#include "platform/process.h"
#include "platform/semaphore_lock.h"
#include "platform/socket.h"
#include "platform/stop_signal.h"
#include "platform/task_pool.h"
#include "platform/tcp_connection.h"
#include "platform/tcp_listener.h"
#include "platform/terminal.h"
#include "platform/thread.h"
#include "platform/thread_annotations.h"
#include "platform/wake_event.h"
#include "platform/worker.h"
