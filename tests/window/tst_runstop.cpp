// Ending a run early: the stop button, closing the window, and logs that
// cannot be written.
#include "resourcesinit.h"
#include "runharness.h"
#include "testenv.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

using boxsim::Device;

namespace {

QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A connected window planning the single point `bar`, with 3 s before the pulse.
TempSensor* singlePointWithPulseWait(BoxFixture& f, double bar)
{
    if (!f.startBox())
        return nullptr;
    TempSensor* w = f.makeWindow();
    if (!f.connectAndWaitForReading())
        return nullptr;
    f.dialogs.pushAccept(3);
    findIn<QAction>(w, "actionWait_Before_Pulse")->trigger();
    Grid grid;
    grid.useP = true;
    grid.pFrom = bar;
    grid.pTo = bar;
    planGrid(f, grid);
    return w;
}

// The close question as the toolkit shows it: a message box whose own event
// loop runs readings, run steps and command completions until it is answered.
class RealCloseQuestion : public ScriptedDialogs
{
public:
    QMessageBox::StandardButton warning(QWidget* parent, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override
    {
        if (title != QLatin1String("Close Baroterm"))
            return ScriptedDialogs::warning(parent, title, text, buttons, defaultButton);
        ++questions;
        return ToolkitDialogs().warning(parent, title, text, buttons, defaultButton);
    }
    int questions = 0;
};

// Notes how far the close had come when the application was told to quit.
class QuitWatch : public QObject
{
public:
    explicit QuitWatch(const ScriptedDialogs& dialogs) : m_dialogs(dialogs)
    {
        qApp->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == qApp && event->type() == QEvent::Quit && exitsAtQuit < 0)
            exitsAtQuit = m_dialogs.exitCalls().size();
        return false;
    }
    int exitsAtQuit = -1;

private:
    const ScriptedDialogs& m_dialogs;
};

int setPointFrames(const BoxFixture& f, Device device)
{
    int n = 0;
    for (const boxsim::Frame& frame : f.box->frames(device))
        n += frame.bytes.startsWith("A") && frame.bytes.size() > 2 && frame.bytes != "A0\r";
    return n;
}

} // namespace

class RunStopTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void stopInTheMiddle();
    void closingDuringRun();
    void closingUnconnectedSendsNothing();
    void unwritableLogUnchecksTheBox();
    void cancelledLogDialogUnchecksTheBox();
    void logNameTakesTheLayoutsEnding();
    void unwritableLogHoldsThePulses();
    void stopDuringTemperatureStepMovesNothing();
    void closingWhileThePulseWaits();
    void closeAnsweredInARealQuestion_data();
    void closeAnsweredInARealQuestion();
};

void RunStopTest::initTestCase()
{
    testenv::isolateSettings();
    BoxFixture::defaultSessionSpeedUp = 4;
    registerBarotermResources();
}

void RunStopTest::stopInTheMiddle()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    Grid grid;
    grid.useP = true;
    grid.pFrom = 0;
    grid.pTo = 4;
    grid.pStep = 1;
    planGrid(f, grid);
    const QString logPath = dir.filePath(QStringLiteral("stop.csv"));
    chooseLog(f, logPath);
    auto* start = findIn<QToolButton>(w, "autoStartButton");
    start->setChecked(true);
    QVERIFY(f.waitUntil([&] { return f.box->frames(Device::Pulse).size() >= 2; }, 60000));
    start->setChecked(false);
    QCOMPARE(start->text(), QStringLiteral("Start"));
    const int records = logLines(logPath).size() - 1;
    QVERIFY(records >= 2 && records <= 3);
    // That nothing moves afterwards is the session's to show; the window
    // gives the run's controls back.
    QVERIFY(f.waitUntil([&] { return f.box->flowSetPoint(Device::O2) == 0.0; }, 10000));
    QVERIFY(!findIn<QGroupBox>(w, "groupBox_4")->isChecked());
}

