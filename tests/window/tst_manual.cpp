// Manual control against the simulated box: initialisation, temperature set
// points, gas set points in every unit, and the live readouts.
#include "boxfixture.h"
#include "resourcesinit.h"
#include "testenv.h"

#include <QAction>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using boxsim::Device;

class ManualTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void initialisationWritesEveryFrameInOrder();
    void initialisationCompletesWithTheBoxSwitchedOff();
    void setPointAskedDuringInitialisationFollowsIt();
    void setPointFrames_data();
    void setPointFrames();
    void lateEchoLetsTheRunFrameThrough();
    void returnInTemperatureFieldSendsTheSetPoint();
    void gasSetPoints_data();
    void gasSetPoints();
    void gasOffSendsZeroFlows();
    void pressureReadoutInEveryUnit_data();
    void pressureReadoutInEveryUnit();
    void readoutColouring();
    void unitDialog();
};

void ManualTest::initTestCase()
{
    testenv::isolateSettings();
    registerBarotermResources();
}

void ManualTest::initialisationWritesEveryFrameInOrder()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    const int t0 = f.mark(Device::Temperature);
    const int n0 = f.mark(Device::N2);
    const int o0 = f.mark(Device::O2);
    const int e0 = f.eventMark();

    f.dialogs.pushButton(QMessageBox::Ok);
    findIn<QAction>(w, "actioninitTempCtrl")->trigger();

    QList<QByteArray> expected;
    for (const char* frame :
         {"01 06 03 F8 00 00 08 7F", "01 06 03 F7 00 01 F9 BC", "01 06 03 FB 00 01 39 BF",
          "01 06 03 ED 00 32 98 6E", "01 06 03 EE 00 F0 E9 FF", "01 06 03 EF 02 58 B8 E1",
          "01 06 03 F3 00 32 F8 68", "01 06 04 06 FF 9C 29 62", "01 06 04 07 03 E8 39 85",
          "01 06 04 8A FF 92 69 4D", "01 06 04 8B 03 F2 79 A5", "01 06 03 EC 00 00 48 7B",
          "01 06 03 F9 FF 06 98 4D", "01 06 03 FA 07 D1 6B D3"})
        expected.append(hex(frame));
    QList<QByteArray> written = f.framesSince(Device::Temperature, t0);
    written.removeAll(hex("01 04 03 E8 00 04 71 B9")); // polls before the pause
    QCOMPARE(written, expected);

    QList<QByteArray> o2 = f.framesSince(Device::O2, o0);
    QList<QByteArray> n2 = f.framesSince(Device::N2, n0);
    o2.removeAll("A\r");
    n2.removeAll("A\r");
    QCOMPARE(o2, (QList<QByteArray>{"*@=A\r", "A$$11\r", "A$$W20=9239\r"}));
    QCOMPARE(n2, (QList<QByteArray>{"*@=A\r", "A$$8\r", "A$$W20=9239\r"}));

    // Completion box, after the wait cursor is gone.
    const QList<ScriptedDialogs::Question> boxes = f.dialogs.questions(QStringLiteral("warning"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].title, QStringLiteral("Baroterm"));
    QCOMPARE(boxes[0].label, QStringLiteral("Initialization completed\n"));
    QCOMPARE(f.dialogs.overrideCursorDepth(), 0);
    QCOMPARE(f.dialogs.cursorDepthAtQuestions().last(), 0);

    // Every command connection had its port to itself and was closed.
    for (Device d : {Device::Temperature, Device::N2, Device::O2}) {
        const QList<quint64> connections = f.connectionsSince(d, e0);
        QVERIFY(!connections.isEmpty());
        QVERIFY2(f.portWasExclusive(d, connections.first()), qPrintable(QString::number(d)));
    }
    // The pollers come back.
    QVERIFY(f.box->waitFor([&] { return f.box->openConnections(Device::Temperature) == 1; }, 3000));
}

