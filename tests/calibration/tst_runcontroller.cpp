#include "flowprotocol.h"
#include "runcontroller.h"

#include <QtTest>

#include <functional>

namespace {

run::RunController::FlowChecks flowChecks()
{
    return {flow::reportsSetPoint, flow::flowSettled, flow::kN2Id, flow::kO2Id};
}

QString number(double v)
{
    return QString::number(qRound(v * 100) / 100.0);
}

// A box that obeys at once: the temperature is the last set point sent, the
// flows the last ones sent. Every command is carried out and logged in short.
struct Rig
{
    run::RunController rc{flowChecks()};
    run::Plan plan;
    qint64 now = 0;
    float temperature = 20;
    gasmix::Flows flows;
    QStringList trace;
    QList<bool> writeResults, takeBackResults; // scripted, then success
    QList<int> pulseResults;                   // scripted, then 1; -1: refused
    int recordCounter = 0;
    // Gas sent as a pressure box with two decimals shows it, not as asked.
    bool flowsAsShown = false;
    // Called while command `index` runs, e.g. to stop there.
    std::function<void(int index)> during;

    // By default a 2x2 grid: 22 to 23 degrees, 0 to 2 bar.
    Rig(bool temperatureAxis, bool pressureAxis, bool referencePoint = false)
    {
        plan.temperature = sweep::planTemperature(22, 23, 1);
        plan.pressure = sweep::planPressure(0, 2, 2, 1);
        plan.temperatureAxisOn = temperatureAxis;
        plan.pressureAxisOn = pressureAxis;
        plan.referencePointOn = referencePoint;
        plan.writeLog = true;
    }

    double pressureDisplay() const
    {
        const float bar = gasmix::equivalentAirPressure(flows.n2, flows.o2);
        return bar < 0 ? -1 : double(bar) * plan.unitFactor;
    }

    void drain()
    {
        while (rc.command()) {
            const run::Command c = *rc.command();
            run::CommandResult result;
            QString line;
            switch (c.kind) {
            case run::Command::SetTemperature:
                line = QStringLiteral("T%1").arg(c.value);
                temperature = float(c.value);
                now += c.ms + 450;
                break;
            case run::Command::SetPressure:
            case run::Command::GasOn:
            case run::Command::GasOff:
                if (c.kind == run::Command::GasOff)
                    line = "Off";
                else
                    line = (c.kind == run::Command::GasOn ? "On" : "P") +
                           (c.send ? number(c.value) : QStringLiteral("(%1)").arg(c.value));
                if (c.send) {
                    flows = c.flows;
                    if (flowsAsShown) {
                        // As the window: the pressure box's two decimals, reported
                        // while the command runs and again as its result.
                        const double shown = qRound(c.value * 100) / 100.0;
                        flows = gasmix::flowsForPressure(shown, plan.unitFactor,
                                                         c.kind == run::Command::GasOff);
                        rc.setPointsSent(flows, now + 100);
                        result.flowsSent = flows;
                    }
                }
                now += 200;
                break;
            case run::Command::Wait:
                line = QStringLiteral("W%1%2").arg(c.ms).arg(c.pauseTemperaturePoller ? "p" : "");
                now += c.ms;
                break;
            case run::Command::WriteRecord: {
                const double p = pressureDisplay();
                line =
                    QStringLiteral("Rec%1/%2")
                        .arg(number(double(temperature)), p < 0 ? QStringLiteral("na") : number(p));
                result.ok = writeResults.isEmpty() || writeResults.takeFirst();
                if (result.ok)
                    result.recordNumber = ++recordCounter;
                break;
            }
            case run::Command::PulseSequence:
                line = c.extraWaitAtZeroPressure ? "Pulse0" : "Pulse";
                result.pulsesSent = pulseResults.isEmpty() ? 1 : pulseResults.takeFirst();
                if (result.pulsesSent < 0) {
                    result.pulsesSent = 0;
                    result.pulsesRefused = 1;
                }
                now += 500;
                break;
            case run::Command::TakeBackRecord:
                line = "Back";
                result.ok = takeBackResults.isEmpty() || takeBackResults.takeFirst();
                if (result.ok)
                    --recordCounter;
                break;
            case run::Command::ShowStatus:
                line = (c.warning ? "!" : "S:") + c.text;
                break;
            case run::Command::RunEnded:
                line = QStringList{"End:stop", "End:grid", "End:reference",
                                   "End:takeback"}[int(c.reason)];
                break;
            }
            trace << line;
            if (during)
                during(trace.size() - 1);
            // A stop ends a pulse sequence before its first pulse.
            if (c.kind == run::Command::PulseSequence && rc.phase() == run::Phase::Stopped)
                result.pulsesSent = 0;
            result.atMs = now;
            rc.commandDone(result);
        }
    }

