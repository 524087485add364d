// Lock requirements the compiler checks. Clang's thread-safety analysis reads
// these attributes (-Wthread-safety); other compilers see nothing.
#pragma once

#if defined(__clang__)
#define RS232C_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define RS232C_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) RS232C_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY RS232C_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) RS232C_THREAD_ATTRIBUTE(guarded_by(x))
#define ACQUIRED_AFTER(...) RS232C_THREAD_ATTRIBUTE(acquired_after(__VA_ARGS__))
#define REQUIRES(...) RS232C_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) RS232C_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) RS232C_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define EXCLUDES(...) RS232C_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS RS232C_THREAD_ATTRIBUTE(no_thread_safety_analysis)
