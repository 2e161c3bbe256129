#include "boxlink.h"
#include "testenv.h"

#include <QTcpSocket>
#include <QtTest>

class TestBoxLink : public QObject
{
    Q_OBJECT

private slots:
    void failedConnectionIsNotRetried()
    {
        QTcpSocket socket;
        boxlink::connectToBox(&socket, testenv::uniqueLoopbackHost(), 4000); // nobody listens
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!boxlink::sendFrame(&socket, "A\r", 3000, 3000)); // refused, not timed out
        boxlink::connectToBox(&socket, testenv::uniqueLoopbackHost(), 4000);
        QVERIFY(socket.state() == QAbstractSocket::UnconnectedState);
        QVERIFY(!boxlink::sendFrame(&socket, "A\r", 3000, 3000));
        QVERIFY(clock.elapsed() < 2000);
    }

    void waits()
    {
        QElapsedTimer clock;
        clock.start();
        qint64 firedAt = -1;
        QTimer::singleShot(20, this, [&] { firedAt = clock.elapsed(); });
        boxlink::tick(); // events run while it waits
        QVERIFY(clock.elapsed() >= 100 && firedAt >= 0 && firedAt < 100);
    }
};

QTEST_GUILESS_MAIN(TestBoxLink)
#include "tst_boxlink.moc"