    void readings(float n2Set, float n2Flow, float o2Set, float o2Flow, qint64 flowsAt,
                  qint64 temperatureAt)
    {
        now = flowsAt;
        rc.flowReading(run::FlowController::N2, n2Set, n2Flow, flowsAt);
        rc.flowReading(run::FlowController::O2, o2Set, o2Flow, flowsAt);
        now = temperatureAt;
        rc.temperatureReading(temperature, temperatureAt);
        drain();
    }

    // One temperature poll with fresh flow readings before it.
    void tick() { readings(flows.n2, flows.n2, flows.o2, flows.o2, now + 600, now + 700); }

    void start()
    {
        QVERIFY(rc.start(plan));
        drain();
    }

    bool ended() const
    {
        const run::Phase phase = rc.phase();
        return phase == run::Phase::Done || phase == run::Phase::Stopped ||
               phase == run::Phase::Closed;
    }

    void runToEnd(int extraTicks = 3)
    {
        for (int i = 0; i < 400 && !ended(); ++i)
            tick();
        for (int i = 0; i < extraTicks; ++i)
            tick();
    }

    QStringList only(const QString& pattern) const
    {
        return trace.filter(QRegularExpression(QStringLiteral("^(%1)").arg(pattern)));
    }
};

} // namespace

class RunControllerTest : public QObject
{
    Q_OBJECT
private slots:
    void grids_data();
    void grids();
    void resumedGrids_data();
    void resumedGrids();
    void flowsSentAsShown();
    void everyCommandOfA2x2Grid();
    void stopsAtEveryCommand();
    void close_data();
    void close();
    void recordAndPulseFailures_data();
    void recordAndPulseFailures();
    void repeatingPointFlag_data();
    void repeatingPointFlag();
    void flowReadingsBehindARecord_data();
    void flowReadingsBehindARecord();
    void gasSwitchedOffByHand_data();
    void gasSwitchedOffByHand();
};

void RunControllerTest::grids_data()
{
    QTest::addColumn<QVector<double>>("t"); // from, to, step; empty: axis off (From: 22)
    QTest::addColumn<QVector<double>>("p"); // in the display unit
    QTest::addColumn<double>("factor");
    QTest::addColumn<QVector<double>>("reference"); // T, P; empty: none
    QTest::addColumn<QString>("records");           // T/P (display unit) at each record
    QTest::addColumn<QString>("temperatures");      // every temperature set point sent
    QTest::addColumn<QString>("end");

    const QString gridDone = "End:grid";
    const QString referenceDone = "End:reference";
    QTest::newRow("3x3 in bar") << QVector<double>{22, 24, 1} << QVector<double>{0, 4, 2} << 1.0
                                << QVector<double>{}
                                << "22/0 22/2 22/4 23/0 23/2 23/4 24/0 24/2 24/4"
                                << "22 23 24 25 22" << gridDone;
    // Without a pressure axis the first point is recorded with the gas as it
    // was (off: "n/a"); later points switch it on for a valid pressure.
    QTest::newRow("temperature only, downwards") << QVector<double>{24, 22, 1} << QVector<double>{}
                                                 << 1.0 << QVector<double>{} << "24/na 23/0 22/0"
                                                 << "24 23 22 21 24" << gridDone;
    QTest::newRow("pressure only") << QVector<double>{} << QVector<double>{0, 4, 2} << 1.0
                                   << QVector<double>{} << "20/0 20/2 20/4"
                                   << "22" << gridDone;
    QTest::newRow("2x2 with reference point")
        << QVector<double>{22, 23, 1} << QVector<double>{0, 2, 2} << 1.0 << QVector<double>{20, 1}
        << "22/0 22/2 23/0 23/2 20/1"
        << "22 23 24 20 22" << referenceDone;
    QTest::newRow("kPa with reference point")
        << QVector<double>{} << QVector<double>{0, 200, 100} << 100.0 << QVector<double>{25, 100}
        << "20/0 20/100 20/200 25/100"
        << "25 22" << referenceDone;
}

