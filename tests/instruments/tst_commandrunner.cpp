#include "boxcommands.h"
#include "boxlink.h"
#include "commandrunner.h"
#include "modbusframes.h"
#include "testenv.h"
#include "unacceptingport.h"
#include "workerthread.h"

#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

class TestCommandRunner : public QObject
{
    Q_OBJECT

private slots:
    // Commands asked for while one runs (from its waits) start when it ends, in
    // the order asked, and every completion is reported with its result.
    void commandsRunOneAtATime()
    {
        CommandRunner runner;
        QStringList log;
        QStringList finished;
        connect(&runner, &CommandRunner::commandFinished, this,
                [&](const QString& name, bool ran, bool ok) {
                    finished << QStringLiteral("%1:%2:%3").arg(name).arg(ran).arg(ok);
                });
        auto step = [&](const QString& name, bool ok) {
            return [&log, name, ok] {
                log << name + QStringLiteral("<");
                boxlink::processEventsFor(30);
                log << name + QStringLiteral(">");
                return ok;
            };
        };
        QTimer::singleShot(5, this, [&] { runner.submit("b", step("b", false)); });
        QTimer::singleShot(10, this, [&] { runner.submit("c", step("c", true)); });
        bool doneA = false;
        runner.submit("a", step("a", true),
                      [&](const CommandRunner::Outcome& o) { doneA = o.ran && o.ok; });
        // The first submit returns when the queue has run empty.
        QVERIFY(doneA);
        QCOMPARE(log, QStringList({"a<", "a>", "b<", "b>", "c<", "c>"}));
        QCOMPARE(finished, QStringList({"a:1:1", "b:1:0", "c:1:1"}));
        QVERIFY(!runner.busy());
    }

    // A Stop cancels the queued commands, ends the running one's waits and
    // runs before anything asked for after it.
    void stopGoesFirst()
    {
        CommandRunner runner;
        QStringList log;
        bool sawCancel = false;
        auto waitUnlessCancelled = [&] {
            log << "pulse<";
            QDeadlineTimer limit(5000);
            while (!runner.cancelled() && !limit.hasExpired())
                boxlink::processEventsFor(10);
            sawCancel = runner.cancelled();
            log << "pulse>";
            return false;
        };
        QList<bool> queuedRan;
        auto queued = [&](const QString& name) {
            runner.submit(
                name,
                [&log, name] {
                    log << name;
                    return true;
                },
                [&](const CommandRunner::Outcome& o) { queuedRan << o.ran; });
        };
        QTimer::singleShot(5, this, [&] {
            queued("set1");
            queued("set2");
            QCOMPARE(runner.queued(), 2);
        });
        QTimer::singleShot(20, this, [&] {
            runner.submitFirst("stop", [&] {
                log << "stop";
                return !runner.cancelled(); // its own run is not cancelled
            });
            queued("later");
        });
        QElapsedTimer clock;
        clock.start();
        runner.submit("pulse", waitUnlessCancelled);
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(sawCancel);
        QCOMPARE(log, QStringList({"pulse<", "pulse>", "stop", "later"}));
        QCOMPARE(queuedRan, QList<bool>({false, false, true}));
    }

    // A poller resumes only when the last command that paused it is done.
    void pausesNest()
    {
        WorkerThread poller(testenv::uniqueLoopbackHost()); // never started
        CommandRunner runner;
        runner.pausePoller(&poller);
        runner.pausePoller(&poller);
        runner.resumePoller(&poller);
        QVERIFY(poller.isPaused());
        QCOMPARE(runner.pauseCount(&poller), 1);
        runner.resumePoller(&poller);
        QVERIFY(!poller.isPaused());
        QCOMPARE(runner.pauseCount(&poller), 0);
        // A poller paused by itself (a lost connection) is resumed by the next
        // command's end, as before.
        runner.pausePoller(&poller);
        runner.resumePoller(&poller);
        QVERIFY(!poller.isPaused());
        runner.resumePoller(nullptr); // no poller yet: nothing to do

        // A poller that goes away while paused (a close) takes its count
        // with it; one made later is not held by that count.
        auto* gone = new WorkerThread(testenv::uniqueLoopbackHost());
        runner.pausePoller(gone);
        runner.pausePoller(gone);
        delete gone;
        QCOMPARE(runner.pauseCount(gone), 0);
    }