void RunStopTest::closingDuringRun()
{
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    Grid grid;
    grid.useT = true;
    grid.tFrom = 30;
    grid.tTo = 40;
    grid.tStep = 5;
    planGrid(f, grid);
    findIn<QToolButton>(w, "autoStartButton")->setChecked(true);
    QTest::qWait(500);

    // No: the run goes on, but the values are saved already.
    f.dialogs.pushButton(QMessageBox::No);
    QCloseEvent refused;
    QCoreApplication::sendEvent(w, &refused);
    QVERIFY(!refused.isAccepted());
    QVERIFY(f.dialogs.exitCalls().isEmpty());
    QVERIFY(isRunning(f));
    const ScriptedDialogs::Question q = f.dialogs.last();
    QCOMPARE(q.title, QStringLiteral("Close Baroterm"));
    QCOMPARE(q.label, QStringLiteral("Are you sure you want to close program during calibration?"));
    QVERIFY(!q.hasParent);
    QSettings stored(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kelvra"),
                     QStringLiteral("Baroterm"));
    QCOMPARE(stored.value(QStringLiteral("LAST_T_MIN")).toDouble(), 30.0);

    // Yes: the start temperature goes back, the gas goes off, the process ends.
    f.window->turnGas(false);
    const int setPoints = temperatureSetPoints(f).size();
    f.dialogs.pushButton(QMessageBox::Yes);
    QCloseEvent accepted;
    QCoreApplication::sendEvent(w, &accepted);
    QVERIFY(accepted.isAccepted());
    QCOMPARE(f.dialogs.exitCalls(), QList<int>{0});
    QCOMPARE(temperatureSetPoints(f).mid(setPoints), QList<double>{30});
    QCOMPARE(f.box->flowSetPoint(Device::O2), 0.0);
    QCOMPARE(f.box->flowSetPoint(Device::N2), 0.0);
    // The pollers are gone: nothing reaches the box any more.
    const int polls = f.mark(Device::Temperature);
    QTest::qWait(1500);
    QCOMPARE(f.mark(Device::Temperature), polls);
}

void RunStopTest::closingUnconnectedSendsNothing()
{
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    findIn<QDoubleSpinBox>(w, "setT")->setValue(31.5);
    QCloseEvent event;
    QCoreApplication::sendEvent(w, &event);
    QVERIFY(event.isAccepted());
    QCOMPARE(f.dialogs.exitCalls(), QList<int>{0});
    QCOMPARE(f.dialogs.questions().size(), 0);
    QSettings stored(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kelvra"),
                     QStringLiteral("Baroterm"));
    QCOMPARE(stored.value(QStringLiteral("LAST_MANUAL_T")).toDouble(), 31.5);
    QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Shutting down, please wait..."));
}

void RunStopTest::unwritableLogUnchecksTheBox()
{
    QTemporaryDir dir;
    QFile regular(dir.filePath(QStringLiteral("plainfile")));
    QVERIFY(regular.open(QIODevice::WriteOnly));
    regular.close();
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    w->setControlsEnabled(true);
    chooseLog(f, regular.fileName() + QStringLiteral("/run.csv"));
    QVERIFY(!findIn<QGroupBox>(w, "groupBox_4")->isChecked());
    QCOMPARE(w->statusBar()->currentMessage(),
             QStringLiteral("Warning: Can't open log file for writing."));
    QVERIFY(w->statusBar()->styleSheet().contains(QStringLiteral("rgb(255,0,0)")));
}

void RunStopTest::cancelledLogDialogUnchecksTheBox()
{
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    w->setControlsEnabled(true);
    f.dialogs.pushCancel();
    findIn<QGroupBox>(w, "groupBox_4")->setChecked(true);
    QVERIFY(!findIn<QGroupBox>(w, "groupBox_4")->isChecked());
    const ScriptedDialogs::Question q = f.dialogs.last();
    QCOMPARE(q.kind, QStringLiteral("save"));
    QCOMPARE(q.title, QStringLiteral("Select pt-log file name and format"));
    QCOMPARE(q.args.value(0).toString(), QStringLiteral("*.csv;;*.cls"));
    QCOMPARE(w->statusBar()->currentMessage(),
             QStringLiteral("Warning: Can't open log file for writing."));
    QVERIFY(w->statusBar()->styleSheet().contains(QStringLiteral("rgb(255,0,0)")));
}