void RunControllerTest::grids()
{
    QFETCH(QVector<double>, t);
    QFETCH(QVector<double>, p);
    QFETCH(double, factor);
    QFETCH(QVector<double>, reference);
    Rig rig(!t.isEmpty(), !p.isEmpty(), !reference.isEmpty());
    if (!t.isEmpty())
        rig.plan.temperature = sweep::planTemperature(t[0], t[1], t[2]);
    if (!p.isEmpty())
        rig.plan.pressure = sweep::planPressure(p[0], p[1], p[2], factor);
    rig.plan.unitFactor = factor;
    if (!reference.isEmpty()) {
        rig.plan.referenceT = reference[0];
        rig.plan.referenceP = reference[1];
    }
    rig.start();
    rig.runToEnd();

    QTEST(rig.only("Rec").join(' ').remove("Rec"), "records");
    QTEST(rig.only("T").join(' ').remove('T'), "temperatures");
    QFETCH(QString, end);
    QCOMPARE(rig.only("End"), QStringList{end});
    QCOMPARE(rig.only("Pulse").size(), rig.only("Rec").size());
    QVERIFY(rig.only("S:|!").isEmpty());
    QCOMPARE(rig.rc.phase(), run::Phase::Done);
    QVERIFY(!rig.rc.runActive());
    QVERIFY(!rig.rc.walking());
    QCOMPARE(rig.rc.pressureIndex(), 0);
    QCOMPARE(rig.rc.temperatureIndex(), rig.rc.temperaturePoints());
}

void RunControllerTest::resumedGrids_data()
{
    QTest::addColumn<QVector<double>>("t");
    QTest::addColumn<QVector<double>>("p");
    QTest::addColumn<QVector<double>>("reference");
    QTest::addColumn<int>("firstPoint");
    QTest::addColumn<QString>("records");
    QTest::addColumn<QString>("temperatures");
    QTest::addColumn<QString>("end");

    const QVector<double> t{22, 23, 1}, p{0, 2, 2}, none;
    QTest::newRow("2x2 at point 3") << t << p << none << 2 << "23/0 23/2"
                                    << "23 24 22"
                                    << "End:grid";
    QTest::newRow("2x2 at point 2") << t << p << none << 1 << "22/2 23/0 23/2"
                                    << "22 23 24 22"
                                    << "End:grid";
    QTest::newRow("2x2 at its last point") << t << p << none << 3 << "23/2"
                                           << "23 24 22"
                                           << "End:grid";
    QTest::newRow("2x2 at the reference point") << t << p << QVector<double>{20, 1} << 4 << "20/1"
                                                << "20 22"
                                                << "End:reference";
    QTest::newRow("temperature only, downwards, at point 2")
        << QVector<double>{24, 22, 1} << none << none << 1 << "23/0 22/0"
        << "23 22 21 24"
        << "End:grid";
    QTest::newRow("pressure only at point 2")
        << none << QVector<double>{0, 4, 2} << none << 1 << "20/2 20/4"
        << "22"
        << "End:grid";
    QTest::newRow("pressure only at the reference point")
        << none << QVector<double>{0, 4, 2} << QVector<double>{25, 1} << 3 << "25/1"
        << "25 22"
        << "End:reference";
}

