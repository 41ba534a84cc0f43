// Clang's lock annotations: which mutex guards a member, which a function needs
// held or takes. The `threads` preset checks them (-Wthread-safety, as errors);
// other compilers see nothing.
#pragma once

#if defined(__clang__)
#define PELNO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PELNO_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(name) PELNO_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY PELNO_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(mutex) PELNO_THREAD_ANNOTATION(guarded_by(mutex))
#define PT_GUARDED_BY(mutex) PELNO_THREAD_ANNOTATION(pt_guarded_by(mutex))
#define REQUIRES(...) PELNO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) PELNO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) PELNO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PELNO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) PELNO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(mutex) PELNO_THREAD_ANNOTATION(lock_returned(mutex))
#define NO_THREAD_SAFETY_ANALYSIS PELNO_THREAD_ANNOTATION(no_thread_safety_analysis)