void RunStopTest::logNameTakesTheLayoutsEnding()
{
    QTemporaryDir dir;
    BoxFixture f;
    TempSensor* w = f.makeWindow();
    w->setControlsEnabled(true);
    auto* writeLog = findIn<QGroupBox>(w, "groupBox_4");
    const QString chosen = dir.filePath(QStringLiteral("run1.csv"));
    const QString adjusted = dir.filePath(QStringLiteral("run1.cls"));

    // The save dialog's answer, then the answer to the question that may follow.
    auto choose = [&](QMessageBox::StandardButton replace) {
        writeLog->setChecked(false);
        f.dialogs.clear();
        ScriptedDialogs::Answer save;
        save.value = chosen;
        save.selectedFilter = QStringLiteral("*.cls");
        f.dialogs.push(save);
        f.dialogs.pushButton(replace);
        writeLog->setChecked(true);
    };

    // A new name: no question, the CLS file is made beside no other.
    choose(QMessageBox::NoButton);
    QVERIFY(writeLog->isChecked());
    QCOMPARE(f.dialogs.count(QStringLiteral("question")), 0);
    QCOMPARE(findIn<QLineEdit>(w, "logNameEdit")->text(), QDir::toNativeSeparators(adjusted));
    QVERIFY(QFile::exists(adjusted) && !QFile::exists(chosen));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("run1_SLPM.csv"))));

    // The adjusted name exists: No keeps it and leaves "Write Log" off.
    QFile old(adjusted);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("keep me") == 7);
    old.close();
    choose(QMessageBox::No);
    QCOMPARE(f.dialogs.count(QStringLiteral("question")), 1);
    QCOMPARE(f.dialogs.last().label,
             QStringLiteral("%1 already exists.\nDo you want to replace it?")
                 .arg(QDir::toNativeSeparators(adjusted)));
    QVERIFY(!writeLog->isChecked());
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("keep me"));
    old.close();

    // Yes replaces it.
    choose(QMessageBox::Yes);
    QVERIFY(writeLog->isChecked());
    QVERIFY(old.open(QIODevice::ReadOnly));
    QVERIFY(old.readAll().startsWith("n251\r\n"));
}

void RunStopTest::unwritableLogHoldsThePulses()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    const QString logPath = dir.filePath(QStringLiteral("gone.csv"));
    chooseLog(f, logPath);
    QVERIFY(findIn<QGroupBox>(w, "groupBox_4")->isChecked());
    // The raw log's folder entry becomes a directory: appending to it fails.
    const QString raw = dir.filePath(QStringLiteral("gone_SLPM.csv"));
    const QByteArray rawHeader = fileContents(raw);
    QVERIFY(QFile::remove(raw));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("gone_SLPM.csv")));
    const QByteArray logBefore = fileContents(logPath);

    // The point is held for a while (the same warning at every reading), then
    // the file can be written again.
    int failures = 0;
    bool heldWhileFailing = false;
    connect(w->statusBar(), &QStatusBar::messageChanged, this, [&](const QString& text) {
        if (!text.startsWith(QLatin1String("Warning: Can't write log record @ T:")) ||
            !text.endsWith(QLatin1String("point repeated.")) || ++failures > 1)
            return;
        QTimer::singleShot(2000, this, [&] {
            heldWhileFailing =
                f.box->frames(Device::Pulse).isEmpty() && fileContents(logPath) == logBefore;
            QDir(dir.path()).rmdir(QStringLiteral("gone_SLPM.csv"));
            QFile file(raw);
            if (file.open(QIODevice::WriteOnly))
                file.write(rawHeader);
        });
    });
    // Points that single precision cannot hold (0.30000001 bar): the box is
    // sent what the pressure box shows.
    Grid grid;
    grid.useP = true;
    grid.pFrom = 0.3;
    grid.pTo = 0.6;
    grid.pStep = 0.3;
    planGrid(f, grid);
    QVERIFY(runToEnd(f, 120000));

    QVERIFY(failures >= 1);
    QVERIFY(heldWhileFailing);
    // One pulse sequence per record, and each record is the box at its pulse.
    const QStringList lines = logLines(logPath);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(f.box->frames(Device::Pulse).size(), 2);
    QVERIFY(lines[1].contains(QStringLiteral("calib_000001_p.tif")));
    const QString mismatch = checkRecordsAgainstTruth(f, lines);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QCOMPARE(logLines(raw).size(), 3);
}

