// The platform layer: the only code that calls the operating system or the
// C runtime's environment directly. The feed, the sniffer, the map-to-pixel
// block and the beacon use these services, one header per service:
//  - clock.h: the clock, `_timeb`/`_ftime`, Sleep;
//  - calendar.h, local_time.h: calendar conversions and the cached local
//    time of the packet parser;
//  - semaphore_lock.h, thread.h, process.h: locking, threads, trace numbers
//    and the program's own file;
//  - socket.h, multicast.h, wake_event.h: UDP multicast receiving and
//    sending, and waking a thread blocked on a socket;
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
#include "platform/process.h"
#include "platform/semaphore_lock.h"
#include "platform/socket.h"
#include "platform/stop_signal.h"
#include "platform/terminal.h"
#include "platform/thread.h"
#include "platform/thread_annotations.h"
#include "platform/wake_event.h"
