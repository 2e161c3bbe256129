#include "boxlink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QThread>
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

void sleepThenProcessEvents(int ms)
{
    QThread::msleep(ulong(qMax(ms, 0)));
    QCoreApplication::processEvents();
}

void tick()
{
    processEventsFor(kTickMs);
}

void connectToBox(QTcpSocket* socket, const QString& host, quint16 port)
{
    if (!socket->isOpen())
        socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

bool sendFrame(QTcpSocket* socket, const QByteArray& frame, int connectTimeoutMs,
               int writeTimeoutMs, bool waitWritten)
{
    if (!socket->waitForConnected(connectTimeoutMs))
        return false;
    if (socket->write(frame) != frame.size())
        return false;
    if (!waitWritten)
        return true;
    return socket->waitForBytesWritten(writeTimeoutMs);
}

} // namespace boxlink