void RunStopTest::stopDuringTemperatureStepMovesNothing()
{
    BoxFixture f;
    f.sessionSpeedUp = 1; // the step's own rest is what the stop lands in
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    Grid grid;
    grid.useT = true;
    grid.tFrom = 22; // where the simulated sample starts: the first point is reached at once
    grid.tTo = 32;
    grid.tStep = 5;
    planGrid(f, grid);
    auto* start = findIn<QToolButton>(w, "autoStartButton");

    // Stopped inside the step after the first point's pulse: the step waits
    // 2.2 s before it moves the set point.
    QElapsedTimer sincePulse;
    QTimer stopper;
    connect(&stopper, &QTimer::timeout, this, [&] {
        if (!sincePulse.isValid() && !f.box->frames(Device::Pulse).isEmpty())
            sincePulse.start();
        if (sincePulse.isValid() && sincePulse.elapsed() > 600 && start->isChecked())
            start->setChecked(false);
    });
    stopper.start(10);
    start->setChecked(true);
    QVERIFY(f.waitUntil([&] { return !start->isChecked(); }, 60000));
    QTest::qWait(2500);
    QCOMPARE(temperatureSetPoints(f), (QList<double>{22, 22}));
    QCOMPARE(f.box->frames(Device::Pulse).size(), 1);
}

void RunStopTest::closingWhileThePulseWaits()
{
    QTemporaryDir dir;
    BoxFixture f;
    TempSensor* w = singlePointWithPulseWait(f, 1);
    QVERIFY(w);
    const QString logPath = dir.filePath(QStringLiteral("closed.csv"));
    chooseLog(f, logPath);

    // Closed from inside the sequence's wait: the sequence ends first, its
    // record goes, then "From:" and the gas off, and only then the exit.
    QTimer closer;
    closer.setSingleShot(true);
    connect(&closer, &QTimer::timeout, this, [&] {
        if (logLines(logPath).size() != 2) {
            closer.start(10);
            return;
        }
        f.dialogs.pushButton(QMessageBox::Yes);
        QCloseEvent event;
        QCoreApplication::sendEvent(w, &event);
        // The window stays until the close's commands are done.
        QVERIFY(!event.isAccepted());
    });
    closer.start(10);
    const int setPoints = temperatureSetPoints(f).size();
    findIn<QToolButton>(w, "autoStartButton")->setChecked(true);
    QVERIFY(f.waitUntil([&] { return !f.dialogs.exitCalls().isEmpty(); }, 60000));
    QCOMPARE(f.dialogs.exitCalls(), QList<int>{0});
    QVERIFY(f.box->frames(Device::Pulse).isEmpty());
    QCOMPARE(logLines(logPath).size(), 1);
    QCOMPARE(temperatureSetPoints(f).mid(setPoints), QList<double>{22});
    QCOMPARE(f.box->flowSetPoint(Device::O2), 0.0);
    QCOMPARE(f.box->flowSetPoint(Device::N2), 0.0);
}

void RunStopTest::closeAnsweredInARealQuestion_data()
{
    // When the close comes: what the run is doing then, found by what the
    // box or the status bar shows, and whether a command is under way (the
    // close then comes from inside its wait).
    QTest::addColumn<QString>("during");
    QTest::addColumn<bool>("noFirst");
    QTest::newRow("between commands") << "idle" << false;
    QTest::newRow("pulse sequence") << "pulse" << false;
    QTest::newRow("wait after the pulse") << "wait" << false;
    QTest::newRow("gas command") << "gas" << true;
    QTest::newRow("temperature command") << "temperature" << false;
}

