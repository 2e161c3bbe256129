// Start and stop, the record, the bounded waits and every fault mode.

#include "boxsimulator.h"
#include "faultoption.h"
#include "rawclient.h"
#include "testenv.h"
#include "wire.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

using namespace boxsim;

namespace {

Options options()
{
    Options o;
    o.host = testenv::uniqueLoopbackHost();
    o.httpPort = 0;
    o.timeScale = 100;
    return o;
}

const QByteArray kPoll = QByteArray::fromHex("010403E8000471B9");

bool portFree(const QString& host, quint16 port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress(host), port);
}

} // namespace

class TestBoxsimFaults : public QObject
{
    Q_OBJECT

private slots:
    void startStopAndPortTaken();
    void connectionRecord();
    void refuseAndSingleConnection();
    void silentDelayAndDrop();
    void splitAndGarbage();
    void temperatureFaults();
    void lostSetPoints();
    void randomMixIsSeeded();
    void waitsRunTheCallersEventLoop();
    void faultOptions();
};

void TestBoxsimFaults::startStopAndPortTaken()
{
    const Options o = options();
    BoxSimulator sim(o);
    for (int round = 0; round < 4; ++round) {
        QString error;
        QVERIFY2(sim.start(&error), qPrintable(error));
        QVERIFY(sim.isRunning());
        QVERIFY(sim.port(Http) != 0);
        RawClient c;
        QVERIFY(c.open(o.host, sim.port(N2)));
        c.send("A\r");
        QVERIFY(!c.readUntil('\r').isEmpty());
        sim.stop(); // with the client still connected
        QVERIFY(!sim.isRunning());
        QVERIFY(c.waitClosed());
        for (int p = 0; p < 4; ++p)
            QVERIFY(portFree(o.host, quint16(o.basePort + p)));
    }

    // A port taken by someone else: a clear message, and nothing left bound.
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress(o.host), 4002));
    QString error;
    QVERIFY(!sim.start(&error));
    QVERIFY2(error.contains(QLatin1String("4002")), qPrintable(error));
    QVERIFY(!sim.isRunning());
    QVERIFY(portFree(o.host, 4000));
    QVERIFY(portFree(o.host, 4001));
    blocker.close();
    QVERIFY(sim.start());

    // Another simulator on the same address cannot start beside it.
    BoxSimulator second(o);
    QVERIFY(!second.start(&error));
    QVERIFY(error.contains(QLatin1String("4000")));
}

void TestBoxsimFaults::connectionRecord()
{
    const Options o = options();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    quint64 firstId = 0;
    for (int round = 0; round < 2; ++round) {
        sim.clearRecord();
        {
            RawClient c;
            QVERIFY(c.open(o.host, sim.port(Temperature)));
            QVERIFY(sim.waitFor([&] { return sim.openConnections(Temperature) == 1; }, 2000));
            c.send(kPoll);
            QCOMPARE(c.readAtLeast(13).size(), 13);
        }
        QVERIFY(
            sim.waitForEvent([](const Event& e) { return e.kind == Event::Disconnected; }, 2000));
        QCOMPARE(sim.openConnections(Temperature), 0);
        const QList<Event> events = sim.events(Temperature);
        QCOMPARE(events.size(), 3);
        QCOMPARE(events.at(0).kind, Event::Connected);
        QCOMPARE(events.at(1).kind, Event::Data);
        QCOMPARE(events.at(1).bytes, kPoll);
        QCOMPARE(events.at(2).kind, Event::Disconnected);
        QVERIFY(events.at(0).msecs <= events.at(1).msecs);
        QVERIFY(events.at(1).msecs <= events.at(2).msecs);
        QCOMPARE(events.at(2).connection, events.at(0).connection);
        QCOMPARE(sim.frames(Temperature).value(0).connection, events.at(0).connection);
        if (round == 0)
            firstId = events.at(0).connection;
        else
            QVERIFY(events.at(0).connection != firstId);
    }
    QVERIFY(sim.events(N2).isEmpty());
}

