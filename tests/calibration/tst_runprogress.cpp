// The run's progress as the live view shows it: phase texts, grid states, the
// fixed waits of each point and the estimated time to the end.
#include "runprogress.h"

#include <QtTest>

#include <cmath>

using progress::PointState;
using progress::PulseStage;
using run::Phase;

Q_DECLARE_METATYPE(run::Phase)
Q_DECLARE_METATYPE(progress::PulseStage)

namespace {

run::Plan plan(int tPoints, int pPoints, bool reference, double pFrom = 0)
{
    run::Plan p;
    p.temperatureAxisOn = tPoints > 0;
    p.temperature = sweep::planTemperature(22, 22 + tPoints - 1, 1);
    p.pressureAxisOn = pPoints > 0;
    p.pressure = sweep::planPressure(pFrom, pFrom + pPoints - 1, 1, 1);
    p.referencePointOn = reference;
    return p;
}

} // namespace

class RunProgressTest : public QObject
{
    Q_OBJECT
private slots:
    void phaseTexts_data();
    void phaseTexts();
    void gridStates_data();
    void gridStates();
    void fixedWaits_data();
    void fixedWaits();
    void estimateAgainstASimulatedRun_data();
    void estimateAgainstASimulatedRun();
    void estimateEdges();
    void durations();
    void gridHeadings_data();
    void gridHeadings();
};

void RunProgressTest::phaseTexts_data()
{
    QTest::addColumn<Phase>("phase");
    QTest::addColumn<bool>("repeating");
    QTest::addColumn<PulseStage>("pulse");
    QTest::addColumn<QString>("text");
    const PulseStage none = PulseStage::None;
    QTest::newRow("no run yet") << Phase::Idle << false << none << "";
    QTest::newRow("starting") << Phase::Starting << false << none << "Waiting for the temperature";
    QTest::newRow("temperature") << Phase::WaitingForTemperature << false << none
                                 << "Waiting for the temperature";
    QTest::newRow("pressure") << Phase::WaitingForPressure << false << none
                              << "Waiting for the pressure";
    QTest::newRow("flow readings")
        << Phase::WaitingForFlowReadings << false << none << "Waiting for current flow readings";
    QTest::newRow("settling") << Phase::WaitingForFlowsToSettle << false << none
                              << "Waiting for the flows to settle";
    QTest::newRow("at the point") << Phase::AtPoint << false << none << "Waiting before the pulse";
    QTest::newRow("record written")
        << Phase::Recording << false << none << "Waiting before the pulse";
    QTest::newRow("wait before the pulse")
        << Phase::Recording << false << PulseStage::WaitingBeforePulse
        << "Waiting before the pulse";
    QTest::newRow("pulses") << Phase::Recording << true << PulseStage::Pulsing << "Pulsing";
    QTest::newRow("between points")
        << Phase::NextPoint << false << none << "Pause before the next point";
    QTest::newRow("reference") << Phase::ReferencePoint << false << none << "Reference point";
    QTest::newRow("repeated point waits")
        << Phase::WaitingForFlowsToSettle << true << none << "Repeating the point";
    QTest::newRow("repeated point reached again")
        << Phase::AtPoint << true << none << "Repeating the point";
    QTest::newRow("repeated point, temperature")
        << Phase::WaitingForTemperature << true << none << "Repeating the point";
    QTest::newRow("stopped") << Phase::Stopped << true << none << "Stopped";
    QTest::newRow("closing") << Phase::Closed << false << none << "Stopped";
    QTest::newRow("done") << Phase::Done << false << none << "Done";
}

void RunProgressTest::phaseTexts()
{
    QFETCH(Phase, phase);
    QFETCH(bool, repeating);
    QFETCH(PulseStage, pulse);
    QTEST(progress::phaseText({phase, repeating, pulse}), "text");
}

void RunProgressTest::gridStates_data()
{
    QTest::addColumn<int>("tPoints"); // 0: axis off
    QTest::addColumn<int>("pPoints");
    QTest::addColumn<int>("tIndex");
    QTest::addColumn<int>("pIndex");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("referenceUnderWay");
    QTest::addColumn<bool>("referenceDone");
    QTest::addColumn<QString>("states"); // rows of D(one) C(urrent) W(aiting); the reference last

    QTest::newRow("3x3 at the start")
        << 3 << 3 << 0 << 0 << true << false << false << "CWW WWW WWW";
    QTest::newRow("3x3 in the second row")
        << 3 << 3 << 1 << 2 << true << false << false << "DDD DDC WWW";
    QTest::newRow("3x3 row done, next temperature coming")
        << 3 << 3 << 0 << 3 << true << false << false << "DDD CWW WWW";
    QTest::newRow("pressure only") << 0 << 4 << 0 << 2 << true << false << false << "DDCW";
    QTest::newRow("temperature only") << 3 << 0 << 1 << 0 << true << false << false << "D C W";
    QTest::newRow("stopped halfway: nothing current")
        << 2 << 2 << 1 << 0 << false << false << false << "DD WW";
    QTest::newRow("reference under way") << 2 << 2 << 2 << 0 << true << true << false << "DD DD C";
    QTest::newRow("reference done") << 2 << 2 << 2 << 0 << false << false << true << "DD DD D";
}

