#include "gasmix.h"

#include <QtTest>

#include <limits>

class GasMixTest : public QObject
{
    Q_OBJECT
private slots:
    void equivalentPressure_data();
    void equivalentPressure();
    void setPointsRoundTrip();
};

void GasMixTest::equivalentPressure_data()
{
    QTest::addColumn<double>("n2");
    QTest::addColumn<double>("o2");
    QTest::addColumn<float>("bar"); // -1: "n/a"
    QTest::newRow("both zero") << 0.0 << 0.0 << -1.0f;
    // Gas-off noise: a share of nothing is no pressure.
    QTest::newRow("noise of opposite signs") << -0.01 << 0.01 << -1.0f;
    QTest::newRow("O2 noise alone") << 0.0 << 0.01 << -1.0f;
    QTest::newRow("N2 noise alone") << 0.02 << 0.0 << -1.0f;
    QTest::newRow("just below the floor") << 0.05 << 0.0499 << -1.0f;
    QTest::newRow("negative share") << -5.0 << 0.2 << -1.0f;
    QTest::newRow("flows that cancel") << -0.05 << 0.05 << -1.0f;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 2.0 << -1.0f;
    QTest::newRow("air at 1 bar") << 7.87764655 << 2.12235345 << 1.0f;
    QTest::newRow("pure N2 is 0 bar") << 10.0 << 0.0 << 0.0f;
    QTest::newRow("small but real flow") << 0.095 << 0.015 << float(0.015 / 0.11 / 2.12235345 * 10);
}

void GasMixTest::equivalentPressure()
{
    QFETCH(double, n2);
    QFETCH(double, o2);
    QFETCH(float, bar);
    const float got = gasmix::equivalentAirPressure(n2, o2);
    QVERIFY2(qAbs(got - bar) < 1e-5f, qPrintable(QString::number(double(got))));
    QCOMPARE(gasmix::pressureText(got, 1.0) == QLatin1String("n/a"), bar == -1.0f);
}

void GasMixTest::setPointsRoundTrip()
{
    for (double factor : {1.0, 100.0, 14.5038}) {
        const gasmix::Flows flows = gasmix::flowsForPressure(2.5 * factor, factor, false);
        QVERIFY(qAbs(flows.n2 + flows.o2 - 10.0f) < 1e-5f);
        QVERIFY(qAbs(gasmix::equivalentAirPressure(flows.n2, flows.o2) - 2.5f) < 1e-5f);
        const gasmix::Flows off = gasmix::flowsForPressure(2.5 * factor, factor, true);
        QCOMPARE(off.n2 + off.o2, 0.0f);
    }
}

QTEST_APPLESS_MAIN(GasMixTest)
#include "tst_gasmix.moc"