void TestBoxsimFaults::refuseAndSingleConnection()
{
    const Options o = options();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    Faults refuse;
    refuse.refuse = true;
    sim.setFaults(N2, refuse);
    RawClient refused;
    QVERIFY(refused.open(o.host, sim.port(N2)));
    QVERIFY(refused.waitClosed());
    QCOMPARE(sim.openConnections(N2), 0);
    QVERIFY(sim.waitFor([&] { return sim.events(N2).size() == 2; }, 2000));
    QCOMPARE(sim.events(N2).at(1).kind, Event::Disconnected);

    Faults single;
    single.singleConnection = true;
    sim.setFaults(O2, single);
    RawClient first;
    QVERIFY(first.open(o.host, sim.port(O2)));
    QVERIFY(sim.waitFor([&] { return sim.openConnections(O2) == 1; }, 2000));
    RawClient second;
    QVERIFY(second.open(o.host, sim.port(O2)));
    QVERIFY(second.waitClosed());
    first.send("A\r");
    QVERIFY(!first.readUntil('\r').isEmpty());
    first.socket.close();
    QVERIFY(sim.waitFor([&] { return sim.openConnections(O2) == 0; }, 2000));
    RawClient third;
    QVERIFY(third.open(o.host, sim.port(O2)));
    third.send("A\r");
    QVERIFY(!third.readUntil('\r').isEmpty());
}

void TestBoxsimFaults::silentDelayAndDrop()
{
    const Options o = options();
    BoxSimulator sim(o);
    QVERIFY(sim.start());

    Faults silent;
    silent.silent = true;
    sim.setFaults(Pulse, silent);
    RawClient pulse;
    QVERIFY(pulse.open(o.host, sim.port(Pulse)));
    pulse.send("#010");
    QVERIFY(sim.waitForFrames(Pulse, 1, 2000));
    QCOMPARE(pulse.readFor(150), QByteArray());
    QCOMPARE(sim.pulseTruth().size(), 1);

    // Delays are real time, whatever the time scale.
    Faults delay;
    delay.delayMs = 150;
    sim.setFaults(N2, delay);
    RawClient n2;
    QVERIFY(n2.open(o.host, sim.port(N2)));
    QElapsedTimer timer;
    timer.start();
    n2.send("A\r");
    QVERIFY(!n2.readUntil('\r').isEmpty());
    QVERIFY(timer.elapsed() >= 140);

    Faults drop;
    drop.dropAfterAnswers = 2;
    sim.setFaults(O2, drop);
    RawClient o2;
    QVERIFY(o2.open(o.host, sim.port(O2)));
    o2.send("A\r");
    QVERIFY(!o2.readUntil('\r').isEmpty());
    o2.send("A\r");
    QVERIFY(o2.waitClosed());
    QVERIFY(o2.pending().endsWith(" O2\r")); // the second answer came before the close

    drop.dropAfterAnswers = 0;
    sim.setFaults(O2, drop);
    RawClient o2b;
    QVERIFY(o2b.open(o.host, sim.port(O2)));
    o2b.send("A\r");
    QVERIFY(o2b.waitClosed());
    QCOMPARE(o2b.pending(), QByteArray());
}

void TestBoxsimFaults::splitAndGarbage()
{
    const Options o = options();
    BoxSimulator sim(o);
    QVERIFY(sim.start());

    Faults split;
    split.split = true;
    split.splitPauseMs = 80;
    sim.setFaults(Temperature, split);
    RawClient t;
    QVERIFY(t.open(o.host, sim.port(Temperature)));
    t.send(kPoll);
    QVERIFY(t.socket.waitForReadyRead(2000));
    QElapsedTimer timer;
    timer.start();
    const QByteArray head = t.socket.readAll();
    QCOMPARE(head.size(), 6);
    const QByteArray answer = head + t.readAtLeast(13 - head.size());
    QVERIFY(timer.elapsed() >= 60);
    QVERIFY(wire::crcMatches(answer));

    Faults before;
    before.garbageBefore = QByteArray("\xFF\0", 2);
    sim.setFaults(N2, before);
    RawClient n2;
    QVERIFY(n2.open(o.host, sim.port(N2)));
    n2.send("A\r");
    const QByteArray line = n2.readUntil('\r');
    QVERIFY2(line.startsWith(QByteArray("\xFF\0A +014.70 ", 12)), line.constData());

    Faults instead;
    instead.garbageInstead = true;
    sim.setFaults(O2, instead);
    RawClient o2;
    QVERIFY(o2.open(o.host, sim.port(O2)));
    o2.send("A\r");
    const QByteArray junk = o2.readAtLeast(4);
    QCOMPARE(junk.size(), 4);
    QVERIFY(!junk.contains('A'));
    instead.garbageBefore = "zz\r";
    sim.setFaults(O2, instead);
    o2.send("A\r");
    QCOMPARE(o2.readUntil('\r'), QByteArray("zz\r"));
    QCOMPARE(o2.readFor(50), QByteArray());
}

