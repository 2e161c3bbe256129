#include "modbusframes.h"
#include "pollertestkit.h"
#include "workerthread.h"

using namespace pollertest;
using boxsim::Device;

namespace {

void record(WorkerThread& poller, Recorder& rec)
{
    QObject::connect(&poller, &WorkerThread::valueChangedT, [&rec](float t) { rec.add("T", t); });
    QObject::connect(&poller, &WorkerThread::checkSignal, [&rec] { rec.add("check"); });
    QObject::connect(&poller, &WorkerThread::connectionLost, [&rec] { rec.add("lost"); });
    QObject::connect(&poller, &WorkerThread::debugSignal, [&rec](QString s) { rec.add(s); });
}

bool readings(boxsim::BoxSimulator& sim, const Recorder& rec, int count)
{
    return sim.waitFor([&] { return rec.count("T") >= count; }, 1000 * count + 2000);
}

} // namespace

class TestTemperaturePoller : public QObject
{
    Q_OBJECT

private slots:
    void interface()
    {
        QCOMPARE(ownMethods(WorkerThread::staticMetaObject),
                 QStringList({"valueChangedT(float)", "checkSignal()", "connectionLost()",
                              "debugSignal(QString)", "readTemperatureData()",
                              "errorSocket(QAbstractSocket::SocketError)", "run()"}));
    }

    void readsAboutEvery700ms()
    {
        const QString host = testenv::uniqueLoopbackHost();
        auto sim = startSimulator(host, 23.5);
        QVERIFY(sim);
        WorkerThread poller(host);
        Recorder rec;
        record(poller, rec);
        poller.start();
        QVERIFY(readings(*sim, rec, 5));

        for (int i = 0; i < 10; ++i) // each reading followed at once by its check
            QCOMPARE(rec.entries.at(i).signal, QString(i % 2 ? "check" : "T"));
        for (const Recorder::Entry& e : rec.of("T"))
            QCOMPARE(e.a, 23.5f);
        QVERIFY2(qAbs(rec.meanGapMs("T") - 700) < 150,
                 qPrintable(QString::number(rec.meanGapMs("T"))));
        for (const boxsim::Frame& f : sim->frames(Device::Temperature))
            QCOMPARE(f.bytes, modbus::pollRequest());
    }

    void pauseResumeAndStop()
    {
        const QString host = testenv::uniqueLoopbackHost();
        auto sim = startSimulator(host, -10.0);
        QVERIFY(sim);
        WorkerThread poller(host);
        Recorder rec;
        record(poller, rec);
        poller.start();
        QVERIFY(readings(*sim, rec, 1));
        QCOMPARE(rec.entries.first().a, -10.0f);

        poller.pausePolling();
        QVERIFY(sawDisconnect(*sim, Device::Temperature));
        const int polls = int(sim->frames(Device::Temperature).size());
        QVERIFY(!sim->waitForFrames(Device::Temperature, polls + 1, 1600));

        poller.resumePolling();
        QVERIFY(readings(*sim, rec, rec.count("T") + 2));
        QCOMPARE(sim->openConnections(Device::Temperature), 1);

        QElapsedTimer clock;
        clock.start();
        poller.stopPolling();
        QVERIFY(poller.wait(1000));
        // A finished or never started poller takes every request at once.
        WorkerThread idle(host);
        for (WorkerThread* p : {&poller, &idle}) {
            p->pausePolling();
            p->setHostAddress("127.9.9.9");
            p->resumePolling();
            p->stopPolling();
        }
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(idle.hostAddress(), QString("127.9.9.9"));

        // Stopped while paused; destroyed while running.
        WorkerThread paused(host);
        paused.start();
        paused.pausePolling();
        paused.stopPolling();
        QVERIFY(paused.wait(1000));
        auto running = std::make_unique<WorkerThread>(host);
        running->start();
        running.reset();
        QCOMPARE(rec.count("lost"), 0);
    }

    void readdressDropsReadingsOfTheOldBox()
    {
        const QString hostA = testenv::uniqueLoopbackHost();
        const QString hostB = testenv::uniqueLoopbackHost();
        auto simA = startSimulator(hostA, 23.5);
        auto simB = startSimulator(hostB, -10.0);
        QVERIFY(simA && simB);
        WorkerThread poller(hostA);
        Recorder rec;
        record(poller, rec);
        poller.start();
        QVERIFY(readings(*simA, rec, 1));

        // Deliver nothing here while A answers two more polls: their readings
        // are still queued when the address changes.
        const int polls = int(simA->frames(Device::Temperature).size());
        QThread::msleep(1600);
        QVERIFY(simA->frames(Device::Temperature).size() >= polls + 2);
        const int seen = int(rec.entries.size());

        poller.setHostAddress(hostB);
        QCOMPARE(poller.hostAddress(), hostB);
        QVERIFY(sawDisconnect(*simA, Device::Temperature));
        QVERIFY(readings(*simB, rec, rec.count("T") + 2));
        for (const Recorder::Entry& e : rec.of("T", seen))
            QCOMPARE(e.a, -10.0f);
        QCOMPARE(rec.count("lost"), 0);
    }

    void lostBoxIsReportedOnceAndFoundAgain()
    {
        const QString host = testenv::uniqueLoopbackHost(); // nothing listens here yet
        WorkerThread poller(host);
        Recorder rec;
        record(poller, rec);
        QSignalSpy lost(&poller, &WorkerThread::connectionLost);
        poller.start();
        QVERIFY(lost.wait(3000));
        QVERIFY(!lost.wait(2500)); // tried again, but reported once
        QCOMPARE(rec.entries.size(), 2);
        QCOMPARE(rec.entries.at(1).signal, QString("Stopped"));
        QVERIFY(poller.isLost());
        QVERIFY(!poller.isPaused());

        // The box comes back: found without anyone resuming the poller.
        auto sim = startSimulator(host, 23.5);
        QVERIFY(sim);
        QVERIFY(readings(*sim, rec, 1));
        QCOMPARE(rec.of("T").first().a, 23.5f);
        QVERIFY(!poller.isLost());

        // Lost again: a new loss, reported again.
        sim.reset();
        QVERIFY(lost.wait(3000));
        QCOMPARE(lost.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestTemperaturePoller)
#include "tst_temperaturepoller.moc"
