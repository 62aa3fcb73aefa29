#pragma once
// QM_REALTIME marks functions that run on a JACK process thread: they never allocate, never lock except the
// Locked boxes, never log, never wait. Clang's nonblocking attribute checks that where available;
// elsewhere the marker is for readers and grep.

#if defined(__clang__) && __clang_major__ >= 20
#define QM_REALTIME [[clang::nonblocking]]
#else
#define QM_REALTIME
#endif
