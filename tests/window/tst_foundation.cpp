// The window as it comes up: restored settings, disabled controls, the form's
// wiring, the event-processing wait and the small menu actions.
#include "clickablelabel.h"
#include "inputranges.h"
#include "instrumenttable.h"
#include "resourcesinit.h"
#include "scripteddialogs.h"
#include "tempsensor.h"
#include "testenv.h"

#include <QAction>
#include <QDesktopServices>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWindow>
#include <QtTest>

#include <ctime>
#include <memory>

namespace {

QSettings userSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kelvra"),
                     QStringLiteral("Baroterm"));
}

template <typename T> T* child(QWidget* window, const char* name)
{
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qFatal("no child %s", name);
    return w;
}

double spinValue(QWidget* window, const char* name)
{
    return child<QDoubleSpinBox>(window, name)->value();
}

QString labelText(QWidget* window, const char* name)
{
    return child<QLabel>(window, name)->text();
}

} // namespace

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class FoundationTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void firstStartShowsDefaults();
    void pressureBoxesFollowTheValueRules();
    void storedValuesAreRestoredAndClamped();
    void unreadableUnitFallsBackToBar();
    void instrumentControlsStartDisabled();
    void setControlsEnabledKeepsRunBoxesDuringRun();
    void windowFormAndTitle();
    void spinBoxesRecomputeStepPreviews();

    void waitProcessesEventsWithoutSpinning();
    void waitNestsAndHonoursOuterDeadline();

    void aboutBoxTexts();
    void webLinkOpensOncePerPress();
    void helpWithoutFileDoesNothing();
    void alwaysOnTopKeepsGeometry();
    void instrumentTableAndRunReport();

private:
    std::unique_ptr<ScriptedDialogs> dialogs;
};

void FoundationTest::initTestCase()
{
    testenv::isolateSettings();
    registerBarotermResources();
}

void FoundationTest::init()
{
    userSettings().clear();
    dialogs = std::make_unique<ScriptedDialogs>();
}

void FoundationTest::firstStartShowsDefaults()
{
    TempSensor w;
    QCOMPARE(spinValue(&w, "setT"), 22.0);
    QCOMPARE(spinValue(&w, "autoTminEdit"), 22.0);
    QCOMPARE(spinValue(&w, "autoTmaxEdit"), 24.0);
    QCOMPARE(spinValue(&w, "autoTdeltaEdit"), 1.0);
    QCOMPARE(labelText(&w, "autoTsteps"), QStringLiteral("Steps: 3"));
    QCOMPARE(spinValue(&w, "autoPminEdit"), 0.0);
    QCOMPARE(spinValue(&w, "autoPmaxEdit"), 4.0);
    QCOMPARE(spinValue(&w, "autoPdeltaEdit"), 0.1);
    QCOMPARE(labelText(&w, "autoPsteps"), QStringLiteral("Steps: 41"));
    QCOMPARE(w.unitFactor(), 1.0);
    for (const char* name :
         {"label_7", "label_15", "autoPminLabel2", "autoPmaxLabel2", "autoPdeltaLabel2"})
        QCOMPARE(labelText(&w, name), QStringLiteral("Bar"));
    QCOMPARE(child<QDoubleSpinBox>(&w, "setPValue")->decimals(), 2);
    QCOMPARE(child<QDoubleSpinBox>(&w, "setPValue")->maximum(), 4.5);
}

// The pressure boxes take their limits from the value rules the session and
// baroterm-run use, in every unit.
void FoundationTest::pressureBoxesFollowTheValueRules()
{
    TempSensor w;
    for (const QString& unit :
         {QStringLiteral("Pascal"), QStringLiteral("psi"), QStringLiteral("Bar")}) {
        dialogs->pushAccept(unit);
        w.setUnits();
        const inputs::PressureBoxes boxes = inputs::pressureBoxes(w.unitFactor());
        for (const char* name : {"setPValue", "autoPminEdit", "autoPmaxEdit", "autoPdeltaEdit"}) {
            const auto* box = child<QDoubleSpinBox>(&w, name);
            const inputs::SpinRange range =
                QByteArray(name) == "autoPdeltaEdit" ? boxes.delta : boxes.range;
            QCOMPARE(box->decimals(), range.decimals);
            QCOMPARE(box->minimum(), inputs::spinBoxValue(range.minimum, range));
            QCOMPARE(box->maximum(), inputs::spinBoxValue(range.maximum, range));
            QCOMPARE(box->singleStep(), boxes.step);
        }
    }
}

