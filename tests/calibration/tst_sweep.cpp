#include "sweep.h"
#include "units.h"

#include <QtTest>

class SweepTest : public QObject
{
    Q_OBJECT
private slots:
    void temperaturePreview_data();
    void temperaturePreview();
    void pressurePreviewIsTheSameInEveryUnit_data();
    void pressurePreviewIsTheSameInEveryUnit();
    void runCountsDropPartialSteps();
    void setPoints();
    void unitRecognition();
};

void SweepTest::temperaturePreview_data()
{
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("delta");
    QTest::addColumn<double>("steps");
    QTest::newRow("upwards") << 22.0 << 24.0 << 1.0 << 1.0 << 3.0;
    QTest::newRow("downwards") << 24.0 << 22.0 << 1.0 << -1.0 << 3.0;
    QTest::newRow("single point keeps a negative step") << 22.0 << 22.0 << 1.0 << -1.0 << 1.0;
    QTest::newRow("partial last step") << 22.0 << 24.0 << 0.3 << 0.3 << 7.0;
    // 0.1 is not exact in binary: the margin keeps the end point.
    QTest::newRow("tenths up to the end") << -1.0 << 1.0 << 0.1 << 0.1 << 21.0;
}

void SweepTest::temperaturePreview()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(double, step);
    const sweep::TemperatureAxis axis = sweep::planTemperature(from, to, step);
    QCOMPARE(axis.start, from);
    QCOMPARE(axis.end, to);
    QTEST(axis.delta, "delta");
    QTEST(axis.previewSteps, "steps");
}

void SweepTest::pressurePreviewIsTheSameInEveryUnit_data()
{
    QTest::addColumn<double>("factor");
    QTest::newRow("bar") << units::kBarFactor;
    QTest::newRow("kPa") << units::kKpaFactor;
    QTest::newRow("psi") << units::kPsiFactor;
}

void SweepTest::pressurePreviewIsTheSameInEveryUnit()
{
    QFETCH(double, factor);
    const sweep::PressureAxis axis = sweep::planPressure(0, 4 * factor, 0.1 * factor, factor);
    QCOMPARE(axis.previewSteps, 41.0);
    QCOMPARE(axis.start, 0.0f);
    QVERIFY(qAbs(axis.end - 4.0f) < 1e-6f);
    QVERIFY(qAbs(axis.delta - 0.1f) < 1e-7f);

    const sweep::PressureAxis down = sweep::planPressure(4 * factor, 0, 2 * factor, factor);
    QVERIFY(down.delta < 0);
    QCOMPARE(down.previewSteps, 3.0);
}

void SweepTest::runCountsDropPartialSteps()
{
    QCOMPARE(sweep::runTemperatureSteps(22, 24, 1), qint16(3));
    QCOMPARE(sweep::runTemperatureSteps(24, 22, -1), qint16(3));
    QCOMPARE(sweep::runTemperatureSteps(22, 24, 0.3), qint16(7));
    QCOMPARE(sweep::runTemperatureSteps(22, 22, -1), qint16(1));
    QCOMPARE(sweep::runPressureSteps(0.0f, 4.0f, 2.0f), qint16(3));
    QCOMPARE(sweep::runPressureSteps(0.0f, 4.0f, 0.1f), qint16(41));
    QCOMPARE(sweep::runPressureSteps(0.0f, 1.0f, 0.3f), qint16(4));
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
