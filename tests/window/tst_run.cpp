// A full calibration run against the simulated box: the grid, the log files
// and the box's true state at every pulse, and what the window locks while
// a run goes.
#include "resourcesinit.h"
#include "runharness.h"
#include "testenv.h"

#include <QAction>
#include <QGroupBox>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cmath>

using boxsim::Device;

class RunTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void threeByThreeGrid();
    void briefLossOfTheBox();
    void refusedPulsesTakeNoImages();
    void referencePointEndsTheRun();
};

void RunTest::initTestCase()
{
    testenv::isolateSettings();
    BoxFixture::defaultSessionSpeedUp = 4;
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

// The box drops out for about a second after the first pulse (its device
// server restarts) and the operator reads "Connection problem" for two
// seconds: the run goes on by itself and every record is true to the box.
void RunTest::briefLossOfTheBox()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    Grid grid;
    grid.useP = true;
    grid.pFrom = 1;
    grid.pTo = 3;
    grid.pStep = 1;
    planGrid(f, grid);
    const QString logPath = dir.filePath(QStringLiteral("lost.csv"));
    chooseLog(f, logPath);
    f.dialogs.pushButton(QMessageBox::Ok, 2000);

    QTimer outage;
    outage.setInterval(10);
    connect(&outage, &QTimer::timeout, this, [&] {
        if (f.box->frames(Device::Pulse).isEmpty())
            return;
        outage.stop();
        // After the pulse's answer and the rest that follows it, while the
        // next point settles and the temperature is polled.
        QTimer::singleShot(2400, this, [&] {
            f.box->stop();
            QTimer::singleShot(1000, this, [&] { QVERIFY(f.box->start()); });
        });
    });
    outage.start();
    QVERIFY(runToEnd(f, 90000));

    QCOMPARE(f.dialogs.count(QStringLiteral("critical")), 1);
    QCOMPARE(f.dialogs.last().title, QStringLiteral("Connection problem"));
    const QStringList lines = logLines(logPath);
    QCOMPARE(lines.size(), 4);
    const QString truth = checkRecordsAgainstTruth(f, lines);
    QVERIFY2(truth.isEmpty(), qPrintable(truth));
    Q_UNUSED(w);
}

// Two pulses a point; the generator refuses the first three. The first
// point's pulses are all refused: its record goes and the point is repeated.
// Then one of two is refused: the record stays and the warning names it.
void RunTest::refusedPulsesTakeNoImages()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    f.dialogs.pushAccept(2);
    f.dialogs.pushAccept(0);
    findIn<QAction>(w, "actionPulses_per_Point")->trigger();
    Grid grid;
    grid.useP = true;
    grid.pFrom = 1;
    grid.pTo = 2;
    grid.pStep = 1;
    planGrid(f, grid);
    const QString logPath = dir.filePath(QStringLiteral("refused.csv"));
    chooseLog(f, logPath);
    boxsim::Faults faults;
    faults.failPulses = 3;
    f.box->setFaults(Device::Pulse, faults);
    for (int i = 0; i < 3; ++i)
        f.dialogs.pushButton(QMessageBox::Ok, 300);
    QStringList warnings;
    connect(w->statusBar(), &QStatusBar::messageChanged, this, [&](const QString& text) {
        if (text.startsWith(QLatin1String("Warning")))
            warnings << text;
    });
    QVERIFY(runToEnd(f, 90000));

    QCOMPARE(f.dialogs.count(QStringLiteral("warning")), 3);
    QCOMPARE(f.box->frames(Device::Pulse).size(), 6);
    const QStringList lines = logLines(logPath);
    QCOMPARE(lines.size(), 3);
    for (int record = 1; record <= 2; ++record) {
        const QStringList fields = lines[record].split(QLatin1Char(','));
        QVERIFY2(std::fabs(fields.value(0).toDouble() - record) < 0.01, qPrintable(lines[record]));
        QCOMPARE(fields.value(2),
                 QStringLiteral("calib_%1_p.tif").arg(record, 6, 10, QLatin1Char('0')));
    }
    QCOMPARE(warnings.filter(QStringLiteral("refused the pulses")).size(), 1);
    QVERIFY(warnings.filter(QStringLiteral("refused the pulses"))
                .first()
                .endsWith(QLatin1String("point repeated.")));
    QCOMPARE(warnings.filter(QStringLiteral("refused pulse 1 of 2")).size(), 2);
    QCOMPARE(warnings.filter(QStringLiteral("refused pulse 2 of 2")).size(), 1);
}

void RunTest::referencePointEndsTheRun()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    Grid grid;
    grid.useP = true;
    grid.pFrom = 0;
    grid.pTo = 0;
    grid.pStep = 1;
    grid.referencePoint = true;
    grid.refP = 1.0;
    grid.refT = 23.0;
    planGrid(f, grid);
    const QString logPath = dir.filePath(QStringLiteral("ref.csv"));
    chooseLog(f, logPath);
    // Actions that would change the plan, the unit, the images or the
    // instruments stay off for the whole run, readings notwithstanding.
    const QList<QAction*> locked = {
        findIn<QAction>(w, "actionLoad"),         findIn<QAction>(w, "actionSet_Pressure_Unit"),
        findIn<QAction>(w, "actionManual_Pulse"), findIn<QAction>(w, "actionSet_IP_address"),
        findIn<QAction>(w, "actioninitTempCtrl"), findIn<QAction>(w, "actionChange_IP_Settings")};
    auto enabledCount = [&] {
        return int(
            std::count_if(locked.begin(), locked.end(), [](QAction* a) { return a->isEnabled(); }));
    };
    QCOMPARE(enabledCount(), 6);
    int enabledDuringRun = 0;
    int samples = 0;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
        if (!isRunning(f))
            return;
        ++samples;
        enabledDuringRun += enabledCount();
    });
    sampler.start(20);
    QVERIFY(runToEnd(f, 120000));
    sampler.stop();
    QVERIFY(samples > 50);
    QCOMPARE(enabledDuringRun, 0);
    QCOMPARE(enabledCount(), 6);

    // What the records hold, the session tests check: here the run ended after its two points.
    QCOMPARE(logLines(logPath).size(), 3);
    QCOMPARE(temperatureSetPoints(f), (QList<double>{23, 22}));
}

QTEST_MAIN(RunTest)
#include "tst_run.moc"
