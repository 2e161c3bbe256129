// A log file picked in the window with the journal of an interrupted run
// beside it: the offer to resume it taken, declined, or refused.
#include "journaledlog.h"
#include "loglock.h"
#include "resourcesinit.h"
#include "runharness.h"
#include "testenv.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QGroupBox>
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

// A pressure grid 1, 2, 3 bar of which record 1 went into the logs and its
// pulse out, when the window (or the runner) stopped without a word. With
// `underWay` >= 0, record 2 followed with that many of its pulses out.
bool interruptedRun(const QString& log, const QString& box, int pulsesPerPoint = 1,
                    int underWay = -1)
{
    records::JournalContents contents;
    records::JournalPlan& plan = contents.plan;
    plan.pressure = {true, 1, 3, 1, 3};
    plan.temperature = {false, 22, 22, 1, 0};
    plan.pulsesPerPoint = pulsesPerPoint;
    contents.boxAddress = box;
    contents.logs = {log, records::rawLogNameFor(log)};
    const records::LogFormat format{records::LogLayout::Csv, true, 1.0};
    records::JournaledLog journaled;
    journaled.setFiles(contents.logs);
    records::RecordValues values;
    values.temperature = 22.0f;
    values.pressureBar = 1.0f;
    values.n2Text = QStringLiteral("7.878");
    values.o2Text = QStringLiteral("2.122");
    if (journaled.log().create(format) != records::LogStatus::Ok || !journaled.begin(contents) ||
        journaled.append(format, values) != records::LogStatus::Ok || !journaled.announced())
        return false;
    for (int p = 0; p < pulsesPerPoint; ++p)
        journaled.pulseNoted();
    if (!journaled.done())
        return false;
    if (underWay < 0)
        return true;
    values.pressureBar = 2.0f;
    if (journaled.append(format, values) != records::LogStatus::Ok || !journaled.announced())
        return false;
    for (int p = 0; p < underWay; ++p)
        journaled.pulseNoted();
    journaled.keep();
    return true;
}

// Checks "Write Log", picks `path` and answers the offer with `answer`.
void pickLog(BoxFixture& f, const QString& path, QMessageBox::StandardButton answer)
{
    ScriptedDialogs::Answer file;
    file.value = path;
    file.selectedFilter = QStringLiteral("*.csv");
    f.dialogs.push(file);
    f.dialogs.pushButton(answer);
    findIn<QGroupBox>(f.window.get(), "groupBox_4")->setChecked(true);
}

} // namespace

class RunResumeTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void offerAccepted();
    void offerDeclined();
    void resumedBetweenPulses();
    void refusedLeavesTheFiles_data();
    void refusedLeavesTheFiles();
    void logOfAnotherRun();
    void stopRemovesCloseKeeps();
};

void RunResumeTest::initTestCase()
{
    testenv::isolateSettings();
    BoxFixture::defaultSessionSpeedUp = 4;
    registerBarotermResources();
}

void RunResumeTest::offerAccepted()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    // The window plans something else: the journal's plan wins.
    Grid grid;
    grid.useT = true;
    planGrid(f, grid);
    const QString log = dir.filePath(QStringLiteral("resume.csv"));
    QVERIFY(interruptedRun(log, f.host));

    pickLog(f, log, QMessageBox::Yes);
    const ScriptedDialogs::Question asked = f.dialogs.last();
    QCOMPARE(asked.title, QStringLiteral("Resume run"));
    QCOMPARE(asked.label, QStringLiteral("Resume the interrupted run at point 2 of 3?"));
    QVERIFY(isRunning(f));
    QVERIFY(!findIn<QGroupBox>(w, "useT")->isChecked());
    QVERIFY(findIn<QGroupBox>(w, "useP")->isChecked());
    QCOMPARE(findIn<QDoubleSpinBox>(w, "autoPminEdit")->value(), 1.0);
    QCOMPARE(findIn<QDoubleSpinBox>(w, "autoPmaxEdit")->value(), 3.0);

    auto* start = findIn<QToolButton>(w, "autoStartButton");
    QVERIFY(f.waitUntil([start] { return !start->isChecked(); }, 120000));
    // Records 2 and 3 follow the first, with a pulse each; no header again.
    const QStringList lines = logLines(log);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.filter(QStringLiteral("P[Bar]")).size(), 1);
    for (int k = 1; k <= 3; ++k)
        QVERIFY2(lines[k].contains(QStringLiteral("calib_00000%1_p.tif").arg(k)),
                 qPrintable(lines[k]));
    QVERIFY(qAbs(lines[3].section(',', 0, 0).toDouble() - 3.0) < 0.02);
    QCOMPARE(f.box->frames(Device::Pulse).size() > 0, true);
    QCOMPARE(f.box->pulseTruth().size(), 2);
    QCOMPARE(logLines(records::rawLogNameFor(log)).size(), 4);
    QVERIFY(!QFile::exists(records::journalPathFor(log)));
}

