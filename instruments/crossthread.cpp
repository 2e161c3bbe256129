#include "crossthread.h"

#include <QCoreApplication>

namespace crossthread {

namespace {

class CallEvent : public QEvent
{
public:
    explicit CallEvent(std::function<void()> call) : QEvent(callType()), m_call(std::move(call))
    {
        HANDING_OVER_TO(this);
    }
    static QEvent::Type callType()
    {
        static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
        return type;
    }
    void run() const { m_call(); }

private:
    std::function<void()> m_call;
};

} // namespace

void postCall(QObject* receiver, std::function<void()> call)
{
    QCoreApplication::postEvent(receiver, new CallEvent(std::move(call)));
}

bool runPostedCall(QEvent* event)
{
    HANDED_OVER_FROM(event); // a no-op for events nobody handed over
    if (event->type() != CallEvent::callType())
        return false;
    static_cast<CallEvent*>(event)->run();
    return true;
}

void runQueuedCalls(QObject* receiver)
{
    QCoreApplication::sendPostedEvents(receiver, CallEvent::callType());
}

} // namespace crossthread
