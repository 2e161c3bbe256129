// The instrument table and the uncertainty of a point, against values worked
// out by hand with the table installed as the example.
#include "instrumenttable.h"

#include <QtTest>

#include <cmath>

using namespace uncertainty;

namespace {

std::optional<InstrumentTable> exampleTable()
{
    return records::readInstrumentTable(QStringLiteral(EXAMPLE_INSTRUMENT_TABLE));
}

} // namespace

class UncertaintyTest : public QObject
{
    Q_OBJECT
private slots:
    void exampleTableReads();
    void refusedTables_data();
    void refusedTables();
    void temperature();
    void pressure_data();
    void pressure();
};

void UncertaintyTest::exampleTableReads()
{
    QString error;
    const auto table =
        records::readInstrumentTable(QStringLiteral(EXAMPLE_INSTRUMENT_TABLE), &error);
    QVERIFY2(table, qPrintable(error));
    QCOMPARE(table->sensorA, 0.15);
    QCOMPARE(table->sensorB, 0.002);
    QCOMPARE(table->controllerResolution, 0.1);
    QCOMPARE(table->n2.fullScale, 20.0);
    QCOMPARE(table->o2.fullScale, 10.0);
    QCOMPARE(table->n2.ofReading, 0.008);
    QCOMPARE(table->o2.ofFullScale, 0.002);
    QCOMPARE(table->n2.resolution, 0.01);
    QCOMPARE(table->o2.resolution, 0.005);
    // A run given no table uses the example's values, from the example itself.
    QFile example(QStringLiteral(EXAMPLE_INSTRUMENT_TABLE));
    QVERIFY(example.open(QIODevice::ReadOnly));
    QCOMPARE(records::typicalInstrumentTableText(), example.readAll());
    QCOMPARE(records::typicalInstrumentTable().o2.resolution, 0.005);

    QVERIFY(!records::readInstrumentTable(QStringLiteral("/nonexistent/instruments.ini"), &error));
    QVERIFY2(error.contains(QLatin1String("can't read /nonexistent/instruments.ini")),
             qPrintable(error));
}

void UncertaintyTest::refusedTables_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("error");
    QTest::newRow("comma decimal")
        << QByteArray("of_reading = 0.008      ;") << QByteArray("of_reading = 0,8 ;")
        << "line 25: [N2] of_reading is not a number (\"0,8\")";
    QTest::newRow("negative") << QByteArray("resolution = 0.005") << QByteArray("resolution = -1")
                              << "line 33: [O2] resolution is negative (-1)";
    QTest::newRow("missing") << QByteArray("b = 0.002") << QByteArray()
                             << "[TemperatureSensor] b is missing";
    QTest::newRow("misspelt") << QByteArray("full_scale = 10") << QByteArray("fullscale = 10")
                              << "line 30: [O2] fullscale is not a key of the instrument table";
    QTest::newRow("twice") << QByteArray("b = 0.002") << QByteArray("a = 0.002")
                           << "line 16: [TemperatureSensor] a is given twice";
    QTest::newRow("not a number at all")
        << QByteArray("a = 0.15") << QByteArray("a = inf")
        << "line 15: [TemperatureSensor] a is not a number (\"inf\")";
}

void UncertaintyTest::refusedTables()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFile file(QStringLiteral(EXAMPLE_INSTRUMENT_TABLE));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    QVERIFY(text.contains(from));
    text.replace(from, to);
    QString why;
    QVERIFY(!records::instrumentTableFromText(text, &why));
    QTEST(why, "error");
}

