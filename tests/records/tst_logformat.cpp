#include "logformat.h"

#include <QtTest>

using records::LogLayout;
using records::RecordValues;

Q_DECLARE_METATYPE(RecordValues)

namespace {

const double kPsi = 14.5038;

RecordValues point(int number, float bar, float celsius, const QString& n2 = QString(),
                   const QString& o2 = QString())
{
    RecordValues v;
    v.number = number;
    v.pressureBar = bar;
    v.temperature = celsius;
    v.n2Text = n2;
    v.o2Text = o2;
    return v;
}

} // namespace

class TestLogFormat : public QObject
{
    Q_OBJECT

private slots:
    void calibrationHeader_data();
    void calibrationHeader();
    void rawHeader_data();
    void rawHeader();
    void recordNumber_data();
    void recordNumber();
    void pressure_data();
    void pressure();
    void temperatureAndOxygen_data();
    void temperatureAndOxygen();
    void calibrationRecord_data();
    void calibrationRecord();
    void rawRecord_data();
    void rawRecord();
};

void TestLogFormat::calibrationHeader_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("color");
    QTest::addColumn<double>("factor");
    QTest::addColumn<QByteArray>("expected");

    const QString csv = QStringLiteral("*.csv");
    const QString cls = QStringLiteral("*.cls");
    QTest::newRow("csv color bar")
        << csv << true << 1.0 << QByteArray("P[Bar],T[C],Isens,Lsens,Iref,Lref\r\n");
    QTest::newRow("csv color kpa")
        << csv << true << 100.0 << QByteArray("P[Pa],T[C],Isens,Lsens,Iref,Lref\r\n");
    QTest::newRow("csv color psi")
        << csv << true << kPsi << QByteArray("P[psi],T[C],Isens,Lsens,Iref,Lref\r\n");
    QTest::newRow("csv mono bar") << csv << false << 1.0
                                  << QByteArray("P[Bar],T[C],Isens,Lsens\r\n");
    QTest::newRow("csv mono kpa") << csv << false << 100.0
                                  << QByteArray("P[Pa],T[C],Isens,Lsens\r\n");
    QTest::newRow("csv mono psi") << csv << false << kPsi
                                  << QByteArray("P[psi],T[C],Isens,Lsens\r\n");
    QTest::newRow("cls color bar")
        << cls << true << 1.0 << QByteArray("n251\r\nP,Bar T,C Isens Lsens Iref Lref\r\n");
    QTest::newRow("cls color kpa")
        << cls << true << 100.0 << QByteArray("n251\r\nP,Pa T,C Isens Lsens Iref Lref\r\n");
    QTest::newRow("cls color psi")
        << cls << true << kPsi << QByteArray("n251\r\nP,psi T,C Isens Lsens Iref Lref\r\n");
    QTest::newRow("cls mono bar") << cls << false << 1.0
                                  << QByteArray("n251\r\nP,Bar T,C Isens Lsens\r\n");
    QTest::newRow("cls mono kpa") << cls << false << 100.0
                                  << QByteArray("n251\r\nP,Pa T,C Isens Lsens\r\n");
    QTest::newRow("cls mono psi") << cls << false << kPsi
                                  << QByteArray("n251\r\nP,psi T,C Isens Lsens\r\n");
    QTest::newRow("filter is case-sensitive") << QStringLiteral("*.CSV") << false << 1.0
                                              << QByteArray("n251\r\nP,Bar T,C Isens Lsens\r\n");
    QTest::newRow("no filter is cls")
        << QString() << false << 1.0 << QByteArray("n251\r\nP,Bar T,C Isens Lsens\r\n");
    QTest::newRow("psi within tolerance")
        << csv << false << 14.5045 << QByteArray("P[psi],T[C],Isens,Lsens\r\n");
    QTest::newRow("psi just outside")
        << csv << false << 14.5050 << QByteArray("P[Bar],T[C],Isens,Lsens\r\n");
    QTest::newRow("near 100 is not kpa")
        << csv << false << 100.0000001 << QByteArray("P[Bar],T[C],Isens,Lsens\r\n");
    QTest::newRow("unknown unit as bar")
        << cls << true << 2.0 << QByteArray("n251\r\nP,Bar T,C Isens Lsens Iref Lref\r\n");
}

