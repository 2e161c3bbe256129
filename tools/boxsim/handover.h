#pragma once

// Qt's event queue and thread joins are invisible to the thread sanitizer
// (Debian's Qt is not instrumented); these mark a hand-over between threads so
// it sees the ordering Qt provides.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define SIM_HANDED_OVER_FROM(sync) __tsan_acquire(static_cast<void*>(sync))
#define SIM_HANDING_OVER_TO(sync) __tsan_release(static_cast<void*>(sync))
#else
#define SIM_HANDED_OVER_FROM(sync) static_cast<void>(sync)
#define SIM_HANDING_OVER_TO(sync) static_cast<void>(sync)
#endif
