#pragma once

// A blocking raw TCP client for talking to the simulator byte by byte. The
// simulator runs on its own thread, so the blocking waits here cannot starve it.

#include "boxsimulator.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

class RawClient
{
public:
    bool open(const QString& host, quint16 port, int timeoutMs = 2000)
    {
        socket.connectToHost(host, port);
        return socket.waitForConnected(timeoutMs);
    }

    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.waitForBytesWritten(1000);
    }

    // Reads until at least `count` bytes came or the time is up.
    QByteArray readAtLeast(int count, int timeoutMs = 2000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (buffer.size() < count && !deadline.hasExpired()) {
            if (socket.bytesAvailable() == 0 &&
                !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                break;
            buffer += socket.readAll();
        }
        buffer += socket.readAll();
        const QByteArray out = buffer.left(count);
        buffer.remove(0, out.size());
        return out;
    }

    // Reads up to and including `terminator`; empty when it does not come in time.
    QByteArray readUntil(char terminator, int timeoutMs = 2000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            // An event loop run elsewhere (a wait helper) may have read the socket already.
            buffer += socket.readAll();
            const int end = buffer.indexOf(terminator);
            if (end >= 0) {
                const QByteArray out = buffer.left(end + 1);
                buffer.remove(0, end + 1);
                return out;
            }
            if (deadline.hasExpired() ||
                !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                return QByteArray();
            buffer += socket.readAll();
        }
    }

    // Everything that arrives within the time (for "nothing comes" checks).
    QByteArray readFor(int ms)
    {
        QDeadlineTimer deadline(ms);
        buffer += socket.readAll();
        while (!deadline.hasExpired() &&
               socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            buffer += socket.readAll();
        buffer += socket.readAll();
        const QByteArray out = buffer;
        buffer.clear();
        return out;
    }

    // True once the peer has closed; the bytes that came first stay readable.
    bool waitClosed(int timeoutMs = 2000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
            if (socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                buffer += socket.readAll();
        }
        buffer += socket.readAll();
        return socket.state() != QAbstractSocket::ConnectedState;
    }

    QByteArray pending() const { return buffer; }

    QTcpSocket socket;

private:
    QByteArray buffer;
};

// One HTTP/1.0 request; the whole response, or empty when none came.
inline QByteArray httpGet(const QString& host, quint16 port, const QByteArray& target)
{
    RawClient client;
    if (!client.open(host, port))
        return QByteArray();
    client.send("GET " + target + " HTTP/1.0\r\nHost: box\r\n\r\n");
    client.waitClosed(3000);
    return client.pending();
}

inline QByteArray modbus(const char* hex)
{
    return QByteArray::fromHex(hex);
}