void FoundationTest::storedValuesAreRestoredAndClamped()
{
    {
        QSettings s = userSettings();
        s.setValue(QStringLiteral("LAST_UNIT"), 100.0);
        s.setValue(QStringLiteral("LAST_P_MAX"), 600.0);
        s.setValue(QStringLiteral("LAST_P_MIN"), 50.0);
        s.setValue(QStringLiteral("LAST_P_DELTA"), 25.0);
        s.setValue(QStringLiteral("LAST_MANUAL_T"), 35.5);
        s.setValue(QStringLiteral("LAST_T_MIN"), QStringLiteral("not a number"));
        s.setValue(QStringLiteral("LAST_T_MAX"), -40.0);
        s.setValue(QStringLiteral("LAST_PRESET_PATH"), QStringLiteral("/tmp/presets/a.ini"));
    }
    TempSensor w;
    QCOMPARE(w.unitFactor(), 100.0);
    QCOMPARE(labelText(&w, "label_7"), QStringLiteral("kPa"));
    QCOMPARE(child<QDoubleSpinBox>(&w, "autoPmaxEdit")->decimals(), 0);
    QCOMPARE(spinValue(&w, "autoPmaxEdit"), 450.0); // clamped to the unit's maximum
    QCOMPARE(spinValue(&w, "autoPminEdit"), 50.0);
    QCOMPARE(spinValue(&w, "autoPdeltaEdit"), 25.0);
    QCOMPARE(spinValue(&w, "setT"), 35.5);
    QCOMPARE(spinValue(&w, "autoTminEdit"), 0.0);   // unreadable reads as 0
    QCOMPARE(spinValue(&w, "autoTmaxEdit"), -25.0); // clamped to the minimum
    // 50 to 450 kPa in steps of 25 kPa: 17 points, in bar as in any unit.
    QCOMPARE(labelText(&w, "autoPsteps"), QStringLiteral("Steps: 17"));
    QCOMPARE(labelText(&w, "autoTsteps"), QStringLiteral("Steps: 26"));
}

void FoundationTest::unreadableUnitFallsBackToBar()
{
    userSettings().setValue(QStringLiteral("LAST_UNIT"), QStringLiteral("garbage"));
    TempSensor w;
    QCOMPARE(w.unitFactor(), 1.0);
    QCOMPARE(labelText(&w, "label_15"), QStringLiteral("Bar"));
    QCOMPARE(labelText(&w, "autoPsteps"), QStringLiteral("Steps: 41"));
}

void FoundationTest::instrumentControlsStartDisabled()
{
    TempSensor w;
    for (const char* box : {"groupBox", "groupBox_2", "groupBox_3", "groupBox_4", "groupBox_5"})
        QVERIFY2(!child<QGroupBox>(&w, box)->isEnabled(), box);
    for (const char* name :
         {"actioninitTempCtrl", "actionSet_Pulse_width", "actionWait_Before_Pulse",
          "actionSet_Camera_Feedback", "actionManual_Pulse", "actionExtra_Wait_for_0_pressure",
          "actionPulses_per_Point", "actionSave", "actionLoad"}) {
        QAction* action = w.findChild<QAction*>(QString::fromLatin1(name));
        QVERIFY2(action, name);
        QVERIFY2(!action->isEnabled(), name);
    }
    // The address can always be entered.
    QVERIFY(w.findChild<QAction*>(QStringLiteral("actionSet_IP_address"))->isEnabled());
}