void RunResumeTest::offerDeclined()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    const QString log = dir.filePath(QStringLiteral("declined.csv"));
    QVERIFY(interruptedRun(log, f.host));

    pickLog(f, log, QMessageBox::No);
    QCOMPARE(f.dialogs.last().label, QStringLiteral("Resume the interrupted run at point 2 of 3?"));
    // As any file picked today: made anew with its header, no run started.
    QVERIFY(!QFile::exists(records::journalPathFor(log)));
    QCOMPARE(logLines(log), QStringList{"P[Bar],T[C],Isens,Lsens,Iref,Lref"});
    QVERIFY(findIn<QGroupBox>(w, "groupBox_4")->isChecked());
    QVERIFY(!isRunning(f));
}

// Killed between two of record 2's three pulses: the record is taken back,
// its images are named and the run goes on from its point.
void RunResumeTest::resumedBetweenPulses()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    const QString log = dir.filePath(QStringLiteral("between.csv"));
    QVERIFY(interruptedRun(log, f.host, 3, 1));

    pickLog(f, log, QMessageBox::Yes);
    QCOMPARE(f.dialogs.count(QStringLiteral("question")), 1);
    const ScriptedDialogs::Question images = f.dialogs.last();
    QCOMPARE(images.kind, QStringLiteral("warning"));
    QVERIFY2(images.label.contains(QStringLiteral("calib_000002_p.tif, calib_000002_r.tif")),
             qPrintable(images.label));
    auto* start = findIn<QToolButton>(w, "autoStartButton");
    QVERIFY(f.waitUntil([start] { return !start->isChecked(); }, 120000));
    const QStringList lines = logLines(log);
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[2].contains(QStringLiteral("calib_000002_p.tif")), qPrintable(lines[2]));
    QCOMPARE(f.box->pulseTruth().size(), 6); // three for each of points 2 and 3
    QVERIFY(!QFile::exists(records::journalPathFor(log)));
}

void RunResumeTest::refusedLeavesTheFiles_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("named");
    QTest::newRow("a done record cut from the log") << "cut"
                                                    << "record 1 is missing";
    QTest::newRow("no pulses in the journal's plan") << "no pulses"
                                                     << "pulsesPerPoint = 0";
}

void RunResumeTest::refusedLeavesTheFiles()
{
    QFETCH(QString, change);
    QFETCH(QString, named);
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    const QString log = dir.filePath(QStringLiteral("edited.csv"));
    QVERIFY(interruptedRun(log, f.host, change == "no pulses" ? 0 : 1));
    if (change == "cut") {
        // The record the journal has as done is gone from the logs.
        QFile edited(log);
        QVERIFY(edited.open(QIODevice::WriteOnly | QIODevice::Truncate));
        edited.write("P[Bar],T[C],Isens,Lsens,Iref,Lref\r\n");
    }
    const QByteArray logBytes = fileContents(log);
    const QByteArray journal = fileContents(records::journalPathFor(log));
    const int framesBefore = f.box->frames(Device::Temperature).size();
    const int pulsesBefore = f.box->frames(Device::Pulse).size();

    chooseLog(f, log);
    const ScriptedDialogs::Question refused = f.dialogs.last();
    QCOMPARE(refused.title, QStringLiteral("Resume run"));
    QVERIFY2(refused.label.contains(log) && refused.label.contains(named),
             qPrintable(refused.label));
    QCOMPARE(f.dialogs.count(QStringLiteral("question")), 0);
    QCOMPARE(fileContents(log), logBytes);
    QCOMPARE(fileContents(records::journalPathFor(log)), journal);
    QVERIFY(!findIn<QGroupBox>(w, "groupBox_4")->isChecked());
    QVERIFY(!isRunning(f));
    // Nothing but the poller's reads went to the box.
    QTest::qWait(500);
    for (const boxsim::Frame& frame : f.box->frames(Device::Temperature).mid(framesBefore))
        QVERIFY2(!frame.bytes.toHex().startsWith("0106"), frame.bytes.toHex().constData());
    QCOMPARE(f.box->frames(Device::Pulse).size(), pulsesBefore);
}

