// Presets through the window's menu, and the box's network settings dialog.
#include "boxfixture.h"
#include "finddialog.h"
#include "resourcesinit.h"
#include "testenv.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct WindowState
{
    double unit;
    QList<double> spins;
    QList<bool> checks;
    bool cameraFeedback;
    bool operator==(const WindowState& o) const
    {
        return unit == o.unit && spins == o.spins && checks == o.checks &&
               cameraFeedback == o.cameraFeedback;
    }
};

WindowState stateOf(TempSensor* w)
{
    WindowState s;
    s.unit = w->unitFactor();
    for (const char* name : {"setT", "setPValue", "autoPminEdit", "autoPmaxEdit", "autoPdeltaEdit",
                             "autoTminEdit", "autoTmaxEdit", "autoTdeltaEdit"})
        s.spins.append(findIn<QDoubleSpinBox>(w, name)->value());
    s.checks = {findIn<QGroupBox>(w, "useP")->isChecked(),
                findIn<QGroupBox>(w, "useT")->isChecked(),
                findIn<QCheckBox>(w, "rpBox")->isChecked()};
    s.cameraFeedback = findIn<QAction>(w, "actionSet_Camera_Feedback")->isChecked();
    return s;
}

void saveTo(BoxFixture& f, const QString& path)
{
    f.dialogs.pushAccept(path);
    f.window->savePresets();
}

void loadFrom(BoxFixture& f, const QString& path)
{
    f.dialogs.pushAccept(path);
    f.window->loadPresets();
}

} // namespace

class PresetsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void roundTripInEveryUnit_data();
    void roundTripInEveryUnit();
    void presetUnitIsAppliedFirst();
    void presetWithoutUnitKeepsTheUnit();
    void cancelledDialogsChangeNothing();
    void presetsLeaveTheLogLayoutAlone();
    void badPulseWidthIsNotTaken();
    void switchesThatAreNotTrueAreOff();
    void networkDialogFollowsTheConnectedBox();
};

void PresetsTest::initTestCase()
{
    testenv::isolateSettings();
    registerBarotermResources();
}

void PresetsTest::roundTripInEveryUnit_data()
{
    QTest::addColumn<QString>("unit");
    QTest::newRow("bar") << "Bar";
    QTest::newRow("kPa") << "Pascal";
    QTest::newRow("psi") << "psi";
}

void PresetsTest::roundTripInEveryUnit()
{
    QFETCH(QString, unit);
    QTemporaryDir dir;
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    f.dialogs.pushAccept(unit);
    w->setUnits();
    findIn<QDoubleSpinBox>(w, "setT")->setValue(31.4);
    findIn<QDoubleSpinBox>(w, "setPValue")
        ->setValue(findIn<QDoubleSpinBox>(w, "setPValue")->maximum() / 3);
    findIn<QDoubleSpinBox>(w, "autoPmaxEdit")
        ->setValue(findIn<QDoubleSpinBox>(w, "autoPmaxEdit")->maximum() / 2);
    findIn<QDoubleSpinBox>(w, "autoTminEdit")->setValue(-5.5);
    findIn<QGroupBox>(w, "useP")->setChecked(true);
    findIn<QAction>(w, "actionSet_Camera_Feedback")->setChecked(true);
    const WindowState saved = stateOf(w);
    const QString path = dir.filePath(QStringLiteral("a.ini"));
    saveTo(f, path);
    QCOMPARE(f.dialogs.last().title, QStringLiteral("Save Config File"));
    QCOMPARE(f.dialogs.last().args.value(0).toString(), QStringLiteral("*.ini"));

    // Change everything, then load.
    findIn<QDoubleSpinBox>(w, "setT")->setValue(0);
    findIn<QGroupBox>(w, "useP")->setChecked(false);
    findIn<QAction>(w, "actionSet_Camera_Feedback")->setChecked(false);
    findIn<QDoubleSpinBox>(w, "autoPmaxEdit")->setValue(0);
    loadFrom(f, path);
    QCOMPARE(f.dialogs.last().title, QStringLiteral("Load Config File "));
    QVERIFY(stateOf(w) == saved);

    // The file holds the groups and keys an operator may edit by hand.
    QSettings ini(path, QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("Main/UNITS")).toString(), unit);
    QVERIFY(ini.contains(QStringLiteral("Auto/AUTO_P_ON")));
    QVERIFY(ini.contains(QStringLiteral("Manual/MANUAL_T")));
}

void PresetsTest::presetUnitIsAppliedFirst()
{
    QTemporaryDir dir;
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    f.dialogs.pushAccept(QStringLiteral("psi"));
    w->setUnits();
    findIn<QDoubleSpinBox>(w, "autoPmaxEdit")->setValue(43.51);
    const QString path = dir.filePath(QStringLiteral("psi.ini"));
    saveTo(f, path);
    f.dialogs.pushAccept(QStringLiteral("Pascal"));
    w->setUnits();
    loadFrom(f, path);
    QCOMPARE(w->unitFactor(), 14.5038);
    QCOMPARE(findIn<QLabel>(w, "autoPmaxLabel2")->text(), QStringLiteral("psi"));
    QCOMPARE(findIn<QDoubleSpinBox>(w, "autoPmaxEdit")->value(), 43.51);
}

