#pragma once

// One HTTP request on a connection of its own, for the monitor's tests.
#include "testenv.h"

#include <QByteArray>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

struct Answer
{
    int status = 0;
    QByteArray head;
    QByteArray body;
};

inline Answer parseAnswer(const QByteArray& bytes)
{
    Answer a;
    const int end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return a;
    a.head = bytes.left(end + 2);
    a.body = bytes.mid(end + 4);
    a.status = a.head.mid(9, 3).toInt();
    return a;
}

// Sends `request` on a connection of its own and reads until the server
// closes it, the server's event loop running meanwhile.
inline Answer exchange(const QString& host, quint16 port, const QByteArray& request)
{
    QTcpSocket socket;
    QByteArray bytes;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::connected, [&] { socket.write(request); });
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { bytes += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000 * testenv::timingSlack(), &loop, &QEventLoop::quit);
    socket.connectToHost(host, port);
    loop.exec();
    bytes += socket.readAll();
    return parseAnswer(bytes);
}

inline QByteArray get(const QByteArray& target, const QByteArray& headers = QByteArray())
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers +
           "\r\n";
}