// A resumed run records exactly the points from its first one on, in grid order.
void RunControllerTest::resumedGrids()
{
    QFETCH(QVector<double>, t);
    QFETCH(QVector<double>, p);
    QFETCH(QVector<double>, reference);
    QFETCH(int, firstPoint);
    Rig rig(!t.isEmpty(), !p.isEmpty(), !reference.isEmpty());
    if (!t.isEmpty())
        rig.plan.temperature = sweep::planTemperature(t[0], t[1], t[2]);
    if (!p.isEmpty())
        rig.plan.pressure = sweep::planPressure(p[0], p[1], p[2], 1);
    if (!reference.isEmpty()) {
        rig.plan.referenceT = reference[0];
        rig.plan.referenceP = reference[1];
    }
    rig.plan.firstPoint = firstPoint;
    rig.start();
    rig.runToEnd();

    QTEST(rig.only("Rec").join(' ').remove("Rec"), "records");
    QTEST(rig.only("T").join(' ').remove('T'), "temperatures");
    QFETCH(QString, end);
    QCOMPARE(rig.only("End"), QStringList{end});
    QCOMPARE(rig.only("Pulse").size(), rig.only("Rec").size());
    QCOMPARE(rig.rc.phase(), run::Phase::Done);

    // The records of an uninterrupted run from firstPoint on.
    Rig whole(rig.plan.temperatureAxisOn, rig.plan.pressureAxisOn, rig.plan.referencePointOn);
    whole.plan = rig.plan;
    whole.plan.firstPoint = 0;
    whole.start();
    whole.runToEnd();
    QCOMPARE(whole.only("Rec").mid(firstPoint), rig.only("Rec"));
}

// 3 x 0.3 bar is 0.90000004 in single precision; the box is sent the flows
// of the 0.90 shown. Those are the flows sent, every time: a run that took
// the two for a change at each send would wait for current readings forever.
void RunControllerTest::flowsSentAsShown()
{
    Rig rig(false, true);
    rig.plan.pressure = sweep::planPressure(0, 0.9, 0.3, 1);
    rig.flowsAsShown = true;
    rig.start();
    rig.runToEnd();
    QCOMPARE(rig.only("Rec").join(' ').remove("Rec"), QStringLiteral("20/0 20/0.3 20/0.6 20/0.9"));
    QCOMPARE(rig.rc.phase(), run::Phase::Done);
}

void RunControllerTest::everyCommandOfA2x2Grid()
{
    Rig rig(true, true);
    rig.start();
    rig.runToEnd();
    // Gas on once the temperature is there, again before each record; 2.2 s
    // between pressure points; pressure point 0 sent before the temperature
    // step, the gas off until the new temperature is reached; the last
    // temperature one step beyond the grid until the end replaces it.
    QCOMPARE(rig.trace.join(' '),
             QString("T22 P0 W100 On0 On0 Rec22/0 Pulse0 W2000p W200 P2 On2 Rec22/2 Pulse "
                     "On2 P0 T23 Off On0 On0 Rec23/0 Pulse0 W2000p W200 P2 On2 Rec23/2 Pulse "
                     "On2 T24 Off End:grid Off T22"));
}