void PresetsTest::presetWithoutUnitKeepsTheUnit()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nounit.ini"));
    {
        QSettings ini(path, QSettings::IniFormat);
        ini.setValue(QStringLiteral("Main/UNITS"), QStringLiteral("bar")); // wrong case
        ini.setValue(QStringLiteral("Main/WAIT_CAMERA_FEEDBACK"), true);
        ini.setValue(QStringLiteral("Auto/AUTO_P_TO"), 300);
    }
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    f.dialogs.pushAccept(QStringLiteral("Pascal"));
    w->setUnits();
    loadFrom(f, path);
    QCOMPARE(w->unitFactor(), 100.0);
    QCOMPARE(findIn<QDoubleSpinBox>(w, "autoPmaxEdit")->value(), 300.0);
    QVERIFY(findIn<QAction>(w, "actionSet_Camera_Feedback")->isChecked());
}

void PresetsTest::cancelledDialogsChangeNothing()
{
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    findIn<QGroupBox>(w, "useT")->setChecked(true);
    findIn<QDoubleSpinBox>(w, "autoTmaxEdit")->setValue(40);
    const WindowState before = stateOf(w);
    f.dialogs.pushCancel();
    w->loadPresets();
    f.dialogs.pushCancel();
    w->savePresets();
    QVERIFY(stateOf(w) == before);
    // The last path is still offered next time.
    f.dialogs.pushCancel();
    w->loadPresets();
    QVERIFY(!f.dialogs.last().label.isEmpty());
}

void PresetsTest::presetsLeaveTheLogLayoutAlone()
{
    QTemporaryDir dir;
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    w->setControlsEnabled(true);
    ScriptedDialogs::Answer log;
    log.value = dir.filePath(QStringLiteral("log.csv"));
    log.selectedFilter = QStringLiteral("*.csv");
    f.dialogs.push(log);
    findIn<QGroupBox>(w, "groupBox_4")->setChecked(true);

    ScriptedDialogs::Answer preset;
    preset.value = dir.filePath(QStringLiteral("p.ini"));
    preset.selectedFilter = QStringLiteral("*.ini");
    f.dialogs.push(preset);
    w->savePresets();
    f.dialogs.push(preset);
    w->loadPresets();

    // The next log dialog still preselects the log's own filter.
    f.dialogs.pushCancel();
    findIn<QGroupBox>(w, "groupBox_4")->setChecked(false);
    findIn<QGroupBox>(w, "groupBox_4")->setChecked(true);
    QCOMPARE(f.dialogs.last().selectedFilter, QStringLiteral("*.csv"));
}

void PresetsTest::badPulseWidthIsNotTaken()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("width.ini"));
    {
        QSettings ini(path, QSettings::IniFormat);
        ini.setValue(QStringLiteral("Main/PULSE_WIDTH"), QStringLiteral("12345"));
        ini.setValue(QStringLiteral("Main/DELAY_BETWEEN_PULSES"), -5);
    }
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    loadFrom(f, path);
    QVERIFY(w->statusBar()->currentMessage().contains(QStringLiteral("12345")));
    // The width dialog still opens at the width in use.
    f.dialogs.pushCancel();
    w->setPulseWidth();
    QCOMPARE(f.dialogs.last().args.value(0).toInt(), 10);
    f.dialogs.pushCancel();
    f.dialogs.pushCancel();
    w->pulsePerPoint();
    QCOMPARE(f.dialogs.last().args.value(0).toInt(), 0); // clamped delay
}

// A switch written by hand as "no" or "yes" is off, as the reader reads
// anything but true, false, 1 and 0; the toolkit would have read both as on.
void PresetsTest::switchesThatAreNotTrueAreOff()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("switches.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Main]\nWAIT_CAMERA_FEEDBACK=no\n"
               "[Auto]\nAUTO_P_ON=no\nAUTO_T_ON=yes\nADD_REFP=on\n");
    file.close();
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    findIn<QGroupBox>(w, "useP")->setChecked(true);
    findIn<QGroupBox>(w, "useT")->setChecked(true);
    findIn<QCheckBox>(w, "rpBox")->setChecked(true);
    findIn<QAction>(w, "actionSet_Camera_Feedback")->setChecked(true);
    loadFrom(f, path);
    QVERIFY(!findIn<QGroupBox>(w, "useP")->isChecked());
    QVERIFY(!findIn<QGroupBox>(w, "useT")->isChecked());
    QVERIFY(!findIn<QCheckBox>(w, "rpBox")->isChecked());
    QVERIFY(!findIn<QAction>(w, "actionSet_Camera_Feedback")->isChecked());
}

void PresetsTest::networkDialogFollowsTheConnectedBox()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    w->setWebFormPort(f.box->port(boxsim::Http));
    QVERIFY(f.connectAndWaitForReading());
    w->changeIP();
    auto* dialog = w->findChild<FindDialog*>();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->ipEdit()->text(), QStringLiteral("192.168.1.251"));
    // First opening: read in the constructor and again by the menu action.
    QCOMPARE(f.box->httpRequests().count(QByteArray("/network.html")), 2);
    dialog->close();

    // Another box: the dialog now talks to it.
    boxsim::Options options = BoxFixture::fastOptions();
    options.host = testenv::uniqueLoopbackHost();
    boxsim::BoxSimulator second(options);
    QVERIFY(second.start());
    w->setWebFormPort(second.port(boxsim::Http));
    f.enterAddress(options.host);
    // The same port number on both boxes is not guaranteed, so the first
    // box's requests are counted before and after.
    const int firstBoxRequests = f.box->httpRequests().size();
    w->changeIP();
    QCOMPARE(dialog->boxAddress(), options.host);
    QCOMPARE(f.box->httpRequests().size(), firstBoxRequests);
}

QTEST_MAIN(PresetsTest)
#include "tst_presets.moc"