void FoundationTest::setControlsEnabledKeepsRunBoxesDuringRun()
{
    TempSensor w;
    w.setControlsEnabled(true);
    QVERIFY(child<QGroupBox>(&w, "groupBox_4")->isEnabled());
    QVERIFY(w.findChild<QAction*>(QStringLiteral("actionSave"))->isEnabled());

    auto* start = child<QToolButton>(&w, "autoStartButton");
    QSignalBlocker blockStart(start); // only the checked state matters here
    start->setChecked(true);
    child<QGroupBox>(&w, "groupBox_4")->setEnabled(false);
    w.setControlsEnabled(true);
    QVERIFY(!child<QGroupBox>(&w, "groupBox_4")->isEnabled());
    w.setControlsEnabled(false);
    QVERIFY(!child<QGroupBox>(&w, "groupBox_2")->isEnabled());
}

void FoundationTest::windowFormAndTitle()
{
    TempSensor w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Kelvra Baroterm v.2.4.8f "));
    QCOMPARE(w.minimumSize(), QSize(584, 300));
    QCOMPARE(w.maximumSize(), QSize(584, 300));
    QCOMPARE(w.objectName(), QStringLiteral("BarotermClass"));
    QCOMPARE(child<QGroupBox>(&w, "groupBox_4")->title(), QStringLiteral("Write Log"));

    const QList<QAction*> menus = w.menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus[0]->text(), QStringLiteral("Settings"));
    QCOMPARE(menus[1]->text(), QStringLiteral("Presets"));
    QCOMPARE(menus[2]->text(), QStringLiteral("Help"));
    auto* connectAction = w.findChild<QAction*>(QStringLiteral("actionSet_IP_address"));
    QCOMPARE(connectAction->shortcut(), QKeySequence(QStringLiteral("Ctrl+C")));
    QVERIFY(menus[0]->menu()->actions().contains(connectAction));

    // The link label sits on the right of the status bar.
    auto* link = w.findChild<ClickableLabel*>();
    QVERIFY(link);
    QVERIFY(link->toolTip().startsWith(QStringLiteral("Click to open ")));
    QCOMPARE(link->font().pointSize(), 7);
    QVERIFY(!child<QProgressBar>(&w, "progressBarT")->isTextVisible());
    QVERIFY(child<QProgressBar>(&w, "progressBarP")
                ->styleSheet()
                .startsWith(QStringLiteral(" QProgressBar::chunk:horizontal")));
    QVERIFY(child<QLabel>(&w, "label_3")->movie());
}

void FoundationTest::spinBoxesRecomputeStepPreviews()
{
    TempSensor w;
    child<QDoubleSpinBox>(&w, "autoTdeltaEdit")->setValue(0.3);
    QCOMPARE(labelText(&w, "autoTsteps"), QStringLiteral("Steps: 7"));
    child<QDoubleSpinBox>(&w, "autoTminEdit")->setValue(25.0); // now downwards, 25 to 24
    QCOMPARE(labelText(&w, "autoTsteps"), QStringLiteral("Steps: 4"));
    child<QDoubleSpinBox>(&w, "autoPmaxEdit")->setValue(2.0);
    QCOMPARE(labelText(&w, "autoPsteps"), QStringLiteral("Steps: 21"));
}

void FoundationTest::waitProcessesEventsWithoutSpinning()
{
    TempSensor w;
    bool timerFired = false;
    bool queuedRan = false;
    QTimer::singleShot(50, [&] { timerFired = true; });
    QMetaObject::invokeMethod(
        this, [&] { queuedRan = true; }, Qt::QueuedConnection);

    QElapsedTimer wall;
    wall.start();
    const std::clock_t cpuBefore = std::clock();
    w.waitProcessingEvents(400);
    const double cpuMs = double(std::clock() - cpuBefore) * 1000.0 / CLOCKS_PER_SEC;
    const qint64 wallMs = wall.elapsed();

    QVERIFY(timerFired);
    QVERIFY(queuedRan);
    QVERIFY2(wallMs >= 400, qPrintable(QString::number(wallMs)));
    QVERIFY2(wallMs < 1000 * testenv::timingSlack(), qPrintable(QString::number(wallMs)));
    // A spinning wait would burn the whole 400 ms of CPU.
    QVERIFY2(cpuMs < 150 * testenv::timingSlack(), qPrintable(QString::number(cpuMs)));
}

