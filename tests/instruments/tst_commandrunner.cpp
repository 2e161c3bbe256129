#include "boxlink.h"
#include "commandrunner.h"
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
};

QTEST_GUILESS_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
