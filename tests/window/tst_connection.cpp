// Connecting to the box: the address dialog, the pollers it starts, a second
// address, and a box that cannot be reached.
#include "boxfixture.h"
#include "resourcesinit.h"
#include "testenv.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QSettings>
#include <QtTest>

using boxsim::Device;

namespace {

QString storedAddress()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kelvra"),
                     QStringLiteral("Baroterm"))
        .value(QStringLiteral("CALBOX_IP"))
        .toString();
}

} // namespace

class ConnectionTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void refusedAddresses_data();
    void refusedAddresses();
    void cancelledDialogChangesNothing();
    void firstAddressStartsPollersAndSwitchesGasOff();
    void addressIsKeptByACloseDuringTheGasOffWaits();
    void leadingZerosConnectToTheDecimalAddress();
    void secondAddressMovesThePollers();
    void lostBoxIsReportedOnceAndGasIsLeftAlone();
};

void ConnectionTest::initTestCase()
{
    testenv::isolateSettings();
    registerBarotermResources();
}

void ConnectionTest::refusedAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("octet above 255") << "256.1.1.1";
    QTest::newRow("three octets") << "1.2.3";
    QTest::newRow("five octets") << "1.2.3.4.5";
    QTest::newRow("leading blank") << " 1.2.3.4";
    QTest::newRow("letters") << "a.b.c.d";
    QTest::newRow("separator") << "1.2.3.4&x";
}

void ConnectionTest::refusedAddresses()
{
    QFETCH(QString, text);
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    w->setControlsEnabled(true);
    f.enterAddress(text);
    QCOMPARE(f.dialogs.count(QStringLiteral("warning")), 1);
    const ScriptedDialogs::Question q = f.dialogs.last();
    QVERIFY(!q.hasParent);
    QCOMPARE(q.title, QStringLiteral("Warning"));
    QCOMPARE(q.label, QStringLiteral("The IP address <i>\"%1\"</i> is wrong!").arg(text));
    QVERIFY(!findIn<QGroupBox>(w, "groupBox_2")->isEnabled());
    QVERIFY(storedAddress().isEmpty());
    QVERIFY(!findIn<QAction>(w, "actioninitTempCtrl")->isEnabled());
}

void ConnectionTest::cancelledDialogChangesNothing()
{
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    f.dialogs.pushCancel();
    w->setIPAddress();
    QCOMPARE(f.dialogs.questions().size(), 1);
    const ScriptedDialogs::Question q = f.dialogs.last();
    QCOMPARE(q.kind, QStringLiteral("text"));
    QCOMPARE(q.title, QStringLiteral("IP Settings "));
    QCOMPARE(q.label, QStringLiteral("CalibrationBox IP Address:"));
    QCOMPARE(q.args.value(0).toString(), QStringLiteral("192.168.1.251"));
    QVERIFY(storedAddress().isEmpty());
    QVERIFY(findIn<QAction>(w, "actionSet_IP_address")->isEnabled());
    QVERIFY(!findIn<QGroupBox>(w, "groupBox")->isEnabled());
}

void ConnectionTest::firstAddressStartsPollersAndSwitchesGasOff()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    QCOMPARE(storedAddress(), f.host);
    QVERIFY(findIn<QGroupBox>(w, "groupBox_2")->isEnabled());
    QVERIFY(findIn<QAction>(w, "actioninitTempCtrl")->isEnabled());

    // Gas off: zero set points to both controllers.
    QVERIFY(f.framesSince(Device::N2, 0).contains("A0\r"));
    QVERIFY(f.framesSince(Device::O2, 0).contains("A0\r"));
    QCOMPARE(findIn<QPushButton>(w, "gasButton")->text(), QStringLiteral("Gas OFF"));
    QVERIFY(findIn<QPushButton>(w, "gasButton")->isChecked());

    // All three pollers are at work.
    QVERIFY(f.box->waitFor(
        [&] {
            return f.framesSince(Device::N2, 0).contains("A\r") &&
                   f.framesSince(Device::O2, 0).contains("A\r");
        },
        3000));
    QVERIFY(f.framesSince(Device::Temperature, 0).contains(hex("01 04 03 E8 00 04 71 B9")));

    // The next time the dialog offers the stored address.
    f.dialogs.pushCancel();
    w->setIPAddress();
    QCOMPARE(f.dialogs.last().args.value(0).toString(), f.host);
}

