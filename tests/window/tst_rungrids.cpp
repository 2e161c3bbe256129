// Run variants: a downward temperature axis, single-axis grids, another log
// layout and unit, and the reference point.
#include "resourcesinit.h"
#include "runharness.h"
#include "testenv.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <cmath>

using boxsim::Device;

namespace {

// Gas on at 1 bar by hand; true once the box's N2 flow is 7.878 slpm.
bool gasOnAtOneBarByHand(BoxFixture& f, TempSensor* w)
{
    findIn<QDoubleSpinBox>(w, "setPValue")->setValue(1.0);
    QTest::mouseClick(findIn<QPushButton>(w, "gasButton"), Qt::LeftButton);
    return f.box->waitFor([&] { return std::fabs(f.box->massFlow(boxsim::N2) - 7.878) < 0.01; },
                          10000);
}

// A run of the single point 0 bar.
void planZeroBarOnly(BoxFixture& f)
{
    Grid grid;
    grid.useP = true;
    grid.pFrom = 0;
    grid.pTo = 0;
    grid.pStep = 1;
    planGrid(f, grid);
}

} // namespace

class RunGridsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void referencePointEndsTheRun();
    void pointWithoutPulseIsRepeated();
    void recordWaitsForLostSetPointToTakeEffect();
    void temperatureRunRecordsFlowsOfALostManualSetPoint();
};

void RunGridsTest::initTestCase()
{
    testenv::isolateSettings();
    BoxFixture::defaultSessionSpeedUp = 4;
    registerBarotermResources();
}

void RunGridsTest::referencePointEndsTheRun()
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

    const QStringList lines = logLines(logPath);
    QCOMPARE(lines.size(), 3);
    QVERIFY(std::fabs(lines[1].section(QLatin1Char(','), 0, 0).toDouble()) < 0.005);
    QVERIFY2(std::fabs(lines[2].section(QLatin1Char(','), 0, 0).toDouble() - 1.0) < 0.01,
             qPrintable(lines[2]));
    QVERIFY2(std::fabs(lines[2].section(QLatin1Char(','), 1, 1).toDouble() - 23.0) < 0.1,
             qPrintable(lines[2]));
    const QString mismatch = checkRecordsAgainstTruth(f, lines);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QCOMPARE(temperatureSetPoints(f), (QList<double>{23, 22}));
}

void RunGridsTest::pointWithoutPulseIsRepeated()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    Grid grid;
    grid.useP = true;
    grid.pFrom = 0;
    grid.pTo = 2;
    grid.pStep = 2;
    planGrid(f, grid);
    const QString logPath = dir.filePath(QStringLiteral("again.csv"));
    chooseLog(f, logPath);

    // The device server turns the first point's pulse away; it takes the next.
    boxsim::Faults refuse;
    refuse.refuse = true;
    f.box->setFaults(Device::Pulse, refuse);
    QStringList warnings;
    connect(w->statusBar(), &QStatusBar::messageChanged, this, [&](const QString& text) {
        if (!text.endsWith(QLatin1String("point repeated.")))
            return;
        warnings << text;
        f.box->setFaults(Device::Pulse, boxsim::Faults());
    });
    QVERIFY(runToEnd(f, 120000));

    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings[0].startsWith(QStringLiteral("Warning: Can't reach the pulse generator @ ")),
             qPrintable(warnings[0]));
    QCOMPARE(f.box->frames(Device::Pulse).size(), 2);
    // The record of the point that had no image is gone, and its number is
    // the repeated point's.
    const QStringList lines = logLines(logPath);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[1].contains(QStringLiteral("calib_000001_p.tif")));
    QVERIFY(lines[2].contains(QStringLiteral("calib_000002_p.tif")));
    const QString mismatch = checkRecordsAgainstTruth(f, lines);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    const QStringList raw = logLines(dir.filePath(QStringLiteral("again_SLPM.csv")));
    QCOMPARE(raw.size(), 3);
    QVERIFY(raw[1].startsWith(QStringLiteral("000001,")));
    QVERIFY(raw[2].startsWith(QStringLiteral("000002,")));
}

