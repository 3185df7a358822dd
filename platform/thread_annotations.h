// Clang's thread-safety annotations, as macros that vanish under other
// compilers. The semaphore and mutex types of the platform layer carry them,
// and so do the fields those types guard, so that the clang build
// (-Wthread-safety) checks every access to a guarded field.
//
// Owns nothing; usable from any thread.
#pragma once

#if defined(__clang__)
#define KW_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KW_THREAD_ANNOTATION(x)
#endif

#define KW_CAPABILITY(x) KW_THREAD_ANNOTATION(capability(x))
#define KW_SCOPED_CAPABILITY KW_THREAD_ANNOTATION(scoped_lockable)
#define KW_GUARDED_BY(x) KW_THREAD_ANNOTATION(guarded_by(x))
#define KW_PT_GUARDED_BY(x) KW_THREAD_ANNOTATION(pt_guarded_by(x))
#define KW_ACQUIRE(...) KW_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define KW_RELEASE(...) KW_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define KW_REQUIRES(...) KW_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define KW_EXCLUDES(...) KW_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define KW_NO_THREAD_SAFETY_ANALYSIS KW_THREAD_ANNOTATION(no_thread_safety_analysis)
