// A full calibration run against the simulated box: the grid, the log files
// and the box's true state at every pulse.
#include "resourcesinit.h"
#include "runharness.h"
#include "testenv.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using boxsim::Device;

class RunTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void threeByThreeGrid();
};

void RunTest::initTestCase()
{
    testenv::isolateSettings();
    registerBarotermResources();
}

void RunTest::threeByThreeGrid()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    Grid grid;
    grid.useT = true;
    grid.useP = true;
    planGrid(f, grid);
    const QString logPath = dir.filePath(QStringLiteral("run1.csv"));
    chooseLog(f, logPath);
    QCOMPARE(findIn<QLineEdit>(w, "logNameEdit")->text(), logPath);

    QVERIFY(runToEnd(f, 150000));

    bool crlf = false;
    const QStringList lines = logLines(logPath, &crlf);
    QVERIFY(crlf);
    QCOMPARE(lines.value(0), QStringLiteral("P[Bar],T[C],Isens,Lsens,Iref,Lref"));
    QCOMPARE(lines.size(), 10);
    const double pressures[] = {0, 2, 4};
    const double temperatures[] = {22, 23, 24};
    for (int i = 0; i < 9; ++i) {
        const QStringList fields = lines[i + 1].split(QLatin1Char(','));
        QVERIFY2(std::fabs(fields[0].toDouble() - pressures[i % 3]) < 0.005,
                 qPrintable(lines[i + 1]));
        QVERIFY2(std::fabs(fields[1].toDouble() - temperatures[i / 3]) < 0.1,
                 qPrintable(lines[i + 1]));
        QVERIFY2(fields[0].contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d{6}$"))),
                 qPrintable(lines[i + 1]));
    }
    const QString mismatch = checkRecordsAgainstTruth(f, lines);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));

    const QStringList raw = logLines(dir.filePath(QStringLiteral("run1_SLPM.csv")));
    QCOMPARE(raw.value(0), QStringLiteral("#,N2[slpm],O2[slpm],T[C],Pair[bar],O2[%]"));
    QCOMPARE(raw.size(), 10);
    QVERIFY(raw[1].startsWith(QStringLiteral("000001,")));
    QVERIFY(raw[9].startsWith(QStringLiteral("000009,")));

    QCOMPARE(temperatureSetPoints(f), (QList<double>{22, 23, 24, 25, 22}));
    QCOMPARE(f.box->frames(Device::Pulse).size(), 9);
    // Stopped: logging closed, gas off.
    QVERIFY(!findIn<QGroupBox>(w, "groupBox_4")->isChecked());
    QVERIFY(findIn<QLineEdit>(w, "logNameEdit")->text().isEmpty());
    QVERIFY(f.box->waitFor([&] { return f.box->flowSetPoint(Device::O2) == 0.0; }, 3000));
}

QTEST_MAIN(RunTest)
#include "tst_run.moc"