void RunGridsTest::recordWaitsForLostSetPointToTakeEffect()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    QVERIFY(gasOnAtOneBarByHand(f, w));

    // The N2 controller refuses connections while the run sends its first
    // set points (0 bar): only O2 changes. The temperature controller is
    // silent meanwhile, so no run step comes until the N2 poller is back and
    // has read the true, unchanged 7.878 slpm. The step's own second send
    // then makes the flow 10 slpm, after those readings were taken.
    boxsim::Faults refuse;
    refuse.refuse = true;
    f.box->setFaults(Device::N2, refuse);
    boxsim::Faults silent;
    silent.silent = true;
    f.box->setFaults(Device::Temperature, silent);
    planZeroBarOnly(f);
    const QString logPath = dir.filePath(QStringLiteral("lost.csv"));
    chooseLog(f, logPath);
    findIn<QToolButton>(w, "autoStartButton")->setChecked(true);
    QVERIFY(f.box->waitFor([&] { return f.box->massFlow(boxsim::O2) < 0.001; }, 10000));
    const int n2FramesBefore = f.box->frames(Device::N2).size();
    f.box->setFaults(Device::N2, boxsim::Faults());
    QVERIFY(f.box->waitFor([&] { return f.box->frames(Device::N2).size() >= n2FramesBefore + 3; },
                           10000));
    BoxFixture::waitUntil([] { return false; }, 300);
    QVERIFY(std::fabs(f.box->massFlow(boxsim::N2) - 7.878) < 0.01); // the write was lost
    f.box->setFaults(Device::Temperature, boxsim::Faults());
    QVERIFY(BoxFixture::waitUntil([&] { return !isRunning(f); }, 60000));

    const QStringList raw = logLines(dir.filePath(QStringLiteral("lost_SLPM.csv")));
    QCOMPARE(raw.size(), 2);
    const QStringList fields = raw[1].split(QLatin1Char(','));
    QVERIFY2(std::fabs(fields.value(1).toDouble() - 10.0) < 0.05, qPrintable(raw[1])); // N2
    QCOMPARE(fields.value(2).toDouble(), 0.0);                                         // O2
    const QString mismatch = checkRecordsAgainstTruth(f, logLines(logPath));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void RunGridsTest::temperatureRunRecordsFlowsOfALostManualSetPoint()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    QVERIFY(gasOnAtOneBarByHand(f, w));
    // 0 bar by hand while the N2 controller refuses connections: only O2
    // changes, and no run step sends gas again.
    boxsim::Faults refuse;
    refuse.refuse = true;
    f.box->setFaults(Device::N2, refuse);
    findIn<QDoubleSpinBox>(w, "setPValue")->setValue(0.0);
    QTest::mouseClick(findIn<QPushButton>(w, "setN2Button"), Qt::LeftButton);
    QVERIFY(f.box->waitFor([&] { return f.box->massFlow(boxsim::O2) < 0.001; }, 10000));
    f.box->setFaults(Device::N2, boxsim::Faults());

    // The readings are true, so the temperature run records them and ends.
    Grid grid;
    grid.useT = true;
    grid.tFrom = 22;
    grid.tTo = 22;
    planGrid(f, grid);
    const QString logPath = dir.filePath(QStringLiteral("manual.csv"));
    chooseLog(f, logPath);
    QVERIFY(runToEnd(f, 60000));
    const QStringList raw = logLines(dir.filePath(QStringLiteral("manual_SLPM.csv")));
    QCOMPARE(raw.size(), 2);
    QVERIFY2(std::fabs(raw[1].section(QLatin1Char(','), 1, 1).toDouble() - 7.878) < 0.01,
             qPrintable(raw[1]));
    const QString mismatch = checkRecordsAgainstTruth(f, logLines(logPath));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

QTEST_MAIN(RunGridsTest)
#include "tst_rungrids.moc"