void TestBoxsimFaults::temperatureFaults()
{
    const Options o = options();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    RawClient t;
    QVERIFY(t.open(o.host, sim.port(Temperature)));

    Faults bad;
    bad.badCrc = true;
    sim.setFaults(Temperature, bad);
    t.send(kPoll);
    QByteArray answer = t.readAtLeast(13);
    QCOMPARE(answer.left(5), QByteArray::fromHex("01040800DC"));
    QVERIFY(!wire::crcMatches(answer));

    // Exception answers carry a good CRC; a refused write changes nothing.
    Faults exception;
    exception.exceptionAnswers = true;
    sim.setFaults(Temperature, exception);
    t.send(kPoll);
    answer = t.readAtLeast(5);
    QCOMPARE(answer.left(3), QByteArray::fromHex("018402"));
    QVERIFY(wire::crcMatches(answer));
    t.send(QByteArray::fromHex("010603EA012C0000"));
    QCOMPARE(t.readFor(100), QByteArray()); // bad CRC: ignored
    t.send(wire::withCrc(QByteArray::fromHex("010603EA012C")));
    answer = t.readAtLeast(5);
    QCOMPARE(answer.left(3), QByteArray::fromHex("018604"));
    QVERIFY(wire::crcMatches(answer));
    QVERIFY(!sim.registers().contains(1002));
    QCOMPARE(sim.temperatureSetPointC(), 22.0);
}

void TestBoxsimFaults::lostSetPoints()
{
    const Options o = options();
    BoxSimulator sim(o);
    QVERIFY(sim.start());
    RawClient t;
    QVERIFY(t.open(o.host, sim.port(Temperature)));
    RawClient n2;
    QVERIFY(n2.open(o.host, sim.port(N2)));

    // One set point each is lost without an answer; other writes and polls are
    // not, and the next set point arrives.
    Faults lose;
    lose.loseSetPoints = 1;
    sim.setFaults(Temperature, lose);
    sim.setFaults(N2, lose);
    const QByteArray setPoint = wire::withCrc(QByteArray::fromHex("010603EA012C"));
    const QByteArray runFrame = wire::withCrc(QByteArray::fromHex("010603EC0001"));
    t.send(setPoint);
    QCOMPARE(t.readFor(150), QByteArray());
    QCOMPARE(sim.temperatureSetPointC(), 22.0);
    t.send(runFrame);
    QCOMPARE(t.readAtLeast(8), runFrame);
    t.send(setPoint);
    QCOMPARE(t.readAtLeast(8), setPoint);
    QCOMPARE(sim.temperatureSetPointC(), 30.0);
    QCOMPARE(sim.faults(Temperature).loseSetPoints, 0);
    QCOMPARE(sim.frames(Temperature).size(), 3);

    n2.send("A16000\r");
    QCOMPARE(n2.readFor(150), QByteArray());
    QCOMPARE(sim.flowSetPoint(N2), 0.0);
    n2.send("A16000\r");
    QVERIFY(n2.readUntil('\r').startsWith("A "));
    QCOMPARE(sim.flowSetPoint(N2), 5.0);

    std::array<Faults, kDeviceCount> parsed{};
    QVERIFY(applyFaultOption(QStringLiteral("o2:lose-set-points=3"), parsed, nullptr));
    QCOMPARE(parsed[O2].loseSetPoints, 3);
}