void ConnectionTest::addressIsKeptByACloseDuringTheGasOffWaits()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    // The process ends with the close: what the store holds then is all.
    QString storedAtExit;
    QTimer::singleShot(20, w, [&] {
        QCloseEvent close;
        QCoreApplication::sendEvent(w, &close);
        storedAtExit = storedAddress();
    });
    f.enterAddress(f.host);
    QCOMPARE(f.dialogs.exitCalls(), QList<int>{0});
    QCOMPARE(storedAtExit, f.host);
}

void ConnectionTest::leadingZerosConnectToTheDecimalAddress()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QStringList octets = f.host.split(QLatin1Char('.'));
    for (QString& octet : octets)
        octet = octet.rightJustified(3, QLatin1Char('0'));
    f.enterAddress(octets.join(QLatin1Char('.')));
    auto* curT = findIn<QLineEdit>(w, "curT");
    QVERIFY(f.waitUntil([curT] { return curT->text() != QLatin1String("n/a"); }, 5000));
    QCOMPARE(storedAddress(), f.host);
    QCOMPARE(w->currentBoxAddress(), f.host);
}

void ConnectionTest::secondAddressMovesThePollers()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());

    const QString secondHost = testenv::uniqueLoopbackHost();
    boxsim::Options options = BoxFixture::fastOptions();
    options.host = secondHost;
    boxsim::BoxSimulator second(options);
    QVERIFY(second.start());

    const int firstPolls = f.mark(Device::Temperature);
    f.enterAddress(secondHost);
    QCOMPARE(storedAddress(), secondHost);
    // The gas is switched off at the new box too.
    QVERIFY(second.waitFor(
        [&] {
            for (const boxsim::Frame& fr : second.frames(Device::O2))
                if (fr.bytes == "A0\r")
                    return true;
            return false;
        },
        3000));
    QVERIFY(second.waitForFrames(Device::Temperature, 2, 4000));
    QVERIFY(second.waitForFrames(Device::N2, 1, 4000));
    // Nothing goes to the old box any more.
    const int before = f.mark(Device::Temperature);
    QTest::qWait(1600);
    QCOMPARE(f.mark(Device::Temperature), before);
    QVERIFY(before >= firstPolls);
    QCOMPARE(f.box->openConnections(Device::Temperature), 0);
    QCOMPARE(f.box->openConnections(Device::N2), 0);
    Q_UNUSED(w);
}

void ConnectionTest::lostBoxIsReportedOnceAndGasIsLeftAlone()
{
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    w->setControlsEnabled(true);
    // Nothing listens on this address.
    f.host = testenv::uniqueLoopbackHost();
    f.enterAddress(f.host);
    QVERIFY(f.waitUntil([&] { return f.dialogs.count(QStringLiteral("critical")) == 1; }, 5000));
    const ScriptedDialogs::Question q = f.dialogs.questions(QStringLiteral("critical")).first();
    QVERIFY(!q.hasParent);
    QCOMPARE(q.title, QStringLiteral("Connection problem"));
    QCOMPARE(q.label, QStringLiteral("Can't connect to calibration box: <b>%1</b>").arg(f.host));
    QVERIFY(!findIn<QGroupBox>(w, "groupBox")->isEnabled());
    QTest::qWait(2500);
    // Tried again, reported once.
    QCOMPARE(f.dialogs.count(QStringLiteral("critical")), 1);

    // The box comes up at that address: the poller finds it by itself and
    // the gas is left alone.
    boxsim::Options options = BoxFixture::fastOptions();
    options.host = f.host;
    f.box = std::make_unique<boxsim::BoxSimulator>(options);
    QVERIFY(f.box->start());
    auto* curT = findIn<QLineEdit>(w, "curT");
    QVERIFY(f.waitUntil([curT] { return curT->text() != QLatin1String("n/a"); }, 5000));
    QVERIFY(!f.framesSince(Device::N2, 0).contains("A0\r"));
    QVERIFY(!f.framesSince(Device::O2, 0).contains("A0\r"));
    QVERIFY(findIn<QGroupBox>(w, "groupBox")->isEnabled());
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"