void RunControllerTest::stopsAtEveryCommand()
{
    Rig whole(true, true, true);
    whole.start();
    whole.runToEnd();
    const int runEndedAt = whole.trace.indexOf(whole.only("End").value(0));
    QVERIFY(runEndedAt > 0);

    QSet<int> phasesStopped;
    for (int stopAt = 0; stopAt < runEndedAt; ++stopAt) {
        Rig rig(true, true, true);
        rig.during = [&](int index) {
            if (index == stopAt) {
                phasesStopped << int(rig.rc.phase());
                rig.rc.stop();
            }
        };
        rig.start();
        rig.runToEnd(5);
        const QString at =
            QStringLiteral("stopped during %1 (%2)").arg(stopAt).arg(whole.trace[stopAt]);
        QCOMPARE(rig.trace.mid(0, stopAt + 1), whole.trace.mid(0, stopAt + 1));
        // A record with no pulse out yet goes; then the stop branch and nothing else.
        QStringList expected{"End:stop", "Off", "T22"};
        if (rig.trace[stopAt].startsWith("Rec") || rig.trace[stopAt].startsWith("Pulse"))
            expected.prepend("Back");
        QVERIFY2(rig.trace.mid(stopAt + 1) == expected,
                 qPrintable(at + ": " + rig.trace.mid(stopAt + 1).join(' ')));
        QCOMPARE(rig.rc.phase(), run::Phase::Stopped);
        QVERIFY(!rig.rc.walking());
        QCOMPARE(rig.rc.pressureIndex(), 0);
    }
    // Stopped between two readings, nothing is under way: no record to take back.
    for (int ticks = 0;; ++ticks) {
        Rig rig(true, true, true);
        rig.start();
        for (int i = 0; i < ticks; ++i)
            rig.tick();
        if (!rig.rc.runActive())
            break;
        const int before = rig.trace.size();
        rig.rc.stop();
        rig.drain();
        rig.runToEnd(5);
        QCOMPARE(rig.trace.mid(before).join(' '), QString("End:stop Off T22"));
    }
    QVERIFY(phasesStopped.contains(int(run::Phase::Starting)));
    QVERIFY(phasesStopped.contains(int(run::Phase::Recording)));
    QVERIFY(phasesStopped.contains(int(run::Phase::NextPoint)));
    QVERIFY(phasesStopped.contains(int(run::Phase::ReferencePoint)));
    QVERIFY(phasesStopped.contains(int(run::Phase::WaitingForPressure)));
}

void RunControllerTest::close_data()
{
    QTest::addColumn<int>("closeAfterTicks");
    QTest::addColumn<QString>("closing");
    QTest::newRow("while walking the grid") << 3 << "T22 W50 Off";
    QTest::newRow("at the reference point") << 12 << "Off";
}

void RunControllerTest::close()
{
    QFETCH(int, closeAfterTicks);
    Rig rig(true, true, true);
    rig.start();
    for (int i = 0; i < closeAfterTicks; ++i)
        rig.tick();
    // Walking the grid, a close asks first and sends "From:" again.
    QFETCH(QString, closing);
    QCOMPARE(rig.rc.walking(), closing.startsWith("T22"));
    const int before = rig.trace.size();
    rig.rc.close();
    rig.drain();
    rig.tick();
    QCOMPARE(rig.trace.mid(before).join(' '), closing);
    QCOMPARE(rig.rc.phase(), run::Phase::Closed);
}

void RunControllerTest::recordAndPulseFailures_data()
{
    QTest::addColumn<bool>("writeLog");
    QTest::addColumn<QList<bool>>("writes");
    QTest::addColumn<QList<int>>("pulses");
    QTest::addColumn<QList<bool>>("takeBacks");
    QTest::addColumn<QString>("steps");

    const QString cantWrite = "!Warning: Can't write log record @ T:20.0 P:0.0, point repeated.";
    const auto noPulse = [](const char* bar) {
        return QStringLiteral("!Warning: Can't reach the pulse generator @ T:20.0 P:%1, point "
                              "repeated.")
            .arg(bar);
    };
    QTest::newRow("record not written: no pulse, point repeated")
        << true << QList<bool>{false, false} << QList<int>{} << QList<bool>{}
        << QStringList{"Rec20/0", cantWrite, "Rec20/0", cantWrite, "Rec20/0",
                       "Pulse0",  "Rec20/2", "Pulse",   "End:grid"}
               .join('|');
    QTest::newRow("no pulse out: record taken back, point repeated")
        << true << QList<bool>{} << QList<int>{0} << QList<bool>{}
        << QStringList{"Rec20/0", "Pulse0",  "Back",  noPulse("0.0"), "Rec20/0",
                       "Pulse0",  "Rec20/2", "Pulse", "End:grid"}
               .join('|');
    QTest::newRow("some pulses out: the record stays")
        << true << QList<bool>{} << QList<int>{2, 0} << QList<bool>{}
        << QStringList{"Rec20/0",      "Pulse0",  "Rec20/2", "Pulse",   "Back",
                       noPulse("2.0"), "Rec20/2", "Pulse",   "End:grid"}
               .join('|');
    QTest::newRow("every pulse refused: record taken back, point repeated")
        << true << QList<bool>{} << QList<int>{-1} << QList<bool>{}
        << QStringList{"Rec20/0",
                       "Pulse0",
                       "Back",
                       "!Warning: The pulse generator refused the pulses @ T:20.0 P:0.0, point "
                       "repeated.",
                       "Rec20/0",
                       "Pulse0",
                       "Rec20/2",
                       "Pulse",
                       "End:grid"}
               .join('|');
    QTest::newRow("no log: nothing to take back")
        << false << QList<bool>{} << QList<int>{0} << QList<bool>{}
        << QStringList{"Pulse0", noPulse("0.0"), "Pulse0", "Pulse", "End:grid"}.join('|');
    QTest::newRow("record that cannot be taken back stops the run")
        << true << QList<bool>{} << QList<int>{0} << QList<bool>{false}
        << QStringList{"Rec20/0", "Pulse0", "Back", "End:takeback",
                       "!Warning: Can't take back log record 1, run stopped."}
               .join('|');
}