void ManualTest::initialisationCompletesWithTheBoxSwitchedOff()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    f.box->stop();
    f.dialogs.setHandler(
        [](const ScriptedDialogs::Question&) { return ScriptedDialogs::Answer(); });
    QElapsedTimer timer;
    timer.start();
    w->initTempCtrl();
    QVERIFY(timer.elapsed() < 20000 * testenv::timingSlack());
    bool completed = false;
    for (const ScriptedDialogs::Question& q : f.dialogs.questions(QStringLiteral("warning")))
        completed |= q.label == QLatin1String("Initialization completed\n");
    QVERIFY(completed);
    QCOMPARE(f.dialogs.overrideCursorDepth(), 0);
}

void ManualTest::setPointAskedDuringInitialisationFollowsIt()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    const int t0 = f.mark(Device::Temperature);
    const int e0 = f.eventMark();
    f.dialogs.pushButton(QMessageBox::Ok);
    // Asked for while the initialisation holds the port: it is not lost but
    // goes out after the initialisation, on a connection of its own.
    QTimer::singleShot(500, w, [w] {
        findIn<QDoubleSpinBox>(w, "setT")->setValue(30.0);
        w->setTemperature();
    });
    w->initTempCtrl();

    QList<QByteArray> written = f.framesSince(Device::Temperature, t0);
    written.removeAll(hex("01 04 03 E8 00 04 71 B9"));
    QCOMPARE(written.size(), 15);
    QCOMPARE(written.first(), hex("01 06 03 F8 00 00 08 7F"));
    QCOMPARE(written.last(), hex("01 06 03 EA 01 2C A8 37"));
    QVERIFY(qAbs(f.box->temperatureSetPointC() - 30.0) < 0.01);
    for (Device d : {Device::Temperature, Device::N2, Device::O2})
        for (quint64 connection : f.connectionsSince(d, e0))
            QVERIFY2(f.portWasExclusive(d, connection), qPrintable(QString::number(d)));
}

void ManualTest::setPointFrames_data()
{
    QTest::addColumn<double>("celsius");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<double>("echoed");
    QTest::newRow("22.0") << 22.0 << hex("01 06 03 EA 00 DC A9 E3") << 22.0;
    QTest::newRow("-20.0") << -20.0 << hex("01 06 03 EA FF 38 E8 58") << -20.0;
    QTest::newRow("90.0") << 90.0 << hex("01 06 03 EA 03 84 A8 E9") << 90.0;
}

void ManualTest::setPointFrames()
{
    QFETCH(double, celsius);
    QFETCH(QByteArray, frame);
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    const int t0 = f.mark(Device::Temperature);
    const int e0 = f.eventMark();
    findIn<QDoubleSpinBox>(w, "setT")->setValue(celsius);
    QTest::mouseClick(findIn<QPushButton>(w, "setTempButton"), Qt::LeftButton);

    QList<QByteArray> written = f.framesSince(Device::Temperature, t0);
    written.removeAll(hex("01 04 03 E8 00 04 71 B9"));
    // The echo comes at once, so the run frame is not needed.
    QCOMPARE(written, QList<QByteArray>{frame});
    const QList<quint64> connections = f.connectionsSince(Device::Temperature, e0);
    QVERIFY(!connections.isEmpty());
    QVERIFY(f.portWasExclusive(Device::Temperature, connections.first()));
    QVERIFY(qAbs(f.box->temperatureSetPointC() - celsius) < 0.01);
}

void ManualTest::lateEchoLetsTheRunFrameThrough()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    boxsim::Faults slow;
    slow.delayMs = 450;
    f.box->setFaults(Device::Temperature, slow);
    const int t0 = f.mark(Device::Temperature);
    findIn<QDoubleSpinBox>(w, "setT")->setValue(25.3);
    w->setTemperature();
    QList<QByteArray> written = f.framesSince(Device::Temperature, t0);
    written.removeAll(hex("01 04 03 E8 00 04 71 B9"));
    QCOMPARE(written,
             (QList<QByteArray>{hex("01 06 03 EA 00 FD 69 FB"), hex("01 06 03 EC 00 01 89 BB")}));
}

