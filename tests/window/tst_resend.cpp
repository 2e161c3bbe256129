// Set points lost on their way to a controller go out again: the run's
// temperature step, the reference point's gas, the gas off at the end of a
// run and the manual commands each complete with true records, and a set
// point replaced while its retry waits is not sent again.
#include "resourcesinit.h"
#include "runharness.h"
#include "setpointretries.h"
#include "testenv.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using boxsim::Device;

namespace {

// The next `count` set points `device` receives are lost without an answer.
void loseSetPoints(BoxFixture& f, Device device, int count)
{
    boxsim::Faults lose;
    lose.loseSetPoints = count;
    f.box->setFaults(device, lose);
}

int framesEqual(const BoxFixture& f, Device device, const QByteArray& frame)
{
    return int(f.framesSince(device, 0).count(frame));
}

int retriesSent(TempSensor* w, setpoint::Controller which)
{
    auto* retries = w->findChild<SetPointRetries*>(QStringLiteral("setPointRetries"));
    return retries ? retries->retriesSent(which) : -1;
}

// The records of a finished run against the box.
QString checkLog(const BoxFixture& f, const QString& path, int records)
{
    const QStringList lines = logLines(path);
    if (lines.size() != records + 1)
        return QStringLiteral("%1 records, expected %2").arg(lines.size() - 1).arg(records);
    return checkRecordsAgainstTruth(f, lines);
}

} // namespace

class ResendTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void temperatureStepLost();
    void referenceGasLost();
    void gasOffAtTheEndLost();
    void manualSetPointLost_data();
    void manualSetPointLost();
    void replacedSetPointIsNotSentAgain();

private:
    // Status-bar lines of the window since the call.
    void collectStatus(TempSensor* w);
    QStringList m_status;
};

void ResendTest::initTestCase()
{
    testenv::isolateSettings();
    BoxFixture::defaultSessionSpeedUp = 4;
    registerBarotermResources();
}

void ResendTest::collectStatus(TempSensor* w)
{
    m_status.clear();
    connect(w->statusBar(), &QStatusBar::messageChanged, this, [this](const QString& text) {
        if (!text.isEmpty())
            m_status << text;
    });
}

void ResendTest::temperatureStepLost()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    Grid grid;
    grid.useT = true;
    grid.tFrom = 22;
    grid.tTo = 23;
    planGrid(f, grid);
    // Some gas must flow for the pressure readout to be valid.
    w->turnGas(false);
    const QString logPath = dir.filePath(QStringLiteral("step.csv"));
    chooseLog(f, logPath);
    collectStatus(w);
    // The run shows the step's temperature before it sends it.
    auto* setT = findIn<QDoubleSpinBox>(w, "setT");
    connect(setT, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, [&](double value) {
        if (std::fabs(value - 23.0) < 0.01 && isRunning(f))
            loseSetPoints(f, Device::Temperature, 1);
    });

    QVERIFY(runToEnd(f, 60000 * testenv::timingSlack()));
    const QString problem = checkLog(f, logPath, 2);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(temperatureSetPoints(f), (QList<double>{22, 23, 23, 24, 22}));
    QCOMPARE(retriesSent(w, setpoint::Controller::Temperature), 1);
    QVERIFY2(m_status.contains(QStringLiteral("The temperature controller did not confirm the "
                                              "set point 23.0 °C, sending it again (retry 1).")),
             qPrintable(m_status.join(QLatin1Char('\n'))));
}

void ResendTest::referenceGasLost()
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
    grid.refT = 22.0;
    planGrid(f, grid);
    const QString logPath = dir.filePath(QStringLiteral("reference.csv"));
    chooseLog(f, logPath);
    // The reference pressure is shown before its gas goes on. The gas button's
    // own toggle sends the same set points once more, so both sends are lost.
    auto* setP = findIn<QDoubleSpinBox>(w, "setPValue");
    connect(setP, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, [&](double value) {
        if (std::fabs(value - 1.0) < 0.001)
            loseSetPoints(f, Device::N2, 2);
    });

    QVERIFY(runToEnd(f, 60000 * testenv::timingSlack()));
    const QString problem = checkLog(f, logPath, 2);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(f.box->faults(Device::N2).loseSetPoints, 0);
    QVERIFY(retriesSent(w, setpoint::Controller::N2) >= 1);
    QVERIFY(framesEqual(f, Device::N2, "A25208\r") >= 3);
}

