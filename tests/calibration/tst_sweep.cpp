#include "sweep.h"
#include "units.h"

#include <QtTest>

class SweepTest : public QObject
{
    Q_OBJECT
private slots:
    void temperatureAxis_data();
    void temperatureAxis();
    void pointCounts_data();
    void pointCounts();
    void pressureAxisIsTheSameInEveryUnit_data();
    void pressureAxisIsTheSameInEveryUnit();
    void setPoints();
    void unitRecognition();
};

void SweepTest::temperatureAxis_data()
{
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("delta");
    QTest::addColumn<int>("points");
    QTest::newRow("upwards") << 22.0 << 24.0 << 1.0 << 1.0 << 3;
    QTest::newRow("downwards") << 24.0 << 22.0 << 1.0 << -1.0 << 3;
    QTest::newRow("single point keeps a negative step") << 22.0 << 22.0 << 1.0 << -1.0 << 1;
    QTest::newRow("partial last step") << 22.0 << 24.0 << 0.3 << 0.3 << 7;
}

void SweepTest::temperatureAxis()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(double, step);
    const sweep::TemperatureAxis axis = sweep::planTemperature(from, to, step);
    QCOMPARE(axis.start, from);
    QCOMPARE(axis.end, to);
    QTEST(axis.delta, "delta");
    QTEST(axis.points, "points");
}

// Spans that are whole multiples of the step keep their end point however the
// binary fractions round; a partial last step is dropped.
void SweepTest::pointCounts_data()
{
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("points");
    QTest::newRow("bar 0-0.9 by 0.3") << 0.0 << 0.9 << 0.3 << 4;
    QTest::newRow("bar 0-4.5 by 0.3") << 0.0 << 4.5 << 0.3 << 16;
    QTest::newRow("bar 0.01-4.02 by 0.01") << 0.01 << 4.02 << 0.01 << 402;
    QTest::newRow("bar 4.02-0.01 by 0.01") << 4.02 << 0.01 << 0.01 << 402;
    QTest::newRow("bar 0-4 by 0.1") << 0.0 << 4.0 << 0.1 << 41;
    QTest::newRow("bar 0-1 by 0.3 partial") << 0.0 << 1.0 << 0.3 << 4;
    QTest::newRow("bar 0.1-0.7 by 0.3") << 0.1 << 0.7 << 0.3 << 3;
    QTest::newRow("bar 1.1-3.3 by 0.11") << 1.1 << 3.3 << 0.11 << 21;
    QTest::newRow("kPa 0-90 by 30") << 0.0 << 90.0 << 30.0 << 4;
    QTest::newRow("kPa 0-450 by 30") << 0.0 << 450.0 << 30.0 << 16;
    QTest::newRow("kPa 0-400 by 70 partial") << 0.0 << 400.0 << 70.0 << 6;
    QTest::newRow("psi 0-13.05 by 4.35") << 0.0 << 13.05 << 4.35 << 4;
    QTest::newRow("psi 0-58.02 by 1.45 partial") << 0.0 << 58.02 << 1.45 << 41;
    QTest::newRow("psi 1.45-58 by 1.45") << 1.45 << 58.0 << 1.45 << 40;
    QTest::newRow("C 0-60 by 0.3") << 0.0 << 60.0 << 0.3 << 201;
    QTest::newRow("C -1-1 by 0.1") << -1.0 << 1.0 << 0.1 << 21;
    QTest::newRow("C 60-0 by 0.7 partial") << 60.0 << 0.0 << 0.7 << 86;
    QTest::newRow("C 20.1-20.7 by 0.2") << 20.1 << 20.7 << 0.2 << 4;
    QTest::newRow("just short of a whole step") << 0.0 << 0.9998 << 0.1 << 10;
}

void SweepTest::pointCounts()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(double, step);
    QTEST(sweep::axisPoints(from, to, step), "points");
    // The preview and the run read the same plan.
    QTEST(sweep::planTemperature(from, to, step).points, "points");
    QTEST(sweep::planPressure(from, to, step, units::kKpaFactor).points, "points");
}

void SweepTest::pressureAxisIsTheSameInEveryUnit_data()
{
    QTest::addColumn<double>("factor");
    QTest::newRow("bar") << units::kBarFactor;
    QTest::newRow("kPa") << units::kKpaFactor;
    QTest::newRow("psi") << units::kPsiFactor;
}

void SweepTest::pressureAxisIsTheSameInEveryUnit()
{
    QFETCH(double, factor);
    const sweep::PressureAxis axis = sweep::planPressure(0, 4 * factor, 0.1 * factor, factor);
    QCOMPARE(axis.points, 41);
    QCOMPARE(axis.start, 0.0f);
    QVERIFY(qAbs(axis.end - 4.0f) < 1e-6f);
    QVERIFY(qAbs(axis.delta - 0.1f) < 1e-7f);
    // The last point lands on the end point.
    QVERIFY(qAbs(sweep::pressurePointDisplay(axis.points - 1, axis.start, axis.delta, factor) -
                 4 * factor) < 1e-5 * factor);

    const sweep::PressureAxis down = sweep::planPressure(4 * factor, 0, 2 * factor, factor);
    QVERIFY(down.delta < 0);
    QCOMPARE(down.points, 3);
}

void SweepTest::setPoints()
{
    QCOMPARE(sweep::temperaturePoint(2, 22.0, 1.0), 24.0);
    QCOMPARE(sweep::temperaturePoint(3, 22.0, 1.0), 25.0); // one step beyond the grid
    QCOMPARE(sweep::temperaturePoint(2, 24.0, -1.0), 22.0);
    QCOMPARE(sweep::pressurePointDisplay(1, 0.0f, 2.0f, units::kBarFactor), 2.0);
    QCOMPARE(sweep::pressurePointDisplay(2, 0.0f, 2.0f, units::kKpaFactor), 400.0);
    // The point is formed in single precision, then scaled in double.
    QCOMPARE(sweep::pressurePointDisplay(3, 0.0f, 0.1f, units::kKpaFactor),
             double(3.0f * 0.1f) * 100.0);
}

void SweepTest::unitRecognition()
{
    using units::PressureUnit;
    QCOMPARE(units::unitFromFactor(1.0), PressureUnit::Bar);
    QCOMPARE(units::unitFromFactor(100.0), PressureUnit::Kpa);
    QCOMPARE(units::unitFromFactor(14.5038), PressureUnit::Psi);
    QCOMPARE(units::unitFromFactor(14.5045), PressureUnit::Psi);
    QCOMPARE(units::unitFromFactor(14.505), PressureUnit::Unknown);
    QCOMPARE(units::unitFromFactor(1.0000001), PressureUnit::Unknown);
    QCOMPARE(units::unitLabel(PressureUnit::Kpa), QStringLiteral("kPa"));
    QCOMPARE(units::unitLabel(PressureUnit::Unknown), QString());
    QCOMPARE(units::sanitizedFactor(0.0), 1.0);
    QCOMPARE(units::sanitizedFactor(-100.0), 1.0);
    QCOMPARE(units::sanitizedFactor(qQNaN()), 1.0);
    QCOMPARE(units::sanitizedFactor(2.5), 2.5);
}

QTEST_APPLESS_MAIN(SweepTest)
#include "tst_sweep.moc"