void TestLogFormat::calibrationHeader()
{
    QFETCH(QString, filter);
    QFETCH(bool, color);
    QFETCH(double, factor);
    QFETCH(QByteArray, expected);
    QCOMPARE(records::calibrationLogHeader(records::layoutFromFilter(filter), color, factor),
             expected);
}

void TestLogFormat::rawHeader_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("bar") << 1.0 << QByteArray("#,N2[slpm],O2[slpm],T[C],Pair[bar],O2[%]\r\n");
    QTest::newRow("kpa") << 100.0 << QByteArray("#,N2[slpm],O2[slpm],T[C],Pair[Pa],O2[%]\r\n");
    QTest::newRow("psi") << kPsi << QByteArray("#,N2[slpm],O2[slpm],T[C],Pair[psi],O2[%]\r\n");
    QTest::newRow("unknown") << 0.5 << QByteArray("#,N2[slpm],O2[slpm],T[C],Pair[bar],O2[%]\r\n");
}

void TestLogFormat::rawHeader()
{
    QFETCH(double, factor);
    QFETCH(QByteArray, expected);
    QCOMPARE(records::rawLogHeader(factor), expected);
}

void TestLogFormat::recordNumber_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0") << 0 << "000000";
    QTest::newRow("1") << 1 << "000001";
    QTest::newRow("9") << 9 << "000009";
    QTest::newRow("10") << 10 << "000010";
    QTest::newRow("99") << 99 << "000099";
    QTest::newRow("100") << 100 << "000100";
    QTest::newRow("999") << 999 << "000999";
    QTest::newRow("1000") << 1000 << "001000";
    QTest::newRow("9999") << 9999 << "009999";
    QTest::newRow("10000") << 10000 << "010000";
    QTest::newRow("12345") << 12345 << "012345";
    QTest::newRow("int16 max") << 32767 << "032767";
    QTest::newRow("99999") << 99999 << "099999";
    // The rule puts one "0" in front of everything from 10000 on.
    QTest::newRow("100000") << 100000 << "0100000";
}

void TestLogFormat::recordNumber()
{
    QFETCH(int, number);
    QFETCH(QString, expected);
    QCOMPARE(records::formatRecordNumber(number), expected);
}

void TestLogFormat::pressure_data()
{
    QTest::addColumn<float>("bar");
    QTest::addColumn<double>("factor");
    QTest::addColumn<QString>("expected");

    QTest::newRow("bar") << 0.95f << 1.0 << "0.950000";
    QTest::newRow("kpa as whole pascals") << 0.95f << 100.0 << "95000";
    QTest::newRow("psi") << 0.95f << kPsi << "13.778610";
    QTest::newRow("psi uses the given factor") << 1.0f << 14.5040 << "14.504000";
    QTest::newRow("kpa rounds to pascal") << 1.23456f << 100.0 << "123456";
    QTest::newRow("kpa maximum") << 4.5f << 100.0 << "450000";
    QTest::newRow("bar zero") << 0.0f << 1.0 << "0.000000";
    QTest::newRow("kpa zero") << 0.0f << 100.0 << "0";
    QTest::newRow("unknown unit in bar") << 0.95f << 2.0 << "0.950000";
    QTest::newRow("no flow bar") << -1.0f << 1.0 << "n/a";
    QTest::newRow("no flow kpa") << -1.0f << 100.0 << "n/a";
    QTest::newRow("no flow psi") << -1.0f << kPsi << "n/a";
    QTest::newRow("near -1 is a number") << -0.999f << 1.0 << "-0.999000";
}

void TestLogFormat::pressure()
{
    QFETCH(float, bar);
    QFETCH(double, factor);
    QFETCH(QString, expected);
    QCOMPARE(records::formatPressure(bar, factor), expected);
}