void RunStopTest::closeAnsweredInARealQuestion()
{
    QFETCH(QString, during);
    QFETCH(bool, noFirst);
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    RealCloseQuestion dialogs; // takes over from the fixture's script
    // As in the program: a shown window, and the application's own event loop,
    // which quits when its last window is hidden.
    w->show();
    dialogs.pushAccept(f.host);
    w->setIPAddress();
    QVERIFY(f.waitUntil(
        [&] { return findIn<QLineEdit>(w, "curT")->text() != QLatin1String("n/a"); }, 5000));
    dialogs.pushAccept(1);
    findIn<QAction>(w, "actionWait_Before_Pulse")->trigger();
    Grid grid;
    grid.useT = true;
    grid.tFrom = 22;
    grid.tTo = 23;
    grid.useP = true;
    grid.pFrom = 0;
    grid.pTo = 1;
    grid.pStep = 1;
    planGrid(f, grid);

    const int gasFramesBefore = setPointFrames(f, Device::N2);
    int setPointsAtClose = -1;
    QElapsedTimer sincePulse;
    auto closeNow = [&] {
        const bool nested = QThread::currentThread()->loopLevel() > 1;
        const int pulses = f.box->frames(Device::Pulse).size();
        if (pulses > 0 && !sincePulse.isValid())
            sincePulse.start();
        if (during == QLatin1String("idle"))
            return pulses > 0 && !nested;
        if (during == QLatin1String("pulse"))
            return w->statusBar()->currentMessage().startsWith(QLatin1String("Delay before pulse"));
        if (during == QLatin1String("wait"))
            return nested && sincePulse.isValid() && sincePulse.elapsed() > 400;
        if (during == QLatin1String("gas"))
            return nested && pulses > 0 && setPointFrames(f, Device::N2) > gasFramesBefore + 2;
        return nested && temperatureSetPoints(f).size() >= 2;
    };
    QTimer trigger;
    trigger.setInterval(5);
    connect(&trigger, &QTimer::timeout, this, [&] {
        if (!closeNow())
            return;
        trigger.stop();
        setPointsAtClose = temperatureSetPoints(f).size();
        w->close();
        if (noFirst && dialogs.questions == 1)
            w->close(); // the run went on; this time Yes
    });
    // Answers the question once its loop has run for a while: readings come
    // in and, unless the close came inside a command, run steps are carried out.
    QTimer answer;
    QElapsedTimer open;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            open.invalidate();
            return;
        }
        if (!open.isValid())
            open.start();
        if (open.elapsed() < 1000)
            return;
        box->button(noFirst && dialogs.questions == 1 ? QMessageBox::No : QMessageBox::Yes)
            ->click();
    });
    QTimer ended;
    connect(&ended, &QTimer::timeout, this, [&] {
        if (!dialogs.exitCalls().isEmpty())
            QCoreApplication::exit(7);
    });
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, this, [] { QCoreApplication::exit(9); });
    QTimer::singleShot(0, w, [&] {
        findIn<QToolButton>(w, "autoStartButton")->setChecked(true);
        trigger.start();
        answer.start();
        ended.start(20);
        limit.start(60000);
    });
    // The application may quit once the window is gone, but only after the
    // close was done: a quit before would end every nested event loop.
    QuitWatch quit(dialogs);
    const int status = QCoreApplication::exec();
    QVERIFY2(status == 7 || (status == 0 && quit.exitsAtQuit == 1), "quit before the exit");
    QCOMPARE(dialogs.exitCalls(), QList<int>{0});
    QCOMPARE(dialogs.questions, noFirst ? 2 : 1);
    QVERIFY(setPointsAtClose >= 0);
    QCOMPARE(temperatureSetPoints(f).mid(setPointsAtClose).value(0, -1.0), 22.0);
    QCOMPARE(f.box->flowSetPoint(Device::O2), 0.0);
    QCOMPARE(f.box->flowSetPoint(Device::N2), 0.0);
}

QTEST_MAIN(RunStopTest)
#include "tst_runstop.moc"