void FoundationTest::waitNestsAndHonoursOuterDeadline()
{
    TempSensor w;
    QElapsedTimer wall;
    wall.start();
    qint64 innerDone = -1;
    QTimer::singleShot(20, [&] {
        w.waitProcessingEvents(300); // runs inside the outer wait and outlasts it
        innerDone = wall.elapsed();
    });
    w.waitProcessingEvents(100);
    const qint64 outerDone = wall.elapsed();
    QVERIFY(innerDone >= 320);
    QVERIFY(outerDone >= innerDone);
    QVERIFY(outerDone < 1000 * testenv::timingSlack());
}

void FoundationTest::aboutBoxTexts()
{
    TempSensor w;
    w.about();
    QCOMPARE(dialogs->count(QStringLiteral("about")), 1);
    const ScriptedDialogs::Question q = dialogs->last();
    QVERIFY(q.hasParent);
    QCOMPARE(q.title, QStringLiteral("About - Kelvra Baroterm 2.4.8f "));
    QVERIFY(q.label.startsWith(
        QStringLiteral("<b>Kelvra Baroterm Interface </b><br>Version 2.4.8f (")));
    QVERIFY(q.label.endsWith(QStringLiteral("</a><br><br>")));
}

void FoundationTest::webLinkOpensOncePerPress()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
    TempSensor w;
    auto* link = w.findChild<ClickableLabel*>();
    QTest::mousePress(link, Qt::LeftButton);
    QTest::mousePress(link, Qt::RightButton);
    QTest::mousePress(link, Qt::MiddleButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(recorder.urls.size(), 3);
    QCOMPARE(recorder.urls[0].host(), QStringLiteral("www.example.com"));
}

void FoundationTest::helpWithoutFileDoesNothing()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    TempSensor w;
    QAction* help = w.findChild<QAction*>(QStringLiteral("actionHelp_2"));
    help->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QVERIFY(recorder.urls.isEmpty());
    QCOMPARE(dialogs->questions().size(), 0);
}

void FoundationTest::alwaysOnTopKeepsGeometry()
{
    TempSensor w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect before = w.geometry();
    QAction* onTop = w.findChild<QAction*>(QStringLiteral("actionAlways_on_top"));
    onTop->setChecked(true);
    QVERIFY(w.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(w.isVisible());
    onTop->setChecked(false);
    QVERIFY(!w.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(w.isVisible());
    QCOMPARE(w.geometry(), before);
}

// The table the uncertainties come from is checked when it is chosen; the
// last report opens through the dialog seam.
void FoundationTest::instrumentTableAndRunReport()
{
    QTemporaryDir dir;
    const auto write = [&dir](const QString& name, const QByteArray& text) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(name));
        return file.fileName();
    };
    QByteArray table = records::typicalInstrumentTableText();
    const QString good = write(QStringLiteral("good.ini"), table);
    const QString bad = write(QStringLiteral("bad.ini"),
                              table.replace("resolution = 0.005", "resolution = -0.005"));
    TempSensor w;
    const auto trigger = [&w](const char* name) {
        w.findChild<QAction*>(QString::fromLatin1(name))->trigger();
        return w.statusBar()->currentMessage();
    };
    QVERIFY(trigger("actionRun_Report").contains(QStringLiteral("no run report")));

    dialogs->pushAccept(bad);
    QVERIFY2(
        trigger("actionInstrument_Table").contains(QStringLiteral("[O2] resolution is negative")),
        qPrintable(w.statusBar()->currentMessage()));
    QVERIFY(!userSettings().contains(QStringLiteral("INSTRUMENT_TABLE")));
    dialogs->pushAccept(good);
    trigger("actionInstrument_Table");
    QCOMPARE(userSettings().value(QStringLiteral("INSTRUMENT_TABLE")).toString(), good);

    // A run's end names its report, which the menu then opens.
    const QString report = write(QStringLiteral("run.csv.report.html"), "<html></html>");
    emit w.findChild<BoxSession*>()->reportWritten(report);
    QVERIFY(w.statusBar()->currentMessage().contains(QDir::toNativeSeparators(report)));
    trigger("actionRun_Report");
    QCOMPARE(dialogs->count(QStringLiteral("url")), 1);
    QCOMPARE(QUrl(dialogs->last().label).toLocalFile(), report);
}

QTEST_MAIN(FoundationTest)
#include "tst_foundation.moc"
