#pragma once
// Hand-overs between threads through Qt's event queue, told to ThreadSanitizer. Qt is not built
// with the sanitizer, so the lock that orders a posted event after the thread that made it is
// invisible to it, and every queued call would look like a race. A thread calls HandOver() after
// it has made the event and just before it posts it; the receiving thread calls TakeOver() before
// it reads the event, which the filter from InstallHandoverFilter does for every event the
// application delivers. Outside a ThreadSanitizer build HandOver and TakeOver are nothing.
// TPostedCalls posts calls that way (QMetaObject::invokeMethod makes its event inside Qt, after
// any HandOver could be called).

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <functional>

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

// Runs calls posted from any thread on the thread of the object, in the order posted, after
// what is queued there already.
class TPostedCalls : public QObject {
public:
    explicit TPostedCalls(QObject* parent) : QObject(parent) {}

    // Any thread.
    void Post(std::function<void()> call) {
        auto* event = new TCall(std::move(call));
        HandOver();
        QCoreApplication::postEvent(this, event);
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() != CallType())
            return QObject::event(event);
        TakeOver();
        static_cast<TCall*>(event)->Call();
        return true;
    }

private:
    static QEvent::Type CallType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    struct TCall : QEvent {
        explicit TCall(std::function<void()> call) : QEvent(CallType()), Call(std::move(call)) {}
        std::function<void()> Call;
    };
};