    // The connection and write waits return at once on a refusal, end at the
    // deadline or on a cancel, and keep handling events meanwhile.
    void socketWaits()
    {
        const QString host = testenv::uniqueLoopbackHost();
        QTcpSocket refused;
        boxlink::connectToBox(&refused, host, 4000); // nobody listens
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!boxlink::waitConnected(&refused, 3000));
        QVERIFY(clock.elapsed() < 2000);

        QTcpServer server;
        QVERIFY(server.listen(QHostAddress(host), 0));
        QTcpSocket socket;
        boxlink::connectToBox(&socket, host, server.serverPort());
        QVERIFY(boxlink::sendFrame(&socket, "A\r", 3000, 3000));
        QVERIFY(socket.state() == QAbstractSocket::ConnectedState);

        // Nothing queued: nothing to wait for.
        QVERIFY(!boxlink::waitWritten(&socket, 200));
        bool cancel = false;

        // A port that never accepts: the wait runs to its deadline with events
        // handled throughout, or ends on a cancel.
        UnacceptingPort silent(host, 4003);
        QVERIFY(silent.ready());
        qint64 longestGapMs = 0;
        qint64 lastTick = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] {
            longestGapMs = qMax(longestGapMs, clock.elapsed() - lastTick);
            lastTick = clock.elapsed();
        });
        QTcpSocket pending;
        boxlink::connectToBox(&pending, host, 4003);
        clock.restart();
        ticker.start(10);
        QVERIFY(!boxlink::waitConnected(&pending, 400));
        QVERIFY(clock.elapsed() >= 400 && clock.elapsed() < 400 + 1000 * testenv::timingSlack());
        QVERIFY2(longestGapMs < 100, qPrintable(QString::number(longestGapMs)));

        clock.restart();
        QTimer::singleShot(50, this, [&] { cancel = true; });
        QVERIFY(!boxlink::waitConnected(&pending, 30000, [&] { return cancel; }));
        QVERIFY(clock.elapsed() < 1000 * testenv::timingSlack());
    }

    // The run frame follows the set point exactly when the echo has not been
    // handled 350 ms after the set point went out.
    void setPointRunFrame_data()
    {
        QTest::addColumn<int>("echoAfterMs"); // -1: never
        QTest::addColumn<bool>("runFrame");
        QTest::newRow("echo at once") << 0 << false;
        QTest::newRow("echo late") << 600 << true;
        QTest::newRow("no echo") << -1 << true;
    }
    void setPointRunFrame()
    {
        QFETCH(int, echoAfterMs);
        QFETCH(bool, runFrame);
        const QString host = testenv::uniqueLoopbackHost();
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress(host), boxlink::kTemperaturePort));
        QList<QByteArray> received;
        QPointer<QTcpSocket> peer;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            peer = server.nextPendingConnection();
            connect(peer, &QIODevice::readyRead, this, [&] {
                const QByteArray bytes = peer->readAll();
                for (int i = 0; i + 8 <= bytes.size(); i += 8)
                    received << bytes.mid(i, 8);
                if (echoAfterMs >= 0 && received.size() == 1) {
                    const QByteArray echo = received.first();
                    QTimer::singleShot(echoAfterMs, this, [&peer, echo] {
                        if (peer)
                            peer->write(echo);
                    });
                }
            });
        });
        CommandRunner runner;
        float echoed = 0;
        runner.submit("set point", [&] {
            boxcommands::setTemperature(runner, host, modbus::encodeTenths(25.0),
                                        [&](float t) { echoed = t; });
            return true;
        });
        QCOMPARE(received.size(), runFrame ? 2 : 1);
        QCOMPARE(received.first(), modbus::writeRegisterFrame(modbus::kSetPointRegister, 250));
        if (runFrame)
            QCOMPARE(received.last(), modbus::writeRegisterFrame(modbus::kRunRegister, 1));
        // A late echo still tells the temperature while the command waits.
        QCOMPARE(echoed, echoAfterMs >= 0 ? 25.0f : 0.0f);
    }
};

QTEST_GUILESS_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