void ManualTest::returnInTemperatureFieldSendsTheSetPoint()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    const int t0 = f.mark(Device::Temperature);
    auto* setT = findIn<QDoubleSpinBox>(w, "setT");
    setT->setValue(22.0);
    QTest::keyClick(setT, Qt::Key_Return);
    QList<QByteArray> written = f.framesSince(Device::Temperature, t0);
    written.removeAll(hex("01 04 03 E8 00 04 71 B9"));
    QCOMPARE(written, QList<QByteArray>{hex("01 06 03 EA 00 DC A9 E3")});
}

void ManualTest::gasSetPoints_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("pressure");
    QTest::addColumn<QByteArray>("n2");
    QTest::addColumn<QByteArray>("o2");
    QTest::newRow("0 bar") << "Bar" << 0.0 << QByteArray("A32000\r") << QByteArray("A0\r");
    QTest::newRow("1 bar") << "Bar" << 1.0 << QByteArray("A25208\r") << QByteArray("A13583\r");
    QTest::newRow("100 kPa") << "Pascal" << 100.0 << QByteArray("A25208\r")
                             << QByteArray("A13583\r");
    QTest::newRow("1 bar in psi") << "psi" << 14.5038 << QByteArray("A25208\r")
                                  << QByteArray("A13583\r");
    QTest::newRow("4.5 bar") << "Bar" << 4.5 << QByteArray("A1438\r") << QByteArray("A61123\r");
}

void ManualTest::gasSetPoints()
{
    QFETCH(QString, unit);
    QFETCH(double, pressure);
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    f.dialogs.pushAccept(unit);
    w->setUnits();
    auto* setP = findIn<QDoubleSpinBox>(w, "setPValue");
    setP->setMaximum(1000); // the unit's own range would round 14.5038
    setP->setDecimals(4);
    setP->setValue(pressure);

    const int n0 = f.mark(Device::N2);
    const int o0 = f.mark(Device::O2);
    const int e0 = f.eventMark();
    QTest::mouseClick(findIn<QPushButton>(w, "gasButton"), Qt::LeftButton); // gas on
    QVERIFY(!findIn<QPushButton>(w, "gasButton")->isChecked());
    QList<QByteArray> n2 = f.framesSince(Device::N2, n0);
    QList<QByteArray> o2 = f.framesSince(Device::O2, o0);
    n2.removeAll("A\r");
    o2.removeAll("A\r");
    QVERIFY(!n2.isEmpty() && !o2.isEmpty());
    QTEST(n2.last(), "n2");
    QTEST(o2.last(), "o2");
    for (Device d : {Device::N2, Device::O2}) {
        const QList<quint64> connections = f.connectionsSince(d, e0);
        QVERIFY(!connections.isEmpty());
        QVERIFY(f.portWasExclusive(d, connections.first()));
    }
    // "Set P" sends the same once more.
    const int n1 = f.mark(Device::N2);
    QTest::mouseClick(findIn<QPushButton>(w, "setN2Button"), Qt::LeftButton);
    QList<QByteArray> again = f.framesSince(Device::N2, n1);
    again.removeAll("A\r");
    QTEST(again.value(0), "n2");
}

void ManualTest::gasOffSendsZeroFlows()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    findIn<QDoubleSpinBox>(w, "setPValue")->setValue(2.0);
    auto* gas = findIn<QPushButton>(w, "gasButton");
    QVERIFY(gas->isChecked()); // off after connecting
    QVERIFY(!findIn<QPushButton>(w, "setN2Button")->isEnabled());
    QTest::mouseClick(gas, Qt::LeftButton);
    QVERIFY(findIn<QPushButton>(w, "setN2Button")->isEnabled());
    QCOMPARE(gas->text(), QStringLiteral("Gas ON"));
    const int n0 = f.mark(Device::N2);
    const int o0 = f.mark(Device::O2);
    QTest::mouseClick(gas, Qt::LeftButton);
    QCOMPARE(gas->text(), QStringLiteral("Gas OFF"));
    QVERIFY(f.framesSince(Device::N2, n0).contains("A0\r"));
    QVERIFY(f.framesSince(Device::O2, o0).contains("A0\r"));
}