void TestBoxsimFaults::randomMixIsSeeded()
{
    auto run = [](quint32 seed) {
        Options o = options();
        o.randomFaults = true;
        o.randomFaultSeed = seed;
        BoxSimulator sim(o);
        QList<QByteArray> mishaps;
        if (!sim.start())
            return mishaps;
        for (int i = 0; i < 60; ++i) {
            RawClient c;
            if (!c.open(o.host, sim.port(N2)))
                return QList<QByteArray>();
            c.send("A\r");
            if (!sim.waitFor([&] { return sim.injectedFaults(N2).size() == i + 1; }, 2000))
                return QList<QByteArray>();
            // What reaches the client matches what the mix says it did.
            const QByteArray what = sim.injectedFaults(N2).at(i);
            bool seen;
            if (what == "drop") {
                seen = c.waitClosed() && c.pending().isEmpty();
            } else {
                const QByteArray line = c.readUntil('\r');
                if (what == "corrupt")
                    seen = line.startsWith("? +014.70");
                else if (what == "garbage")
                    seen = line.startsWith("\xFF\xFE?A +014.70");
                else
                    seen = line.startsWith("A +014.70");
            }
            if (!seen)
                return QList<QByteArray>({"mismatch at " + QByteArray::number(i) + ": " + what});
        }
        return sim.injectedFaults(N2);
    };
    const QList<QByteArray> a = run(7);
    QVERIFY2(a.size() == 60, a.join('|').constData());
    QCOMPARE(run(7), a);
    const QList<QByteArray> other = run(8);
    QCOMPARE(other.size(), 60);
    QVERIFY(other != a);
    const int clean = int(a.count("clean") + other.count("clean"));
    QVERIFY2(clean >= 80 && clean < 120, qPrintable(QString::number(clean)));
}

void TestBoxsimFaults::waitsRunTheCallersEventLoop()
{
    const Options o = options();
    BoxSimulator sim(o);
    QVERIFY(sim.start());

    bool fired = false;
    QTimer::singleShot(30, [&fired] { fired = true; });
    QVERIFY(sim.waitFor([&] { return fired; }, 2000));

    // A socket on this thread, driven only by its signals, gets its exchange
    // done while the test waits for the frame.
    QTcpSocket socket;
    QByteArray answer;
    connect(&socket, &QTcpSocket::connected, [&] { socket.write(kPoll); });
    connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
    socket.connectToHost(o.host, sim.port(Temperature));
    QVERIFY(sim.waitForFrames(Temperature, 1, 2000));
    QVERIFY(sim.waitFor([&] { return answer.size() == 13; }, 2000));

    QElapsedTimer timer;
    timer.start();
    QVERIFY(!sim.waitFor([] { return false; }, 100));
    QVERIFY(timer.elapsed() >= 100 && timer.elapsed() < 1000);
    QVERIFY(!sim.waitForFrames(N2, 1, 50));
}

void TestBoxsimFaults::faultOptions()
{
    std::array<Faults, kDeviceCount> f{};
    QString error;
    QVERIFY(applyFaultOption(QStringLiteral("temperature:split"), f, &error));
    QVERIFY(applyFaultOption(QStringLiteral("o2:garbage-instead"), f, &error));
    QVERIFY(applyFaultOption(QStringLiteral("pulse:silent"), f, &error));
    QVERIFY(applyFaultOption(QStringLiteral("n2:delay=300,drop-after=5,split=10"), f, &error));
    QVERIFY(applyFaultOption(QStringLiteral("http:garbage-before=\\xFFok\\r"), f, &error));
    QVERIFY(applyFaultOption(QStringLiteral("4003:fails"), f, &error));
    QVERIFY(f[Temperature].split && f[Temperature].splitPauseMs == 30);
    QVERIFY(f[O2].garbageInstead && f[O2].garbageBefore.isEmpty());
    QVERIFY(f[Pulse].silent && f[Pulse].pulseFails);
    QCOMPARE(f[N2].delayMs, 300);
    QCOMPARE(f[N2].dropAfterAnswers, 5);
    QCOMPARE(f[N2].splitPauseMs, 10);
    QCOMPARE(f[Http].garbageBefore, QByteArray("\xFFok\r"));
    QVERIFY(applyFaultOption(QStringLiteral("all:single-connection"), f, &error));
    for (const Faults& one : f)
        QVERIFY(one.singleConnection);

    const std::array<Faults, kDeviceCount> before = f;
    for (const char* bad : {"foo:split", "n2", "n2:delay", "n2:delay=x", "n2:split,bogus",
                            "o2:garbage-before=\\q", "temperature:refuse=1"}) {
        error.clear();
        QVERIFY2(!applyFaultOption(QString::fromLatin1(bad), f, &error), bad);
        QVERIFY(!error.isEmpty());
    }
    QCOMPARE(f[N2].delayMs, before[N2].delayMs);
    QCOMPARE(f[N2].split, before[N2].split);
}

QTEST_GUILESS_MAIN(TestBoxsimFaults)
#include "tst_boxsim_faults.moc"
