#include "flowpollers.h"
#include "pollertestkit.h"
#include "workerthread.h"

using namespace pollertest;
using boxsim::Device;

Q_DECLARE_METATYPE(boxsim::Faults)

// Whatever the line does to the answers, the pollers hand on only readings the
// box really gave: 23.5 C, N2 7.5 slpm and O2 2.5 slpm at their set points.
class TestPollerFaults : public QObject
{
    Q_OBJECT

private slots:
    void onlyTrueReadings_data()
    {
        QTest::addColumn<boxsim::Faults>("faults");
        QTest::addColumn<bool>("random");
        QTest::addColumn<bool>("temperatureReads"); // readings still expected
        QTest::addColumn<bool>("flowsRead");
        boxsim::Faults f;
        f.split = true;
        f.splitPauseMs = 60;
        QTest::newRow("split") << f << false << true << true;
        f = {};
        f.garbageBefore = QByteArray("\x01\x04\x08?~\r", 6);
        QTest::newRow("garbage before") << f << false << true << true;
        f = {};
        f.garbageInstead = true;
        QTest::newRow("garbage instead") << f << false << false << false;
        f = {};
        f.badCrc = true;
        QTest::newRow("bad crc") << f << false << false << true;
        f = {};
        f.exceptionAnswers = true;
        QTest::newRow("exceptions") << f << false << false << true;
        f = {};
        f.dropAfterAnswers = 1;
        QTest::newRow("dropped connections") << f << false << true << true;
        f = {};
        f.silent = true;
        QTest::newRow("silent") << f << false << false << false;
        QTest::newRow("random mix") << boxsim::Faults() << true << true << true;
    }

    void onlyTrueReadings()
    {
        QFETCH(boxsim::Faults, faults);
        QFETCH(bool, random);
        QFETCH(bool, temperatureReads);
        QFETCH(bool, flowsRead);
        const QString host = testenv::uniqueLoopbackHost();
        auto sim = startSimulator(host, 23.5);
        QVERIFY(sim);
        QVERIFY(setFlow(*sim, Device::N2, 24000, 7.5) && setFlow(*sim, Device::O2, 16000, 2.5));
        for (Device device : {Device::Temperature, Device::N2, Device::O2})
            sim->setFaults(device, faults);
        sim->setRandomFaults(random, 4711);
        sim->clearRecord();

        WorkerThread temperature(host);
        workerN2 n2(host);
        workerO2 o2(host);
        Recorder rec;
        connect(&temperature, &WorkerThread::valueChangedT,
                [&](float t) { rec.add("T", t, 23.5f); });
        connect(&temperature, &WorkerThread::connectionLost, [&] { rec.add("lost"); });
        connect(&n2, &workerN2::valueChangedN2, [&](float sp, float f) { rec.add("N2", sp, f); });
        connect(&o2, &workerO2::valueChangedO2, [&](float sp, float f) { rec.add("O2", sp, f); });
        // The faults are in the answers, not in the pace: poll four times as often.
        for (BoxPoller* poller : {static_cast<BoxPoller*>(&temperature),
                                  static_cast<BoxPoller*>(&n2), static_cast<BoxPoller*>(&o2)})
            poller->speedUp(4);
        temperature.start();
        n2.start();
        o2.start();

        const int polls = random ? 8 : 4;
        const bool done = sim->waitFor(
            [&] {
                for (Device d : {Device::Temperature, Device::N2, Device::O2}) {
                    if (sim->frames(d).size() < polls)
                        return false;
                }
                return (!temperatureReads || rec.count("T") >= 2) &&
                       (!flowsRead || (rec.count("N2") >= 2 && rec.count("O2") >= 2));
            },
            polls * 700 + 4000);
        QTest::qWait(200); // answers to the last polls
        QVERIFY2(done, qPrintable(QString("T %1 N2 %2 O2 %3")
                                      .arg(rec.count("T"))
                                      .arg(rec.count("N2"))
                                      .arg(rec.count("O2"))));
        for (const Recorder::Entry& e : rec.entries) {
            if (e.signal == "T")
                QCOMPARE(e.a, 23.5f);
            else if (e.signal == "N2")
                QVERIFY(e.a == 7.5f && e.b == 7.5f);
            else if (e.signal == "O2")
                QVERIFY(e.a == 2.5f && e.b == 2.5f);
        }
        QCOMPARE(rec.count("T") > 0, temperatureReads);
        QCOMPARE(rec.count("N2") + rec.count("O2") > 0, flowsRead);
        QCOMPARE(rec.count("lost"), 0);
    }
};

QTEST_GUILESS_MAIN(TestPollerFaults)
#include "tst_pollerfaults.moc"