void RunControllerTest::recordAndPulseFailures()
{
    QFETCH(bool, writeLog);
    Rig rig(false, true);
    rig.plan.writeLog = writeLog;
    QFETCH(QList<bool>, writes);
    QFETCH(QList<int>, pulses);
    QFETCH(QList<bool>, takeBacks);
    rig.writeResults = writes;
    rig.pulseResults = pulses;
    rig.takeBackResults = takeBacks;
    rig.start();
    rig.runToEnd();
    QTEST(rig.only("Rec|Pulse|Back|End|!").join('|'), "steps");
    // One record per point stays, each with its images.
    if (writeLog && takeBacks.isEmpty())
        QCOMPARE(rig.recordCounter, 2);
}

void RunControllerTest::repeatingPointFlag_data()
{
    QTest::addColumn<QList<bool>>("writes");
    QTest::addColumn<QList<int>>("pulses");
    QTest::addColumn<QString>("flags"); // at each record written or tried: R repeating, - not

    QTest::newRow("no failure") << QList<bool>{} << QList<int>{} << "- -";
    QTest::newRow("record not written twice")
        << QList<bool>{false, false} << QList<int>{} << "- R R -";
    QTest::newRow("no pulse out, then fine") << QList<bool>{} << QList<int>{0} << "- R -";
}

void RunControllerTest::repeatingPointFlag()
{
    QFETCH(QList<bool>, writes);
    QFETCH(QList<int>, pulses);
    Rig rig(false, true);
    rig.writeResults = writes;
    rig.pulseResults = pulses;
    QStringList flags;
    rig.during = [&](int index) {
        if (rig.trace[index].startsWith(QLatin1String("Rec")))
            flags << (rig.rc.repeatingPoint() ? "R" : "-");
    };
    rig.start();
    rig.runToEnd();
    QTEST(flags.join(' '), "flags");
    QVERIFY(!rig.rc.repeatingPoint());
}

void RunControllerTest::flowReadingsBehindARecord_data()
{
    // N2 set point and flow, O2 set point and flow, and when each arrived,
    // for a 0 bar point whose gas went on at 900 ms.
    QTest::addColumn<QVector<double>>("n2");
    QTest::addColumn<QVector<double>>("o2");
    QTest::addColumn<qint64>("temperatureAt");
    QTest::addColumn<QString>("first");
    // The same set points sent again (a retry) after the readings; -1 none.
    QTest::addColumn<qint64>("resentAt");
    // The box lost after the readings (it came back for the temperature); -1 none.
    QTest::addColumn<qint64>("lostAt");

    const QString stale = "S:Waiting for current flow readings";
    const QString unsettled = "S:Waiting for the flows to settle";
    QTest::newRow("current and settled")
        << QVector<double>{10, 10, 1500} << QVector<double>{0, 0, 1500} << qint64(1600) << "Rec20/0"
        << qint64(-1) << qint64(-1);
    QTest::newRow("N2 read before the gas went on")
        << QVector<double>{10, 10, 850} << QVector<double>{0, 0, 1500} << qint64(1600) << stale
        << qint64(-1) << qint64(-1);
    QTest::newRow("readings over 3 s old")
        << QVector<double>{10, 10, 1500} << QVector<double>{0, 0, 1500} << qint64(4700) << stale
        << qint64(-1) << qint64(-1);
    QTest::newRow("N2 flow still rising")
        << QVector<double>{10, 6, 1500} << QVector<double>{0, 0, 1500} << qint64(1600) << unsettled
        << qint64(-1) << qint64(-1);
    QTest::newRow("O2 holds an older set point")
        << QVector<double>{10, 10, 1500} << QVector<double>{0.5, 0, 1500} << qint64(1600)
        << unsettled << qint64(-1) << qint64(-1);
    // Sending the same set points again changes no flow: the readings still count.
    QTest::newRow("same set points sent again")
        << QVector<double>{10, 10, 1500} << QVector<double>{0, 0, 1500} << qint64(1600) << "Rec20/0"
        << qint64(1550) << qint64(-1);
    // Readings from before a loss of the box describe nothing after it.
    QTest::newRow("box lost since the readings")
        << QVector<double>{10, 10, 1500} << QVector<double>{0, 0, 1500} << qint64(1600) << stale
        << qint64(-1) << qint64(1550);
}

