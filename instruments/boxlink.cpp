#include "boxlink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace boxlink {

void processEventsFor(int ms)
{
    QDeadlineTimer deadline(qMax(ms, 0), Qt::PreciseTimer);
    // Events already queued are handled even for a zero wait.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(int(qMax<qint64>(deadline.remainingTime(), 0)));
        loop.exec(QEventLoop::AllEvents);
    }
}

} // namespace boxlink