void RunProgressTest::gridStates()
{
    QFETCH(int, tPoints);
    QFETCH(int, pPoints);
    QFETCH(int, tIndex);
    QFETCH(int, pIndex);
    QFETCH(bool, active);
    QFETCH(bool, referenceUnderWay);
    QFETCH(bool, referenceDone);
    QFETCH(QString, states);
    const run::Plan p = plan(tPoints, pPoints, states.count(' ') >= std::max(tPoints, 1));
    const progress::Grid grid = progress::gridOf(p);
    const int done = progress::gridPointsDone(p, tIndex, pIndex);
    QStringList rows;
    for (int r = 0; r < grid.temperatures; ++r) {
        QString row;
        for (int c = 0; c < grid.pressures; ++c)
            row += "WCD"[int(
                progress::pointState(grid, done, active, referenceUnderWay, referenceDone, r, c))];
        rows << row;
    }
    if (grid.referencePoint)
        rows << QString(QChar("WCD"[int(
            progress::pointState(grid, done, active, referenceUnderWay, referenceDone, -1, 0))]));
    QCOMPARE(rows.join(' '), states);
}

void RunProgressTest::fixedWaits_data()
{
    QTest::addColumn<int>("tPoints");
    QTest::addColumn<int>("pPoints");
    QTest::addColumn<bool>("reference");
    QTest::addColumn<QString>("waits"); // ms per point

    QTest::newRow("2x3 from 0 bar: extra wait at 0, no pause after a row's last")
        << 2 << 3 << false << "9200 7200 5000 9200 7200 5000";
    QTest::newRow("temperature only: the pause after every point")
        << 3 << 0 << false << "7200 7200 7200";
    QTest::newRow("pressure only with reference") << 0 << 2 << true << "9200 5000 5000";
}

void RunProgressTest::fixedWaits()
{
    QFETCH(int, tPoints);
    QFETCH(int, pPoints);
    QFETCH(bool, reference);
    progress::FixedWaits waits;
    waits.waitBeforePulseS = 2;
    waits.extraWaitAtZeroS = 2;
    waits.pulsesPerPoint = 2;
    waits.delayBetweenPulsesS = 3;
    QStringList out;
    for (qint64 ms : progress::fixedWaitsPerPoint(plan(tPoints, pPoints, reference), waits))
        out << QString::number(ms);
    QTEST(out.join(' '), "waits");
}

void RunProgressTest::estimateAgainstASimulatedRun_data()
{
    QTest::addColumn<int>("spread"); // percent of the settling time, up or down
    // Of the remaining time, from the third point done to the third left.
    QTest::addColumn<double>("maxError");

    QTest::newRow("every point alike: exact") << 0 << 0.001;
    QTest::newRow("settling varies by 20 %") << 20 << 0.2;
}

void RunProgressTest::estimateAgainstASimulatedRun()
{
    QFETCH(int, spread);
    QFETCH(double, maxError);
    progress::FixedWaits waits;
    waits.waitBeforePulseS = 5;
    waits.extraWaitAtZeroS = 10;
    const std::vector<qint64> fixed = progress::fixedWaitsPerPoint(plan(3, 4, true), waits);
    // The run as it will happen: fixed waits plus 40 s of settling, more or
    // less, at each point.
    std::vector<qint64> ends;
    qint64 t = 1000;
    const qint64 start = t;
    for (std::size_t i = 0; i < fixed.size(); ++i) {
        const int sign = (i * 7 % 3) - 1; // -1, 0, 1 in a fixed order
        t += fixed[i] + 40000 + 40000 * spread / 100 * sign;
        ends.push_back(t);
    }
    const qint64 end = ends.back();
    for (int done = 1; done < int(ends.size()); ++done) {
        for (qint64 into : {qint64(0), qint64(15000)}) {
            const qint64 now = ends[std::size_t(done - 1)] + into;
            const progress::Estimate e =
                progress::estimateRemaining(fixed, done, start, ends[std::size_t(done - 1)], now);
            QVERIFY(e.measured);
            const double error = std::fabs(double(e.remainingMs - (end - now))) / (end - now);
            if (done >= 3 && int(ends.size()) - done >= 3)
                QVERIFY2(error <= maxError, qPrintable(QStringLiteral("after %1 points +%2 ms: %3")
                                                           .arg(done)
                                                           .arg(into)
                                                           .arg(error)));
        }
    }
}