// A log another run is writing: nothing of it is touched and "Write Log"
// is unchecked with a red warning, as for a cancelled file dialog.
void RunResumeTest::logOfAnotherRun()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    const QString log = dir.filePath(QStringLiteral("taken.csv"));
    QVERIFY(interruptedRun(log, f.host));
    const QByteArray logBytes = fileContents(log);
    const QByteArray journal = fileContents(records::journalPathFor(log));
    records::LogLock otherRun;
    QCOMPARE(otherRun.acquire(log), records::LogLock::State::Held);

    chooseLog(f, log);
    QCOMPARE(f.dialogs.count(QStringLiteral("question")), 0);
    QCOMPARE(w->statusBar()->currentMessage(),
             QStringLiteral("Warning: %1 is being written by another run.").arg(log));
    QVERIFY(w->statusBar()->styleSheet().contains(QStringLiteral("rgb(255,0,0)")));
    QVERIFY(!findIn<QGroupBox>(w, "groupBox_4")->isChecked());
    QCOMPARE(fileContents(log), logBytes);
    QCOMPARE(fileContents(records::journalPathFor(log)), journal);

    // Let go: the window takes the log, and holds it while it has it.
    otherRun.release();
    pickLog(f, log, QMessageBox::No);
    QVERIFY(findIn<QGroupBox>(w, "groupBox_4")->isChecked());
    QCOMPARE(otherRun.acquire(log), records::LogLock::State::Busy);
    findIn<QGroupBox>(w, "groupBox_4")->setChecked(false);
    QCOMPARE(otherRun.acquire(log), records::LogLock::State::Held);
}

void RunResumeTest::stopRemovesCloseKeeps()
{
    QTemporaryDir dir;
    BoxFixture f;
    QVERIFY(f.startBox());
    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading());
    Grid grid;
    grid.useP = true;
    grid.pFrom = 1;
    grid.pTo = 4;
    grid.pStep = 1;
    planGrid(f, grid);
    auto* start = findIn<QToolButton>(w, "autoStartButton");
    const QString stopped = dir.filePath(QStringLiteral("stopped.csv"));
    const QString closed = dir.filePath(QStringLiteral("closed.csv"));

    // The Stop: nothing is left to resume.
    chooseLog(f, stopped);
    start->setChecked(true);
    QVERIFY(QFile::exists(records::journalPathFor(stopped)));
    QVERIFY(f.waitUntil([&] { return f.box->pulseTruth().size() >= 1; }, 60000));
    start->setChecked(false);
    QVERIFY(f.waitUntil([&] { return !QFile::exists(records::journalPathFor(stopped)); }, 10000));

    // A close during the run: the journal stays for the next start.
    chooseLog(f, closed);
    start->setChecked(true);
    QVERIFY(f.waitUntil([&] { return f.box->pulseTruth().size() >= 2; }, 60000));
    f.dialogs.pushButton(QMessageBox::Yes);
    QCloseEvent close;
    QCoreApplication::sendEvent(w, &close);
    QVERIFY(close.isAccepted());
    QVERIFY(f.waitUntil([&] { return !f.dialogs.exitCalls().isEmpty(); }, 10000));
    const records::ResumeDecision decision = records::decideResume(records::resumeFilesFor(closed));
    QCOMPARE(int(decision.kind), int(records::ResumeDecision::Resume));
    QVERIFY(decision.lastRecord >= 1);
}

QTEST_MAIN(RunResumeTest)
#include "tst_runresume.moc"
