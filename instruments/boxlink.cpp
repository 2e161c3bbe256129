#include "boxlink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTcpSocket>
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

void tick()
{
    processEventsFor(kTickMs);
}

void connectToBox(QTcpSocket* socket, const QString& host, quint16 port)
{
    if (!socket->isOpen())
        socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

namespace {

// A cancellation is noticed within this.
constexpr int kCancelCheckMs = 20;

// Runs the event loop until `finished` or `failed` holds, the deadline passes
// or `cancelled` says so. Every socket signal that may change the answer wakes
// the loop; between them the thread sleeps in the event dispatcher.
bool waitOn(QTcpSocket* socket, int ms, const std::function<bool()>& finished,
            const std::function<bool()>& failed, const Cancelled& cancelled)
{
    QPointer<QTcpSocket> guard(socket);
    const QDeadlineTimer deadline(qMax(ms, 0), Qt::PreciseTimer);
    for (;;) {
        if (!guard)
            return false;
        if (finished())
            return true;
        if (failed())
            return false;
        if (deadline.hasExpired() || (cancelled && cancelled()))
            return false;
        QEventLoop loop;
        QTimer slice;
        slice.setSingleShot(true);
        slice.setTimerType(Qt::PreciseTimer);
        QObject::connect(&slice, &QTimer::timeout, &loop, &QEventLoop::quit);
        for (auto signal : {&QAbstractSocket::connected, &QAbstractSocket::disconnected})
            QObject::connect(socket, signal, &loop, &QEventLoop::quit);
        QObject::connect(socket, &QAbstractSocket::stateChanged, &loop, &QEventLoop::quit);
        QObject::connect(socket, &QIODevice::bytesWritten, &loop, &QEventLoop::quit);
        QObject::connect(socket, &QObject::destroyed, &loop, &QEventLoop::quit);
        slice.start(int(qBound(qint64(0), deadline.remainingTime(), qint64(kCancelCheckMs))));
        loop.exec(QEventLoop::AllEvents);
    }
}

} // namespace

bool waitConnected(QTcpSocket* socket, int ms, const Cancelled& cancelled)
{
    return waitOn(
        socket, ms, [socket] { return socket->state() == QAbstractSocket::ConnectedState; },
        [socket] { return socket->state() == QAbstractSocket::UnconnectedState; }, cancelled);
}

bool waitWritten(QTcpSocket* socket, int ms, const Cancelled& cancelled)
{
    if (socket->bytesToWrite() == 0)
        return false; // as a blocking wait: nothing to wait for
    return waitOn(
        socket, ms, [socket] { return socket->bytesToWrite() == 0; },
        [socket] { return socket->state() != QAbstractSocket::ConnectedState; }, cancelled);
}

bool sendFrame(QTcpSocket* socket, const QByteArray& frame, int connectTimeoutMs,
               int writeTimeoutMs, bool waitWritten, const Cancelled& cancelled)
{
    if (!waitConnected(socket, connectTimeoutMs, cancelled))
        return false;
    if (socket->write(frame) != frame.size())
        return false;
    if (!waitWritten)
        return true;
    return boxlink::waitWritten(socket, writeTimeoutMs, cancelled);
}

} // namespace boxlink
