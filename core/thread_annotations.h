#pragma once
// Clang's thread-safety attributes, so that the compiler checks which lock guards which member: a member
// marked QM_GUARDED_BY(mutex_) may only be touched with mutex_ held, a function marked QM_REQUIRES(mutex_)
// only called with it held. tests/thread_safety compiles the annotated files with clang++
// -Wthread-safety -Werror=thread-safety; on GCC, which has no such analysis, every macro expands to
// nothing. Locks that carry these marks are core/mutex.h's Mutex and MutexLock.

#if defined(__clang__)
#define QM_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QM_THREAD_ANNOTATION(x)
#endif

#define QM_CAPABILITY(name) QM_THREAD_ANNOTATION(capability(name))
#define QM_SCOPED_CAPABILITY QM_THREAD_ANNOTATION(scoped_lockable)
#define QM_GUARDED_BY(lock) QM_THREAD_ANNOTATION(guarded_by(lock))
#define QM_PT_GUARDED_BY(lock) QM_THREAD_ANNOTATION(pt_guarded_by(lock))
#define QM_REQUIRES(...) QM_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define QM_ACQUIRE(...) QM_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define QM_RELEASE(...) QM_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define QM_EXCLUDES(...) QM_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define QM_RETURN_CAPABILITY(lock) QM_THREAD_ANNOTATION(lock_returned(lock))
