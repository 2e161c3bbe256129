// The value rules of the pressure and temperature inputs: what a box shows
// for a value it is given, in every unit.
#include "inputranges.h"
#include "units.h"

#include <QtTest>

class InputRangesTest : public QObject
{
    Q_OBJECT
private slots:
    void spinBox_data();
    void spinBox();
};

void InputRangesTest::spinBox_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("factor");
    QTest::addColumn<bool>("delta");
    QTest::addColumn<double>("shown");

    QTest::newRow("bar in range") << 1.5 << 1.0 << false << 1.5;
    QTest::newRow("bar rounded") << 1.234 << 1.0 << false << 1.23;
    QTest::newRow("bar above") << 5.0 << 1.0 << false << 4.5;
    QTest::newRow("bar negative") << -1.0 << 1.0 << false << 0.0;
    QTest::newRow("bar step 0") << 0.0 << 1.0 << true << 0.01;
    QTest::newRow("kPa whole") << 123.6 << 100.0 << false << 124.0;
    QTest::newRow("kPa step small") << 5.0 << 100.0 << true << 10.0;
    // The box rounds its limits to its decimals too.
    QTest::newRow("psi top") << 70.0 << units::kPsiFactor << false << 65.27;
    QTest::newRow("psi step top") << 60.0 << units::kPsiFactor << true << 58.02;
    QTest::newRow("psi step bottom") << 1.0 << units::kPsiFactor << true << 1.45;
    // A factor that is no unit keeps the bar boxes.
    QTest::newRow("unknown unit") << 7.0 << 3.0 << false << 4.5;
}

void InputRangesTest::spinBox()
{
    QFETCH(double, value);
    QFETCH(double, factor);
    QFETCH(bool, delta);
    QFETCH(double, shown);
    QCOMPARE(inputs::spinBoxValue(value, inputs::pressureRange(factor, delta)), shown);
}

QTEST_APPLESS_MAIN(InputRangesTest)
#include "tst_inputranges.moc"
