#pragma once

#include <QEvent>

#include <functional>

// Qt's event queues and thread joins are built on primitives the thread
// sanitizer cannot see into (Debian's Qt is not instrumented). These mark
// where work is handed from one thread to another, so it judges our own memory
// accesses with the ordering they really have.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define HANDED_OVER_FROM(sync) __tsan_acquire(static_cast<void*>(sync))
#define HANDING_OVER_TO(sync) __tsan_release(static_cast<void*>(sync))
#else
#define HANDED_OVER_FROM(sync) static_cast<void>(sync)
#define HANDING_OVER_TO(sync) static_cast<void>(sync)
#endif

// The one way the pollers and the box simulator hand a call to another
// thread: as an event of our own, posted to a receiver living on that thread.
// The event is complete before it is released to the receiver, which takes it
// over before it looks at it (a queued functor would be finished inside the
// toolkit, where the sanitizer cannot see).
//
// A receiver routes its event() through runPostedCall():
//     bool event(QEvent* e) override { return crossthread::runPostedCall(e) || Base::event(e); }
namespace crossthread {

// Runs `call` on the receiver's thread, from its event loop.
void postCall(QObject* receiver, std::function<void()> call);

// For a receiver's event(): runs a posted call and returns true, or returns
// false for the caller to handle the event.
bool runPostedCall(QEvent* event);

// Runs the calls still queued for `receiver` now, on the calling thread (which
// must be the receiver's): a receiver going away serves them first, so each
// is freed after its hand-over.
void runQueuedCalls(QObject* receiver);

} // namespace crossthread