void ManualTest::pressureReadoutInEveryUnit_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<float>("n2");
    QTest::addColumn<float>("o2");
    QTest::addColumn<QString>("shown");
    QTest::newRow("bar") << "Bar" << 7.87765f << 2.12235f << "1.00";
    QTest::newRow("kPa") << "Pascal" << 7.87765f << 2.12235f << "100.000";
    QTest::newRow("psi") << "psi" << 7.87765f << 2.12235f << "14.504";
    QTest::newRow("no flow") << "Bar" << 0.0f << 0.0f << "n/a";
    QTest::newRow("pure O2") << "Bar" << 0.0f << 5.0f << "4.71";
}

void ManualTest::pressureReadoutInEveryUnit()
{
    QFETCH(QString, unit);
    QFETCH(float, n2);
    QFETCH(float, o2);
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    f.dialogs.pushAccept(unit);
    w->setUnits();
    w->updateCurN2(0, n2);
    w->updateCurO2(0, o2);
    QTEST(findIn<QLineEdit>(w, "curP")->text(), "shown");
    QCOMPARE(findIn<QLineEdit>(w, "curPN2_")->text(), QString::number(double(n2), 'g', 6));
}

void ManualTest::readoutColouring()
{
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    auto* curT = findIn<QLineEdit>(w, "curT");
    auto* curP = findIn<QLineEdit>(w, "curP");
    findIn<QDoubleSpinBox>(w, "setT")->setValue(22.0);
    w->updateTemp(22.04f);
    w->autoCheck();
    QCOMPARE(curT->text(), QStringLiteral("22.0"));
    QVERIFY(curT->styleSheet().contains(QStringLiteral("#39db26")));
    w->updateTemp(22.1f);
    w->autoCheck();
    QVERIFY(curT->styleSheet().contains(QStringLiteral("#edf924")));
    // "n/a" reads as 0, which is within tolerance of a set point of 0.
    QVERIFY(curP->styleSheet().contains(QStringLiteral("#39db26")));
    findIn<QDoubleSpinBox>(w, "setPValue")->setValue(1.0);
    w->autoCheck();
    QVERIFY(curP->styleSheet().contains(QStringLiteral("#edf924")));
    // A reading enables the controls, with no run and no box.
    QVERIFY(findIn<QWidget>(w, "groupBox_2")->isEnabled());
}

void ManualTest::unitDialog()
{
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    f.dialogs.pushAccept(QStringLiteral("psi"));
    w->setUnits();
    ScriptedDialogs::Question q = f.dialogs.last();
    QCOMPARE(q.title, QStringLiteral("Change Pressure Units"));
    QCOMPARE(q.label, QStringLiteral("Pressure Units:"));
    QCOMPARE(q.args.value(0).toStringList(), (QStringList{"Bar", "Pascal", "psi"}));
    QCOMPARE(q.args.value(1).toInt(), 0);
    auto* setP = findIn<QDoubleSpinBox>(w, "setPValue");
    QCOMPARE(setP->maximum(), 65.27);
    QCOMPARE(setP->singleStep(), 1.45);
    QCOMPARE(findIn<QDoubleSpinBox>(w, "autoPdeltaEdit")->maximum(), 58.02);
    QCOMPARE(findIn<QLabel>(w, "label_7")->text(), QStringLiteral("psi"));

    // The active unit again: nothing is reset.
    setP->setValue(10.0);
    f.dialogs.pushAccept(QStringLiteral("psi"));
    w->setUnits();
    QCOMPARE(f.dialogs.last().args.value(1).toInt(), 2);
    QCOMPARE(setP->value(), 10.0);

    // Cancelled: the preselected unit stays.
    f.dialogs.pushCancel();
    w->setUnits();
    QCOMPARE(w->unitFactor(), 14.5038);

    f.dialogs.pushAccept(QStringLiteral("Pascal"));
    w->setUnits();
    QCOMPARE(setP->decimals(), 0);
    f.dialogs.pushAccept(QStringLiteral("psi"));
    w->setUnits();
    for (const char* name : {"setPValue", "autoPminEdit", "autoPmaxEdit", "autoPdeltaEdit"})
        QCOMPARE(findIn<QDoubleSpinBox>(w, name)->decimals(), 2);
}

QTEST_MAIN(ManualTest)
#include "tst_manual.moc"
