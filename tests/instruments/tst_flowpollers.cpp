#include "flowpollers.h"
#include "pollertestkit.h"

using namespace pollertest;
using boxsim::Device;

namespace {

void record(workerN2& n2, workerO2& o2, Recorder& rec)
{
    QObject::connect(&n2, &workerN2::valueChangedN2,
                     [&rec](float sp, float f) { rec.add("N2", sp, f); });
    QObject::connect(&n2, &workerN2::connectionLost, [&rec] { rec.add("N2 lost"); });
    QObject::connect(&o2, &workerO2::valueChangedO2,
                     [&rec](float sp, float f) { rec.add("O2", sp, f); });
    QObject::connect(&o2, &workerO2::checkSignalP, [&rec] { rec.add("O2 check"); });
    QObject::connect(&o2, &workerO2::connectionLost, [&rec] { rec.add("O2 lost"); });
}

bool readings(boxsim::BoxSimulator& sim, const Recorder& rec, int count)
{
    return sim.waitFor([&] { return rec.count("N2") >= count && rec.count("O2") >= count; },
                       700 * count + 2000);
}

} // namespace

class TestFlowPollers : public QObject
{
    Q_OBJECT

private slots:
    void interfaces()
    {
        QCOMPARE(ownMethods(workerN2::staticMetaObject),
                 QStringList({"valueChangedN2(float,float)", "connectionLost()",
                              "debugSignal(QString)", "readPressureData()"}));
        QCOMPARE(
            ownMethods(workerO2::staticMetaObject),
            QStringList({"valueChangedO2(float,float)", "checkSignalP()",
                         "valueChangedO2_(QString)", "connectionLost()", "readPressureData()"}));
    }

    void readsPausesAndMovesToAnotherBox()
    {
        const QString hostA = testenv::uniqueLoopbackHost();
        const QString hostB = testenv::uniqueLoopbackHost();
        auto simA = startSimulator(hostA);
        auto simB = startSimulator(hostB);
        QVERIFY(simA && simB);
        QVERIFY(setFlow(*simA, Device::N2, 24000, 7.5) && setFlow(*simA, Device::O2, 16000, 2.5));
        QVERIFY(setFlow(*simB, Device::N2, 32000, 10.0) && setFlow(*simB, Device::O2, 6400, 1.0));
        workerN2 n2(hostA);
        workerO2 o2(hostA);
        Recorder rec;
        record(n2, o2, rec);
        n2.start();
        o2.start();
        QVERIFY(readings(*simA, rec, 4));
        for (const Recorder::Entry& e : rec.of("N2"))
            QVERIFY(e.a == 7.5f && e.b == 7.5f);
        for (const Recorder::Entry& e : rec.of("O2"))
            QVERIFY(e.a == 2.5f && e.b == 2.5f);
        for (int i = 0; i < rec.entries.size() - 1; ++i) {
            if (rec.entries.at(i).signal == "O2")
                QCOMPARE(rec.entries.at(i + 1).signal, QString("O2 check"));
        }
        QVERIFY(qAbs(rec.meanGapMs("N2") - 500) < 120 && qAbs(rec.meanGapMs("O2") - 500) < 120);

        n2.pausePolling();
        o2.pausePolling();
        QVERIFY(sawDisconnect(*simA, Device::N2) && sawDisconnect(*simA, Device::O2));
        const int polls = int(simA->frames(Device::N2).size() + simA->frames(Device::O2).size());
        QVERIFY(!simA->waitFor(
            [&] {
                return simA->frames(Device::N2).size() + simA->frames(Device::O2).size() > polls;
            },
            1200));

        // Moved while paused, resumed: B only. Moved back while polling: the
        // readings from B still queued are dropped.
        n2.setHostAddress(hostB);
        o2.setHostAddress(hostB);
        n2.resumePolling();
        o2.resumePolling();
        int seen = int(rec.entries.size());
        QVERIFY(readings(*simB, rec, rec.count("O2") + 2));
        for (const Recorder::Entry& e : rec.entries.mid(seen))
            QVERIFY(e.b == (e.signal == "N2" ? 10.0f : e.signal == "O2" ? 1.0f : 0.0f));
        QThread::msleep(1200); // deliver nothing while B answers more polls
        seen = int(rec.entries.size());
        n2.setHostAddress(hostA);
        o2.setHostAddress(hostA);
        QVERIFY(readings(*simA, rec, rec.count("O2") + 2));
        for (const Recorder::Entry& e : rec.entries.mid(seen))
            QVERIFY(e.b == (e.signal == "N2" ? 7.5f : e.signal == "O2" ? 2.5f : 0.0f));

        n2.stopPolling();
        o2.stopPolling();
        QVERIFY(n2.wait(1000) && o2.wait(1000));
    }

    void lostBoxN2ReportsOnceO2StaysSilent()
    {
        const QString host = testenv::uniqueLoopbackHost(); // nothing listens here yet
        workerN2 n2(host);
        workerO2 o2(host);
        Recorder rec;
        record(n2, o2, rec);
        QSignalSpy n2Lost(&n2, &workerN2::connectionLost);
        n2.start();
        o2.start();
        QVERIFY(n2Lost.wait(3000));
        QVERIFY(n2.isLost());
        QVERIFY(!n2Lost.wait(2500));
        QCOMPARE(rec.entries.size(), 1); // O2 stays silent

        // The box comes back: both find it by themselves.
        auto sim = startSimulator(host);
        QVERIFY(sim);
        QVERIFY(sim->waitFor([&] { return rec.count("O2") >= 1 && rec.count("N2") >= 1; }, 4000));
        QCOMPARE(n2Lost.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestFlowPollers)
#include "tst_flowpollers.moc"
