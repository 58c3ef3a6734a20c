#pragma once
// Hand-overs between threads through Qt's event queue, told to ThreadSanitizer. Qt is not built
// with the sanitizer, so the lock that orders a posted event after the thread that made it is
// invisible to it, and every queued call would look like a race. A thread calls HandOver() just
// before it posts; the receiving thread calls TakeOver() before it reads the event, which the
// filter from InstallHandoverFilter does for every event the application delivers. Outside a
// ThreadSanitizer build all of this is nothing.

#include <QCoreApplication>
#include <QObject>

#if defined(__SANITIZE_THREAD__)
#define KESTREL_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KESTREL_TSAN 1
#endif
#endif

#ifdef KESTREL_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);

namespace handover {
inline char Token;
} // namespace handover

inline void HandOver() {
    __tsan_release(&handover::Token);
}

inline void TakeOver() {
    __tsan_acquire(&handover::Token);
}

inline void InstallHandoverFilter(QCoreApplication* app) {
    struct TFilter : QObject {
        using QObject::QObject;
        bool eventFilter(QObject*, QEvent*) override {
            TakeOver();
            return false;
        }
    };
    app->installEventFilter(new TFilter(app));
}
#else
inline void HandOver() {}
inline void TakeOver() {}
inline void InstallHandoverFilter(QCoreApplication*) {}
#endif