void RunControllerTest::flowReadingsBehindARecord()
{
    QFETCH(QVector<double>, n2);
    QFETCH(QVector<double>, o2);
    QFETCH(qint64, temperatureAt);
    Rig rig(false, true);
    rig.start();
    rig.readings(0, 0, 0, 0, 600, 700); // gas off: no pressure yet, so the gas goes on
    QCOMPARE(rig.trace.last(), QString("On0"));
    QCOMPARE(rig.now, qint64(900));

    const int before = rig.trace.size();
    rig.rc.flowReading(run::FlowController::N2, float(n2[0]), float(n2[1]), qint64(n2[2]));
    rig.rc.flowReading(run::FlowController::O2, float(o2[0]), float(o2[1]), qint64(o2[2]));
    QFETCH(qint64, resentAt);
    if (resentAt >= 0)
        rig.rc.setPointsSent(rig.flows, resentAt);
    QFETCH(qint64, lostAt);
    if (lostAt >= 0)
        rig.rc.boxLost(lostAt);
    rig.now = temperatureAt;
    rig.rc.temperatureReading(rig.temperature, temperatureAt);
    rig.drain();
    // The point is reached; its set points go once more before the record.
    QCOMPARE(rig.trace.value(before), QString("On0"));
    QTEST(rig.trace.value(before + 1), "first");
    if (rig.trace.value(before + 1).startsWith("Rec"))
        return;
    QVERIFY(rig.only("Rec").isEmpty());
    QCOMPARE(rig.rc.phase(), rig.trace.last().contains("settle")
                                 ? run::Phase::WaitingForFlowsToSettle
                                 : run::Phase::WaitingForFlowReadings);
    // Once the readings are current and settled, the point is recorded.
    rig.tick();
    QCOMPARE(rig.only("Rec"), QStringList{"Rec20/0"});
}

void RunControllerTest::gasSwitchedOffByHand_data()
{
    // The operator switches the gas off once this command has been carried out.
    QTest::addColumn<QString>("after");
    QTest::newRow("waiting for a pressure point") << "P2";
    QTest::newRow("at the reference point, gas on") << "On1";
}

// The gas button stays usable during a run; the run switches the gas on again
// wherever it waits for a pressure.
void RunControllerTest::gasSwitchedOffByHand()
{
    QFETCH(QString, after);
    Rig rig(false, true, true);
    rig.plan.referenceT = 25;
    rig.plan.referenceP = 1;
    rig.start();
    for (int i = 0; i < 100 && !rig.trace.contains(after); ++i)
        rig.tick();
    QVERIFY(rig.trace.contains(after));
    rig.flows = {};
    rig.rc.setPointsSent(rig.flows, rig.now);
    rig.runToEnd();
    QCOMPARE(rig.only("Rec").join(' ').remove("Rec"), QStringLiteral("20/0 20/2 25/1"));
    QCOMPARE(rig.only("End"), QStringList{"End:reference"});
}

QTEST_APPLESS_MAIN(RunControllerTest)
#include "tst_runcontroller.moc"