void TestLogFormat::temperatureAndOxygen_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("temperature");
    QTest::addColumn<QString>("oxygen");

    QTest::newRow("one bar") << 1.0f << "1.0"
                             << "21.2";
    QTest::newRow("zero") << 0.0f << "0.0"
                          << "0.0";
    QTest::newRow("max pressure") << 4.5f << "4.5"
                                  << "95.5";
    // 22.05 is just below 22.05 as a float, so it rounds down.
    QTest::newRow("float rounding") << 22.05f << "22.0"
                                    << "468.0";
    QTest::newRow("negative") << -12.34f << "-12.3"
                              << "-261.9";
    QTest::newRow("no flow value") << -1.0f << "-1.0"
                                   << "n/a";
}

void TestLogFormat::temperatureAndOxygen()
{
    QFETCH(float, value);
    QFETCH(QString, temperature);
    QFETCH(QString, oxygen);
    QCOMPARE(records::formatTemperature(value), temperature);
    QCOMPARE(records::formatO2Percent(value), oxygen);
}

void TestLogFormat::calibrationRecord_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<bool>("color");
    QTest::addColumn<double>("factor");
    QTest::addColumn<RecordValues>("values");
    QTest::addColumn<QByteArray>("expected");

    const int csv = int(LogLayout::Csv);
    const int cls = int(LogLayout::Cls);
    QTest::newRow("csv color") << csv << true << 1.0 << point(1, 0.95f, 22.0f)
                               << QByteArray("0.950000,22.0,calib_000001_p.tif,1,"
                                             "calib_000001_r.tif,1\r\n");
    QTest::newRow("csv mono") << csv << false << 1.0 << point(10, 0.95f, 22.0f)
                              << QByteArray("0.950000,22.0,calib_000010.tif,1\r\n");
    QTest::newRow("cls color") << cls << true << 100.0 << point(12345, 0.95f, 24.96f)
                               << QByteArray("95000 25.0 calib_012345_p.tif 1 "
                                             "calib_012345_r.tif 1\r\n");
    QTest::newRow("cls mono") << cls << false << kPsi << point(7, 2.0f, -5.04f)
                              << QByteArray("29.007600 -5.0 calib_000007.tif 1\r\n");
    QTest::newRow("csv no flow") << csv << false << 100.0 << point(3, -1.0f, 21.96f)
                                 << QByteArray("n/a,22.0,calib_000003.tif,1\r\n");
    QTest::newRow("cls no flow color") << cls << true << 1.0 << point(3, -1.0f, 21.96f)
                                       << QByteArray("n/a 22.0 calib_000003_p.tif 1 "
                                                     "calib_000003_r.tif 1\r\n");
}

void TestLogFormat::calibrationRecord()
{
    QFETCH(int, layout);
    QFETCH(bool, color);
    QFETCH(double, factor);
    QFETCH(RecordValues, values);
    QFETCH(QByteArray, expected);
    QCOMPARE(records::calibrationRecord(LogLayout(layout), color, factor, values), expected);
}

void TestLogFormat::rawRecord_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<RecordValues>("values");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("bar") << 1.0 << point(1, 1.0f, 22.0f, "5.289", "4.711")
                         << QByteArray("000001,5.289,4.711,22.0,1.000000,21.2\r\n");
    QTest::newRow("kpa") << 100.0 << point(42, 0.95f, 23.0f, "7.98", "2.02")
                         << QByteArray("000042,7.98,2.02,23.0,95000,20.2\r\n");
    QTest::newRow("psi") << kPsi << point(100, 2.0f, 30.04f, "5.7", "4.2")
                         << QByteArray("000100,5.7,4.2,30.0,29.007600,42.4\r\n");
    // The readouts are copied as displayed, whatever they say.
    QTest::newRow("no flow") << 1.0 << point(2, -1.0f, 22.0f, "0.000", "---")
                             << QByteArray("000002,0.000,---,22.0,n/a,n/a\r\n");
    QTest::newRow("empty readouts")
        << 100.0 << point(10000, -1.0f, 21.96f) << QByteArray("010000,,,22.0,n/a,n/a\r\n");
}

void TestLogFormat::rawRecord()
{
    QFETCH(double, factor);
    QFETCH(RecordValues, values);
    QFETCH(QByteArray, expected);
    QCOMPARE(records::rawRecord(factor, values), expected);
}

QTEST_GUILESS_MAIN(TestLogFormat)
#include "tst_logformat.moc"