void UncertaintyTest::temperature()
{
    // At 22.0 °C with a window standard deviation of 0.02 K:
    //   sensor      (0.15 + 0.002 × 22) / √3 = 0.194 / 1.7320508 = 0.1120060 K
    //   resolution  0.1 / √12 = 0.1 / 3.4641016                  = 0.0288675 K
    //   scatter                                                  = 0.02 K
    //   u = √(0.0125453 + 0.0008333 + 0.0004) = √0.0137787 = 0.1173826 K
    //   U = 2u = 0.2347651 K, the sensor dominating.
    const TemperatureBudget b = temperatureBudget(*exampleTable(), 22.0, 0.02);
    QVERIFY(std::fabs(b.parts[0].standard - 0.1120060) < 1e-7);
    QVERIFY(std::fabs(b.parts[1].standard - 0.0288675) < 1e-7);
    QVERIFY(std::fabs(b.expanded - 0.2347651) < 1e-7);
    QCOMPARE(sourceWord(b.dominant), QStringLiteral("sensor"));
    // Below two readings there is no scatter, and so no uncertainty.
    QVERIFY(!temperatureBudget(*exampleTable(), 22.0, kUnknown).known());
}

void UncertaintyTest::pressure_data()
{
    QTest::addColumn<double>("n2");
    QTest::addColumn<double>("o2");
    QTest::addColumn<double>("sd");
    QTest::addColumn<double>("expanded");
    QTest::addColumn<QString>("dominant");
    // 1 bar: N2 = 7.87764655, O2 = 2.12235345, S = N2 + O2 = 10 slpm, c = 10 / 2.12235345.
    //   ∂p/∂N2 = c·O2/S² = 10 × 2.12235345 / (2.12235345 × 100) = 0.1 bar/slpm
    //   ∂p/∂O2 = c·N2/S² = 0.1 × 7.87764655 / 2.12235345       = 0.3711751 bar/slpm
    //   N2 accuracy  (0.008 × 7.87764655 + 0.002 × 20) / √3
    //                = 0.1030212 / 1.7320508 = 0.0594793 slpm → × 0.1       = 0.0059479 bar
    //   N2 resolution 0.01 / √12 = 0.0028868 slpm              → × 0.1       = 0.0002887 bar
    //   O2 accuracy  (0.008 × 2.12235345 + 0.002 × 10) / √3
    //                = 0.0369788 / 1.7320508 = 0.0213497 slpm → × 0.3711751 = 0.0079245 bar
    //   O2 resolution 0.005 / √12 = 0.0014434 slpm             → × 0.3711751 = 0.0005357 bar
    //   scatter                                                             = 0.0005 bar
    //   u = √(3.5378e-5 + 8.33e-8 + 6.2798e-5 + 2.87e-7 + 2.5e-7) = √9.8796e-5 = 0.0099396 bar
    //   U = 2u = 0.0198792 bar, the O2 controller's accuracy dominating.
    QTest::newRow("1 bar") << 7.87764655 << 2.12235345 << 0.0005 << 0.0198792 << "O2_accuracy";
    // 0 bar: ∂p/∂N2 = 0; ∂p/∂O2 = c·10/100 = 0.4711751. O2 accuracy 0.02 / √3 × 0.4711751
    // = 0.0054407, resolution 0.0014434 × 0.4711751 = 0.0006801; U = 2√(2.9601e-5 + 4.625e-7)
    // = 0.0109660 bar.
    QTest::newRow("0 bar") << 10.0 << 0.0 << 0.0 << 0.0109660 << "O2_accuracy";
    QTest::newRow("a steady scatter of 20 mbar dominates")
        << 7.87764655 << 2.12235345 << 0.02 << 0.0446563 << "scatter";
    QTest::newRow("no gas flowing") << 0.01 << 0.0 << 0.0 << kUnknown << "N2_accuracy";
}

void UncertaintyTest::pressure()
{
    QFETCH(double, n2);
    QFETCH(double, o2);
    QFETCH(double, sd);
    QFETCH(double, expanded);
    const PressureBudget b = pressureBudget(*exampleTable(), n2, o2, sd);
    QVERIFY2(std::isnan(expanded) ? !b.known() : std::fabs(b.expanded - expanded) < 1e-7,
             qPrintable(QString::number(b.expanded, 'g', 10)));
    QTEST(sourceWord(b.dominant), "dominant");
}

QTEST_APPLESS_MAIN(UncertaintyTest)
#include "tst_uncertainty.moc"