void ResendTest::gasOffAtTheEndLost()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    Grid grid;
    grid.useP = true;
    grid.pFrom = 1;
    grid.pTo = 1;
    grid.pStep = 1;
    planGrid(f, grid);
    const QString logPath = dir.filePath(QStringLiteral("end.csv"));
    chooseLog(f, logPath);
    // The end of the run closes the log first, then switches the gas off
    // (twice, with the gas button's toggle): both N2 sends are lost.
    connect(findIn<QGroupBox>(w, "groupBox_4"), &QGroupBox::toggled, this, [&](bool on) {
        if (!on)
            loseSetPoints(f, Device::N2, 2);
    });
    QVERIFY(runToEnd(f, 60000 * testenv::timingSlack()));
    const QString problem = checkLog(f, logPath, 1);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(f.box->waitFor([&] { return f.box->flowSetPoint(Device::N2) == 0.0; },
                           10000 * testenv::timingSlack()));
    QCOMPARE(f.box->flowSetPoint(Device::O2), 0.0);
    QCOMPARE(retriesSent(w, setpoint::Controller::N2), 1);
}

void ResendTest::manualSetPointLost_data()
{
    QTest::addColumn<bool>("gas");
    QTest::newRow("temperature") << false;
    QTest::newRow("gas") << true;
}

void ResendTest::manualSetPointLost()
{
    QFETCH(bool, gas);
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    collectStatus(w);
    if (gas) {
        // Gas on at 1 bar by hand, then 2 bar with "Set P": its N2 is lost.
        findIn<QDoubleSpinBox>(w, "setPValue")->setValue(1.0);
        QTest::mouseClick(findIn<QPushButton>(w, "gasButton"), Qt::LeftButton);
        QVERIFY(f.box->waitFor([&] { return f.box->flowSetPoint(Device::N2) > 7.8; }, 5000));
        findIn<QDoubleSpinBox>(w, "setPValue")->setValue(2.0);
        loseSetPoints(f, Device::N2, 1);
        QTest::mouseClick(findIn<QPushButton>(w, "setN2Button"), Qt::LeftButton);
        QVERIFY(std::fabs(f.box->flowSetPoint(Device::N2) - 7.878) < 0.01);
        QVERIFY(f.box->waitFor(
            [&] { return std::fabs(f.box->flowSetPoint(Device::N2) - 5.755) < 0.01; },
            6000 * testenv::timingSlack()));
        QCOMPARE(retriesSent(w, setpoint::Controller::N2), 1);
        QVERIFY(m_status.filter(QStringLiteral("The N2 controller did not confirm")).size() == 1);
    } else {
        findIn<QDoubleSpinBox>(w, "setT")->setValue(30.0);
        loseSetPoints(f, Device::Temperature, 1);
        QTest::mouseClick(findIn<QPushButton>(w, "setTempButton"), Qt::LeftButton);
        QCOMPARE(f.box->temperatureSetPointC(), 22.0);
        QVERIFY(f.box->waitFor([&] { return f.box->temperatureSetPointC() == 30.0; },
                               5000 * testenv::timingSlack()));
        QCOMPARE(temperatureSetPoints(f), (QList<double>{30, 30}));
        QCOMPARE(retriesSent(w, setpoint::Controller::Temperature), 1);
    }
    // Confirmed: nothing more goes out.
    const int n2Frames = f.mark(Device::N2);
    BoxFixture::waitUntil([] { return false; }, 2500);
    QCOMPARE(temperatureSetPoints(f).size(), gas ? 0 : 2);
    QList<QByteArray> n2 = f.framesSince(Device::N2, n2Frames);
    n2.removeAll("A\r");
    QVERIFY2(n2.isEmpty(), n2.join(' ').constData());
    QCOMPARE(retriesSent(w, gas ? setpoint::Controller::N2 : setpoint::Controller::Temperature), 1);
}

void ResendTest::replacedSetPointIsNotSentAgain()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    auto* setT = findIn<QDoubleSpinBox>(w, "setT");
    auto* button = findIn<QPushButton>(w, "setTempButton");
    setT->setValue(30.0);
    loseSetPoints(f, Device::Temperature, 1);
    QTest::mouseClick(button, Qt::LeftButton);
    // Within the retry's pause the operator asks for 35: 30 is not sent again.
    setT->setValue(35.0);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(f.box->temperatureSetPointC(), 35.0);
    BoxFixture::waitUntil([] { return false; }, 2500);
    QCOMPARE(temperatureSetPoints(f), (QList<double>{30, 35}));
    QCOMPARE(f.box->temperatureSetPointC(), 35.0);
    QCOMPARE(retriesSent(w, setpoint::Controller::Temperature), 0);
}

QTEST_MAIN(ResendTest)
#include "tst_resend.moc"