void RunProgressTest::estimateEdges()
{
    const std::vector<qint64> fixed{5000, 5000, 3000};
    // No point done: the fixed waits alone, marked as a lower bound.
    progress::Estimate e = progress::estimateRemaining(fixed, 0, 0, 0, 60000);
    QCOMPARE(e.remainingMs, qint64(13000));
    QVERIFY(!e.measured);
    // Every point done: nothing left.
    QCOMPARE(progress::estimateRemaining(fixed, 3, 0, 90000, 95000).remainingMs, qint64(0));
    // A point that takes far longer than the mean: the waits after it stay ahead.
    e = progress::estimateRemaining(fixed, 1, 0, 10000, 500000);
    QCOMPARE(e.remainingMs, qint64(3000 + 5000));
}

void RunProgressTest::durations()
{
    QCOMPARE(progress::durationText(44600), QStringLiteral("45 s"));
    QCOMPARE(progress::durationText(750000), QStringLiteral("12 min 30 s"));
    QCOMPARE(progress::durationText(3900000), QStringLiteral("1 h 05 min"));
    QCOMPARE(progress::durationText(-5), QStringLiteral("0 s"));
}

void RunProgressTest::gridHeadings_data()
{
    // The plan's axes as the spin boxes had them, in the plan's unit.
    QTest::addColumn<int>("tPoints"); // 0: axis off; from 25 down in steps of 1
    QTest::addColumn<double>("pFrom");
    QTest::addColumn<double>("pTo"); // below pFrom: axis off
    QTest::addColumn<double>("pStep");
    QTest::addColumn<double>("planFactor");
    QTest::addColumn<double>("referenceP"); // in the plan's unit; < 0: no reference point
    QTest::addColumn<double>("viewFactor");
    QTest::addColumn<QString>("viewLabel");
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QString>("columns");

    QTest::newRow("bar") << 2 << 0.0 << 2.0 << 1.0 << 1.0 << 1.0 << 1.0 << "Bar"
                         << "25.0 °C|24.0 °C|Ref 20.0 °C\n1.00 Bar"
                         << "0.00 Bar|1.00 Bar|2.00 Bar";
    QTest::newRow("kPa, no decimals")
        << 1 << 0.0 << 200.0 << 100.0 << 100.0 << 150.0 << 100.0 << "kPa"
        << "25.0 °C|Ref 20.0 °C\n150 kPa"
        << "0 kPa|100 kPa|200 kPa";
    QTest::newRow("planned in psi, shown in bar")
        << 1 << 0.0 << 29.0076 << 14.5038 << 14.5038 << 29.0076 << 1.0 << "Bar"
        << "25.0 °C|Ref 20.0 °C\n2.00 Bar"
        << "0.00 Bar|1.00 Bar|2.00 Bar";
    QTest::newRow("pressure axis off") << 3 << 1.0 << 0.0 << 1.0 << 1.0 << -1.0 << 1.0 << "Bar"
                                       << "25.0 °C|24.0 °C|23.0 °C"
                                       << "P";
}

void RunProgressTest::gridHeadings()
{
    QFETCH(int, tPoints);
    QFETCH(double, pFrom);
    QFETCH(double, pTo);
    QFETCH(double, pStep);
    QFETCH(double, planFactor);
    QFETCH(double, referenceP);
    QFETCH(double, viewFactor);
    QFETCH(QString, viewLabel);
    run::Plan p;
    p.temperatureAxisOn = tPoints > 0;
    p.temperature = sweep::planTemperature(25, 25 - std::max(tPoints - 1, 0), 1);
    p.pressureAxisOn = pTo >= pFrom;
    p.pressure = sweep::planPressure(pFrom, pTo, pStep, planFactor);
    p.unitFactor = planFactor;
    p.referencePointOn = referenceP >= 0;
    p.referenceT = 20;
    p.referenceP = referenceP;
    const progress::GridHeadings headings = progress::gridHeadings(p, viewFactor, viewLabel);
    QTEST(headings.rows.join('|'), "rows");
    QTEST(headings.columns.join('|'), "columns");
}

QTEST_APPLESS_MAIN(RunProgressTest)
#include "tst_runprogress.moc"
