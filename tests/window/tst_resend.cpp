// Set points lost on their way to a controller go out again when the
// operator sent them with the window's buttons, and a set point replaced
// while its retry waits is not sent again.
#include "resourcesinit.h"
#include "runharness.h"
#include "setpointretries.h"
#include "testenv.h"

#include <QDoubleSpinBox>
#include <QPushButton>
#include <QStatusBar>
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

int retriesSent(TempSensor* w, setpoint::Controller which)
{
    auto* retries = w->findChild<SetPointRetries*>(QStringLiteral("setPointRetries"));
    return retries ? retries->retriesSent(which) : -1;
}

} // namespace

class ResendTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
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
