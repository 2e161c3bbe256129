#include "journaledlog.h"
#include "logformat.h"
#include "resumeplan.h"
#include "runjournal.h"
#include "runlog.h"

#include <QtTest>

using records::JournalContents;
using records::JournalPlan;
using records::JournalRecord;
using records::LogLayout;
using records::ResumeDecision;

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

// Every field, so a round trip that drops or swaps one shows.
QString describe(const JournalContents& c)
{
    const auto axis = [](const records::JournalAxis& a) {
        return QStringLiteral("%1 %2 %3 %4 %5")
            .arg(a.on)
            .arg(a.from, 0, 'g', 17)
            .arg(a.to, 0, 'g', 17)
            .arg(a.step, 0, 'g', 17)
            .arg(a.points);
    };
    const JournalPlan& p = c.plan;
    QStringList parts{QString::number(c.format),
                      c.boxAddress,
                      c.logs.log,
                      c.logs.rawLog,
                      axis(p.temperature),
                      axis(p.pressure),
                      QString::number(p.unitFactor, 'g', 17),
                      p.layout == LogLayout::Csv ? "csv" : "cls",
                      QString::number(p.color),
                      QStringLiteral("%1 %2 %3 %4 %5 %6")
                          .arg(p.pulsesPerPoint)
                          .arg(p.delayBetweenPulsesS)
                          .arg(p.waitBeforePulseS)
                          .arg(p.extraWaitAtZeroS)
                          .arg(p.cameraFeedback)
                          .arg(p.pulseWidth),
                      QStringLiteral("%1 %2 %3")
                          .arg(p.referencePointOn)
                          .arg(p.referenceT, 0, 'g', 17)
                          .arg(p.referenceP, 0, 'g', 17)};
    for (const JournalRecord& r : c.records)
        parts << QStringLiteral("#%1 %2/%3 %4/%5 a%6 p%7 d%8 b%9 u%10")
                     .arg(r.number)
                     .arg(r.after.logSize)
                     .arg(r.after.rawSize)
                     .arg(QString::fromLatin1(r.after.logSha256),
                          QString::fromLatin1(r.after.rawSha256))
                     .arg(r.announced)
                     .arg(r.pulsesNoted)
                     .arg(r.done)
                     .arg(r.takenBack)
                     .arg(r.underWay);
    return parts.join('|');
}

// Two pressure points and the reference point: three records.
JournalContents smallRun(const QString& folder, LogLayout layout, bool color)
{
    JournalContents c;
    c.boxAddress = QStringLiteral("10.0.0.7");
    c.logs.log = folder + (layout == LogLayout::Csv ? "/run1.csv" : "/run1.cls");
    c.logs.rawLog = records::rawLogNameFor(c.logs.log);
    c.plan.pressure = {true, 0, 2, 2, 2};
    c.plan.unitFactor = 1.0;
    c.plan.layout = layout;
    c.plan.color = color;
    c.plan.pulsesPerPoint = 2;
    c.plan.referencePointOn = true;
    c.plan.referenceT = 20;
    c.plan.referenceP = 1;
    return c;
}

records::RecordValues values(int number)
{
    records::RecordValues v;
    v.number = number;
    v.pressureBar = float(number) * 0.5f;
    v.temperature = 20.0f + float(number);
    v.n2Text = QStringLiteral("%1.125").arg(number);
    v.o2Text = QStringLiteral("0.5%1").arg(number);
    return v;
}

QByteArray logRecord(const JournalPlan& plan, int number)
{
    return records::calibrationRecord(plan.layout, plan.color, plan.unitFactor, values(number));
}

QByteArray rawRecord(const JournalPlan& plan, int number)
{
    return records::rawRecord(plan.unitFactor, values(number));
}

// Both logs of an uninterrupted run that got as far as `records` records.
QPair<QByteArray, QByteArray> logsUpTo(const JournalPlan& plan, int records)
{
    QByteArray log = records::calibrationLogHeader(plan.layout, plan.color, plan.unitFactor);
    QByteArray raw = records::rawLogHeader(plan.unitFactor);
    for (int n = 1; n <= records; ++n) {
        log += logRecord(plan, n);
        raw += rawRecord(plan, n);
    }
    return {log, raw};
}

// What a decision must satisfy whatever the files: a refusal says why; a
// resume leaves both logs ending with the same whole record R, acts on R as
// the journal says, and never goes on past a record whose pulses were not done.
void checkDecision(const std::optional<JournalContents>& journal, const QByteArray& log,
                   const QByteArray& raw, const ResumeDecision& d, const QString& where)
{
    const auto fail = [&where](const QString& what) {
        QFAIL(qPrintable(where + QStringLiteral(": ") + what));
    };
    if (d.kind == ResumeDecision::Refuse) {
        if (d.message.isEmpty())
            fail("a refusal without a message");
        return;
    }
    if (!journal)
        return fail("resumed from an unreadable journal");
    const JournalPlan& plan = journal->plan;
    const int r = d.lastRecord;
    const auto [wholeLog, wholeRaw] = logsUpTo(plan, r);
    const auto [keptLog, keptRaw] = logsUpTo(plan, d.pointIndex);
    if (d.repairedLogSize > log.size() || d.repairedRawSize > raw.size())
        return fail("repaired past the end of the files");
    // The record's readings are the run's own, so the whole prefix is known.
    if (log.left(int(d.repairedLogSize)) != wholeLog ||
        raw.left(int(d.repairedRawSize)) != wholeRaw)
        return fail(QStringLiteral("the repaired logs do not end with record %1").arg(r));
    if (log.left(int(d.logSize)) != keptLog || raw.left(int(d.rawSize)) != keptRaw)
        return fail(QStringLiteral("the logs are not cut back to %1 records").arg(d.pointIndex));

    // A try whose pulses may have gone out: announced, never done, and not
    // taken back by the run itself (which does so only when none went out).
    const auto underWay = [&](int number) {
        const JournalRecord* fate = journal->find(number);
        return fate && fate->announced && !fate->done && (!fate->takenBack || fate->underWay);
    };
    const JournalRecord* fate = journal->find(r);
    const bool done = fate && fate->done && !fate->takenBack;
    if (d.action == ResumeDecision::Continue && r > 0 && !done)
        return fail(QStringLiteral("goes on past record %1 whose pulses were not done").arg(r));
    if (d.action != ResumeDecision::Continue && done)
        return fail(QStringLiteral("repeats record %1 whose pulses were done").arg(r));
    if ((d.action == ResumeDecision::RepeatAfterAnnounce) !=
        (d.action != ResumeDecision::Continue && underWay(r)))
        return fail(QStringLiteral("the announcement of record %1 is misread").arg(r));
    // The point taken again may have left images from such a try.
    const QStringList images = underWay(d.nextRecordNumber)
                                   ? records::imageNames(plan.color, d.nextRecordNumber)
                                   : QStringList();
    if (d.possibleImages != images)
        return fail("the images named are " + d.possibleImages.join(' '));
    if (d.pointIndex != (d.takeBack() ? r - 1 : r) || d.nextRecordNumber != d.pointIndex + 1)
        return fail(QStringLiteral("resumes at index %1 after record %2").arg(d.pointIndex).arg(r));
    for (int n = 1; n <= d.pointIndex; ++n) {
        const JournalRecord* before = journal->find(n);
        if (!before || !before->done || before->takenBack)
            return fail(QStringLiteral("goes on past record %1 whose pulses were not done").arg(n));
    }
    if (d.totalPoints != plan.totalPoints() ||
        (d.kind == ResumeDecision::Complete) != (d.pointIndex == d.totalPoints))
        return fail("complete at the wrong point");
}

// One moment of a run: the journal as on disk and both logs, and what a resume
// must make of it.
struct Moment
{
    QByteArray journal, log, raw;
    QString what;
    int lastRecord = 0;
    ResumeDecision::Action action = ResumeDecision::Continue;
};

// A small run written step by step through the journal, byte by byte into the
// logs, with every moment a crash could leave behind. The generator is out of
// reach for the first try of record 2, which is taken back.
QVector<Moment> runMoments(const QString& folder, LogLayout layout, bool color)
{
    QVector<Moment> moments;
    JournalContents start = smallRun(folder, layout, color);
    const JournalPlan& plan = start.plan;
    records::RunJournal journal;
    QByteArray log = records::calibrationLogHeader(plan.layout, plan.color, plan.unitFactor);
    QByteArray raw = records::rawLogHeader(plan.unitFactor);
    const auto note = [&](const QString& what, int r, ResumeDecision::Action action) {
        moments.append({contents(journal.path()), log, raw, what, r, action});
    };
    const auto ok = [&](bool done) {
        if (!done)
            qFatal("journal: %s", qPrintable(journal.errorString()));
    };
    ok(journal.begin(start));
    note("begun", 0, ResumeDecision::Continue);
    for (int k = 1; k <= plan.totalPoints(); ++k) {
        for (int attempt = 0; attempt < (k == 2 ? 2 : 1); ++attempt) {
            const QString at = QStringLiteral("record %1 try %2: ").arg(k).arg(attempt);
            const QByteArray logBefore = log, rawBefore = raw;
            const QByteArray line = logRecord(plan, k), rawLine = rawRecord(plan, k);
            for (char c : line) {
                log += c;
                note(at + "log line", k - 1, ResumeDecision::Continue);
            }
            for (int i = 0; i < rawLine.size(); ++i) {
                raw += rawLine[i];
                const bool whole = i == rawLine.size() - 1;
                note(at + "raw line", whole ? k : k - 1,
                     whole ? ResumeDecision::RepeatNotAnnounced : ResumeDecision::Continue);
            }
            ok(journal.recordAppended(k, records::logStateOf(log, raw)));
            note(at + "appended", k, ResumeDecision::RepeatNotAnnounced);
            ok(journal.pulsesAnnounced(k));
            note(at + "announced", k, ResumeDecision::RepeatAfterAnnounce);
            if (k == 2 && attempt == 0) {
                ok(journal.takenBack(k));
                note(at + "taken back", k, ResumeDecision::RepeatNotAnnounced);
                log = logBefore;
                note(at + "log cut", k - 1, ResumeDecision::Continue);
                raw = rawBefore;
                note(at + "raw cut", k - 1, ResumeDecision::Continue);
                continue;
            }
            for (int p = 0; p < plan.pulsesPerPoint; ++p) {
                ok(journal.pulseNoted(k));
                note(at + "pulse", k, ResumeDecision::RepeatAfterAnnounce);
            }
            ok(journal.pulsesDone(k));
            note(at + "done", k, ResumeDecision::Continue);
        }
    }
    return moments;
}

} // namespace

class RunJournalTest : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void unreadableJournals_data();
    void unreadableJournals();
    void stepsOutOfTurn();
    void durableReplacement();
    void resumeAfterEveryCrash_data();
    void resumeAfterEveryCrash();
    void everyByteCut_data();
    void everyByteCut();
    void refusals_data();
    void refusals();
    void questionAndImages();
    void planChecks_data();
    void planChecks();
    void planBoundToItsJournal();
    void numberingContinues();
    void resumeOnDisk_data();
    void resumeOnDisk();
    void journalThatFails();
    void stopRestartsTheNumbering();
};

void RunJournalTest::roundTrip_data()
{
    QTest::addColumn<bool>("cls");
    QTest::addColumn<bool>("reference");
    QTest::newRow("csv, grid only") << false << false;
    QTest::newRow("cls in psi with reference point and odd fractions") << true << true;
}

void RunJournalTest::roundTrip()
{
    QFETCH(bool, cls);
    QFETCH(bool, reference);
    QTemporaryDir dir;
    JournalContents c = smallRun(dir.path(), cls ? LogLayout::Cls : LogLayout::Csv, !cls);
    c.plan.temperature = {true, 24.3, 21.9, -0.3, 9};
    c.plan.pressure = {true, 0.1, 0.7, 0.3, 3};
    c.plan.unitFactor = cls ? 14.5038 : 100.0;
    c.plan.delayBetweenPulsesS = 3;
    c.plan.waitBeforePulseS = 12;
    c.plan.extraWaitAtZeroS = 99999;
    c.plan.cameraFeedback = cls;
    c.plan.pulseWidth = QStringLiteral("050");
    c.plan.referencePointOn = reference;
    c.plan.referenceP = 14.5038 / 3;
    c.boxAddress = QStringLiteral("192.168.17.200");
    c.logs.log = QStringLiteral("D:\\data\\Läufe\\run 1.csv");

    JournalRecord done;
    done.number = 1;
    done.after = records::logStateOf("header\r\n1\r\n", "h\r\n1\r\n");
    done.announced = done.done = true;
    done.pulsesNoted = 2;
    JournalRecord gone;
    gone.number = 2;
    gone.after = {1LL << 40, 77, {}, {}};
    gone.announced = true;
    gone.takenBack = true;
    gone.underWay = true;
    c.records = {done, gone};

    QString error;
    const std::optional<JournalContents> back =
        records::journalFromBytes(records::journalToBytes(c), &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(describe(*back), describe(c));
}

void RunJournalTest::unreadableJournals_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("why");
    QTest::newRow("not JSON") << "{"
                              << "["
                              << "not a run journal";
    QTest::newRow("another format") << "\"format\":1"
                                    << "\"format\":2"
                                    << "format 2";
    QTest::newRow("missing key") << "\"layout\":\"csv\","
                                 << ""
                                 << "\"layout\"";
    QTest::newRow("unknown layout") << "\"layout\":\"csv\""
                                    << "\"layout\":\"txt\""
                                    << "layout";
    QTest::newRow("size not whole") << "\"log\":100,"
                                    << "\"log\":100.5,"
                                    << "\"log\"";
    QTest::newRow("size beyond exact doubles") << "\"log\":100,"
                                               << "\"log\":1e300,"
                                               << "\"log\"";
    // A grid of 40000 x 40000 points would not fit the count of its points.
    QTest::newRow("more points than a sweep plans") << "\"points\":2,"
                                                    << "\"points\":40000,"
                                                    << "\"points\"";
    QTest::newRow("negative points") << "\"points\":2,"
                                     << "\"points\":-2,"
                                     << "\"points\"";
    QTest::newRow("numbers skip") << "\"n\":2"
                                  << "\"n\":3"
                                  << "out of order";
    QTest::newRow("pulse before its announcement") << "\"announced\":true,\"done\":false"
                                                   << "\"announced\":false,\"done\":false"
                                                   << "without their announcement";
    QTest::newRow("next record before pulses done") << "\"done\":true,\"log\":100"
                                                    << "\"done\":false,\"log\":100"
                                                    << "before its pulses";
    const QString dd = QLatin1Char('"') + QString(64, 'd') + QLatin1Char('"');
    QTest::newRow("taken back with a pulse out")
        << dd + ",\"takenBack\":false" << dd + ",\"takenBack\":true"
        << "taken back after";
    QTest::newRow("under way without a take-back")
        << dd + ",\"takenBack\":false" << dd + ",\"takenBack\":false,\"underWay\":true"
        << "under way without";
    QTest::newRow("plan changed") << "\"pulsesPerPoint\":2"
                                  << "\"pulsesPerPoint\":3"
                                  << "plan was changed";
    // Written back, a zero in the hash would have cut it short.
    QTest::newRow("hash with a zero")
        << dd << QString(dd).replace(10, 1, "\\u0000") << "\"rawSha256\"";
    QTest::newRow("hash in capitals") << QString(64, 'c') << QString(64, 'C') << "\"logSha256\"";
    QTest::newRow("hash cut short") << dd << "\"ddd\""
                                    << "\"rawSha256\"";
}

// Every way a journal file can be other than one a run leaves behind is refused.
void RunJournalTest::unreadableJournals()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, why);
    QTemporaryDir dir;
    JournalContents c = smallRun(dir.path(), LogLayout::Csv, false);
    JournalRecord first;
    first.number = 1;
    first.after = {100, 50, QByteArray(64, 'a'), QByteArray(64, 'b')};
    first.announced = first.done = true;
    first.pulsesNoted = 2;
    JournalRecord second = first;
    second.number = 2;
    second.after = {150, 80, QByteArray(64, 'c'), QByteArray(64, 'd')};
    second.done = false;
    second.pulsesNoted = 1;
    c.records = {first, second};
    QByteArray bytes = records::journalToBytes(c);
    QVERIFY(records::journalFromBytes(bytes));
    // The keys come sorted, so each change below finds its place.
    QVERIFY2(bytes.contains(from.toUtf8()), bytes.constData());
    bytes.replace(bytes.indexOf(from.toUtf8()), from.toUtf8().size(), to.toUtf8());
    QString error;
    QVERIFY(!records::journalFromBytes(bytes, &error));
    QVERIFY2(error.contains(why), qPrintable(error));
    const ResumeDecision d = records::decideResume(bytes, QByteArray(), QByteArray());
    QCOMPARE(d.kind, ResumeDecision::Refuse);
    QVERIFY2(d.message.contains(error), qPrintable(d.message));
}

// A step out of the run's order is refused and leaves the journal on disk as it was.
void RunJournalTest::stepsOutOfTurn()
{
    QTemporaryDir dir;
    records::RunJournal journal;
    QVERIFY(journal.begin(smallRun(dir.path(), LogLayout::Csv, true)));
    QCOMPARE(journal.path(), dir.path() + "/run1.csv.run");
    const records::LogState state = records::logStateOf("a", "b");
    QVERIFY(!journal.recordAppended(2, state));
    QVERIFY(!journal.pulsesAnnounced(1));
    QVERIFY(journal.recordAppended(1, state));
    QVERIFY(!journal.pulseNoted(1));
    QVERIFY(!journal.pulsesDone(1));
    QVERIFY(journal.pulsesAnnounced(1));
    QVERIFY(!journal.pulsesAnnounced(1));
    QVERIFY(!journal.recordAppended(2, state));
    QVERIFY(journal.pulseNoted(1));
    QVERIFY(!journal.takenBack(1)); // a pulse is out
    QVERIFY(journal.pulsesDone(1));
    QVERIFY(!journal.pulseNoted(1));
    const QByteArray before = contents(journal.path());
    QVERIFY(!journal.takenBack(1));
    QVERIFY(!journal.errorString().isEmpty());
    QCOMPARE(contents(journal.path()), before);

    // A resume takes back a record the journal never heard of; a new try
    // of the point replaces it.
    QVERIFY(journal.takenBack(2));
    QVERIFY(journal.takenBack(2));
    QVERIFY(journal.recordAppended(2, state));
    QVERIFY(journal.pulsesAnnounced(2));
    QVERIFY(journal.pulsesDone(2));
    QVERIFY(journal.recordAppended(3, state));
    // Only the last two records keep their hashes.
    records::RunJournal reopened;
    QVERIFY(reopened.open(journal.path()));
    QCOMPARE(describe(reopened.contents()), describe(journal.contents()));
    QCOMPARE(reopened.contents().records.size(), 3);
    QVERIFY(reopened.contents().records[0].after.logSha256.isEmpty());
    QVERIFY(!reopened.contents().records[1].after.logSha256.isEmpty());
    QVERIFY(!reopened.contents().records[2].after.rawSha256.isEmpty());

    QVERIFY(journal.remove());
    QVERIFY(!QFile::exists(journal.path()));
    QVERIFY(journal.remove());
}

void RunJournalTest::durableReplacement()
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/run1.csv.run";
    QString error;
    QVERIFY(records::writeFileDurably(path, "old", &error));
    QVERIFY(records::writeFileDurably(path, "new contents", &error));
    QCOMPARE(contents(path), QByteArray("new contents"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"run1.csv.run"});
    QVERIFY(records::syncFileToDisk(path));
    QVERIFY(records::syncFolderOf(path));

    // A folder that is not there: reported, nothing made.
    const QString missing = dir.path() + "/gone/run1.csv.run";
    QVERIFY(!records::writeFileDurably(missing, "x", &error));
    QVERIFY(error.contains("gone"));
    QVERIFY(!records::syncFileToDisk(missing));
    QVERIFY(!records::syncFolderOf(missing));
    records::RunJournal journal;
    JournalContents c = smallRun(dir.path() + "/gone", LogLayout::Csv, true);
    QVERIFY(!journal.begin(c));
    QVERIFY(!journal.errorString().isEmpty());

    // The journal's name taken by a folder: the rename fails, the temporary
    // file goes again and the folder stays.
    QVERIFY(QDir(dir.path()).mkdir("taken.csv.run"));
    error.clear();
    QVERIFY(!records::writeFileDurably(dir.path() + "/taken.csv.run", "x", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(dir.path() + "/taken.csv.run.tmp"));
    QVERIFY(QFileInfo(dir.path() + "/taken.csv.run").isDir());
}

void RunJournalTest::resumeAfterEveryCrash_data()
{
    QTest::addColumn<bool>("cls");
    QTest::addColumn<bool>("color");
    QTest::newRow("csv") << false << false;
    QTest::newRow("cls, colour") << true << true;
}

// Killed at any moment of a run, the resume repairs the logs, acts on the last
// record as the journal says and ends with the logs of an uninterrupted run.
void RunJournalTest::resumeAfterEveryCrash()
{
    QFETCH(bool, cls);
    QFETCH(bool, color);
    QTemporaryDir dir;
    const QVector<Moment> moments =
        runMoments(dir.path(), cls ? LogLayout::Cls : LogLayout::Csv, color);
    QVERIFY(moments.size() > 200);
    QSet<int> actions;
    for (const Moment& m : moments) {
        const std::optional<JournalContents> journal = records::journalFromBytes(m.journal);
        QVERIFY2(journal, qPrintable(m.what));
        const ResumeDecision d = records::decideResume(m.journal, m.log, m.raw);
        const QString where =
            QStringLiteral("%1 (%2 + %3 bytes)").arg(m.what).arg(m.log.size()).arg(m.raw.size());
        QVERIFY2(d.kind != ResumeDecision::Refuse, qPrintable(where + ": " + d.message));
        checkDecision(journal, m.log, m.raw, d, where);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(
            d.lastRecord == m.lastRecord && d.action == m.action,
            qPrintable(
                QStringLiteral("%1: R %2, action %3").arg(where).arg(d.lastRecord).arg(d.action)));
        actions << d.action;

        // Carried out (the take-back noted, the logs cut) and killed again
        // before the point's next record: the same point, the same images.
        QString why;
        const std::optional<JournalContents> after =
            d.takeBack()
                ? records::journalWithTakeBack(
                      *journal, d.lastRecord, d.action == ResumeDecision::RepeatAfterAnnounce, &why)
                : journal;
        QVERIFY2(after, qPrintable(where + ": " + why));
        const QByteArray afterBytes = records::journalToBytes(*after);
        const QByteArray log = m.log.left(int(d.logSize)), raw = m.raw.left(int(d.rawSize));
        const ResumeDecision again = records::decideResume(afterBytes, log, raw);
        QVERIFY2(again.kind != ResumeDecision::Refuse, qPrintable(where + ": " + again.message));
        checkDecision(after, log, raw, again, where + ", resumed again");
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(again.action, ResumeDecision::Continue);
        QCOMPARE(again.pointIndex, d.pointIndex);
        QCOMPARE(again.possibleImages, d.possibleImages);
    }
    QCOMPARE(actions.size(), 3);
    const ResumeDecision end =
        records::decideResume(moments.last().journal, moments.last().log, moments.last().raw);
    QCOMPARE(end.kind, ResumeDecision::Complete);
    QCOMPARE(end.lastRecord, 3);
}

void RunJournalTest::everyByteCut_data()
{
    resumeAfterEveryCrash_data();
}

// Whatever the cut of either log or of the journal, the decision is a refusal
// or a resume that keeps the promises of checkDecision.
void RunJournalTest::everyByteCut()
{
    QFETCH(bool, cls);
    QFETCH(bool, color);
    QTemporaryDir dir;
    const JournalPlan plan =
        smallRun(dir.path(), cls ? LogLayout::Cls : LogLayout::Csv, color).plan;
    const QVector<Moment> moments = runMoments(dir.path(), plan.layout, color);
    const auto [fullLog, fullRaw] = logsUpTo(plan, 3);
    int resumes = 0, refusals = 0;
    const auto decide = [&](const QByteArray& journal, const QByteArray& log, const QByteArray& raw,
                            const QString& where) {
        const ResumeDecision d = records::decideResume(journal, log, raw);
        checkDecision(records::journalFromBytes(journal), log, raw, d, where);
        ++(d.kind == ResumeDecision::Refuse ? refusals : resumes);
    };
    QByteArray lastJournal;
    for (const Moment& m : moments) {
        if (m.journal == lastJournal)
            continue;
        lastJournal = m.journal;
        for (const auto& [log, raw] : {qMakePair(m.log, m.raw), qMakePair(fullLog, fullRaw)}) {
            for (int cut = 0; cut <= log.size(); ++cut)
                decide(m.journal, log.left(cut), raw,
                       m.what + QStringLiteral(", log cut at %1").arg(cut));
            for (int cut = 0; cut <= raw.size(); ++cut)
                decide(m.journal, log, raw.left(cut),
                       m.what + QStringLiteral(", raw cut at %1").arg(cut));
            if (QTest::currentTestFailed())
                return;
        }
        for (int cut = 0; cut < m.journal.size(); ++cut)
            decide(m.journal.left(cut), m.log, m.raw,
                   m.what + QStringLiteral(", journal cut at %1").arg(cut));
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY(resumes > 500);
    QVERIFY(refusals > 10000);
}

void RunJournalTest::refusals_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("why");
    QTest::newRow("another unit") << "unit"
                                  << "another unit";
    QTest::newRow("another layout") << "layout"
                                    << "layout";
    QTest::newRow("colour off") << "color"
                                << "colour";
    QTest::newRow("a digit edited") << "edit"
                                    << "was changed";
    QTest::newRow("a raw digit edited") << "editRaw"
                                        << "_SLPM.csv was changed";
    QTest::newRow("a done record cut") << "short"
                                       << "record 2 is missing";
    QTest::newRow("records the journal never heard of") << "extra"
                                                        << "never noted";
    QTest::newRow("more records than points") << "points"
                                              << "more than the 1 points";
    // Hand edits that keep the hashes true: a cut inside a record's line
    // would leave a torn record before the run's next.
    QTest::newRow("size of an earlier record edited") << "size"
                                                      << "record 1 ends elsewhere";
    QTest::newRow("a line that is no record, hashed again") << "foreign"
                                                            << "does not hold records 1 to 2";
}

void RunJournalTest::refusals()
{
    QFETCH(QString, change);
    QFETCH(QString, why);
    QTemporaryDir dir;
    JournalContents journal = smallRun(dir.path(), LogLayout::Csv, true);
    auto [log, raw] = logsUpTo(journal.plan, 2);
    for (int n = 1; n <= 2; ++n) {
        const auto [l, r] = logsUpTo(journal.plan, n);
        JournalRecord record;
        record.number = n;
        record.after = records::logStateOf(l, r);
        record.announced = record.done = true;
        journal.records.append(record);
    }
    QCOMPARE(records::decideResume(journal, log, raw).kind, ResumeDecision::Resume);

    if (change == "unit")
        journal.plan.unitFactor = 14.5038;
    else if (change == "layout")
        journal.plan.layout = LogLayout::Cls;
    else if (change == "color")
        journal.plan.color = false;
    else if (change == "edit")
        log[log.indexOf("0.500000")] = '1';
    else if (change == "editRaw")
        raw[raw.size() - 4] = '9';
    else if (change == "short")
        log.chop(2);
    else if (change == "extra") {
        const auto [l, r] = logsUpTo(journal.plan, 4);
        log = l;
        raw = r;
    } else if (change == "points") {
        journal.plan.pressure.to = 0;
        journal.plan.pressure.points = 1;
        journal.plan.referencePointOn = false;
    } else if (change == "size") {
        // Record 2's pulses under way: it is taken back, the logs cut after record 1.
        journal.records[1].done = false;
        journal.records[0].after.logSize += 1;
    } else if (change == "foreign") {
        log.insert(log.indexOf("\r\n") + 2, "a note\r\n");
        journal.records[1].after = records::logStateOf(log, raw);
    }
    const ResumeDecision d = records::decideResume(journal, log, raw);
    QCOMPARE(d.kind, ResumeDecision::Refuse);
    QVERIFY2(d.message.contains(why), qPrintable(d.message));
}

void RunJournalTest::questionAndImages()
{
    QTemporaryDir dir;
    JournalContents journal = smallRun(dir.path(), LogLayout::Cls, true);
    const auto [log, raw] = logsUpTo(journal.plan, 2);
    for (int n = 1; n <= 2; ++n) {
        const auto [l, r] = logsUpTo(journal.plan, n);
        JournalRecord record;
        record.number = n;
        record.after = records::logStateOf(l, r);
        record.announced = true;
        record.done = n == 1;
        journal.records.append(record);
    }
    const ResumeDecision d = records::decideResume(journal, log, raw);
    QCOMPARE(d.kind, ResumeDecision::Resume);
    QCOMPARE(d.question(), QStringLiteral("Resume the interrupted run at point 2 of 3?"));
    QCOMPARE(d.nextRecordNumber, 2);
    QCOMPARE(d.possibleImages, (QStringList{"calib_000002_p.tif", "calib_000002_r.tif"}));
    QVERIFY(d.imagesWarning().contains("record 2"));
    QVERIFY(d.imagesWarning().contains("calib_000002_p.tif, calib_000002_r.tif"));
}

void RunJournalTest::planChecks_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("named"); // empty: a plan the window or baroterm-run makes

    QTest::newRow("as written") << ""
                                << "";
    QTest::newRow("psi") << "psi"
                         << "";
    QTest::newRow("kPa, temperature downwards") << "kpa down"
                                                << "";
    QTest::newRow("reference off with any values") << "reference off"
                                                   << "";
    QTest::newRow("no pulses") << "pulsesPerPoint 0"
                               << "pulsesPerPoint = 0";
    QTest::newRow("100 pulses") << "pulsesPerPoint 100"
                                << "pulsesPerPoint = 100";
    QTest::newRow("negative delay") << "delay -1"
                                    << "delayBetweenPulses = -1";
    QTest::newRow("delay beyond its dialog") << "delay 100"
                                             << "delayBetweenPulses = 100";
    QTest::newRow("wait beyond its dialog") << "wait 100000"
                                            << "waitBeforePulse = 100000";
    QTest::newRow("negative extra wait") << "extra -5"
                                         << "extraWaitAtZero = -5";
    QTest::newRow("pulse width of four digits") << "width 1000"
                                                << "pulseWidth = \"1000\"";
    QTest::newRow("pulse width not padded") << "width 10"
                                            << "pulseWidth = \"10\"";
    QTest::newRow("pulse width zero") << "width 000"
                                      << "pulseWidth = \"000\"";
    QTest::newRow("unknown unit") << "unit 2"
                                  << "unitFactor = 2";
    QTest::newRow("neither axis") << "no axis"
                                  << "neither axis";
    QTest::newRow("temperature beyond its box") << "tFrom 95"
                                                << "temperature.from = 95";
    QTest::newRow("temperature step 0") << "tStep 0"
                                        << "temperature.step = 0";
    QTest::newRow("temperature with two decimals") << "tTo 23.05"
                                                   << "temperature.to = 23.05";
    QTest::newRow("pressure not a number") << "pTo nan"
                                           << "pressure.to = nan";
    QTest::newRow("pressure beyond its box") << "pTo 5"
                                             << "pressure.to = 5";
    QTest::newRow("pressure points not the axis's") << "pPoints 3"
                                                    << "pressure.points = 3";
    QTest::newRow("reference too warm") << "refT 61"
                                        << "reference.t = 61";
    QTest::newRow("reference beyond 4 bar") << "refP 4.5"
                                            << "reference.p = 4.5";
    QTest::newRow("reference with two decimals") << "refP 1.25"
                                                 << "reference.p = 1.25";
}

// A journal's plan is run only when the window's inputs could have made it.
void RunJournalTest::planChecks()
{
    QFETCH(QString, change);
    QFETCH(QString, named);
    QTemporaryDir dir;
    JournalContents journal = smallRun(dir.path(), LogLayout::Csv, true);
    JournalPlan& plan = journal.plan;
    plan.temperature = {true, 22, 23, 1, 2};
    const QString key = change.section(' ', 0, 0);
    const QString text = change.section(' ', 1);
    const double value = text.toDouble();
    if (key == "psi") {
        plan.unitFactor = 14.5038;
        plan.pressure = {true, 1.45, 58.02, 14.14, 5};
        plan.referenceP = 58;
    } else if (key == "kpa") {
        plan.unitFactor = 100;
        plan.pressure = {true, 0, 450, 10, 46};
        plan.temperature = {true, 24, 21.9, 0.7, 4};
        plan.referenceP = 400;
    } else if (key == "reference") {
        plan.referencePointOn = false;
        plan.referenceP = 100;
        plan.referenceT = -40;
    } else if (key == "pulsesPerPoint") {
        plan.pulsesPerPoint = int(value);
    } else if (key == "delay") {
        plan.delayBetweenPulsesS = int(value);
    } else if (key == "wait") {
        plan.waitBeforePulseS = int(value);
    } else if (key == "extra") {
        plan.extraWaitAtZeroS = int(value);
    } else if (key == "width") {
        plan.pulseWidth = text;
    } else if (key == "unit") {
        plan.unitFactor = value;
    } else if (key == "no") {
        plan.temperature.on = plan.pressure.on = false;
    } else if (key == "tFrom") {
        plan.temperature.from = value;
    } else if (key == "tStep") {
        plan.temperature.step = value;
    } else if (key == "tTo") {
        plan.temperature.to = value;
    } else if (key == "pTo") {
        plan.pressure.to = text == "nan" ? qQNaN() : value;
    } else if (key == "pPoints") {
        plan.pressure.points = int(value);
    } else if (key == "refT") {
        plan.referenceT = value;
    } else if (key == "refP") {
        plan.referenceP = value;
    }
    const QString problem = records::planProblem(plan);
    const ResumeDecision d = records::decideResume(
        journal, records::calibrationLogHeader(plan.layout, plan.color, plan.unitFactor),
        records::rawLogHeader(plan.unitFactor));
    if (named.isEmpty()) {
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(d.kind, ResumeDecision::Resume);
        return;
    }
    QVERIFY2(problem.startsWith(named), qPrintable(problem));
    QCOMPARE(d.kind, ResumeDecision::Refuse);
    QVERIFY2(d.message.contains(named), qPrintable(d.message));
}

// The journal keeps its plan's hash: a plan edited afterwards is not run,
// even one with as many points. A journal written before the hash was kept
// is read on its plan alone.
void RunJournalTest::planBoundToItsJournal()
{
    QTemporaryDir dir;
    JournalContents journal = smallRun(dir.path(), LogLayout::Csv, true);
    const auto [log, raw] = logsUpTo(journal.plan, 1);
    JournalRecord record;
    record.number = 1;
    record.after = records::logStateOf(log, raw);
    record.announced = record.done = true;
    record.pulsesNoted = 2;
    journal.records = {record};
    const QByteArray bytes = records::journalToBytes(journal);
    QVERIFY(bytes.contains(",\"planSha256\":\"" + records::planSha256(journal.plan) + "\","));
    QCOMPARE(records::decideResume(bytes, log, raw).kind, ResumeDecision::Resume);

    const QByteArray grid =
        "\"pressure\":{\"from\":0,\"on\":true,\"points\":2,\"step\":2,\"to\":2}";
    const QByteArray otherGrid =
        "\"pressure\":{\"from\":1,\"on\":true,\"points\":2,\"step\":2,\"to\":3}";
    QVERIFY(bytes.contains(grid));
    QByteArray edited = bytes;
    edited.replace(grid, otherGrid);
    const ResumeDecision d = records::decideResume(edited, log, raw);
    QCOMPARE(d.kind, ResumeDecision::Refuse);
    QVERIFY2(d.message.contains("plan was changed"), qPrintable(d.message));

    QByteArray older = bytes;
    older.replace(
        QRegularExpression(",\"planSha256\":\"[0-9a-f]{64}\"").match(bytes).captured().toLatin1(),
        "");
    QVERIFY(!older.contains("planSha256"));
    QCOMPARE(records::decideResume(older, log, raw).kind, ResumeDecision::Resume);
    older.replace("\"pulsesPerPoint\":2", "\"pulsesPerPoint\":0");
    QVERIFY2(records::decideResume(older, log, raw).message.contains("pulsesPerPoint = 0"), "");
}

// A resumed run's records go on from the number the resume gives.
void RunJournalTest::numberingContinues()
{
    QTemporaryDir dir;
    records::RunLog runLog;
    runLog.setFiles({dir.path() + "/run1.csv", dir.path() + "/run1_SLPM.csv"});
    const records::LogFormat format{LogLayout::Csv, false, 1.0};
    QCOMPARE(runLog.create(format), records::LogStatus::Ok);
    runLog.continueNumbering(6);
    QCOMPARE(runLog.append(format, values(0)), records::LogStatus::Ok);
    QCOMPARE(runLog.lastNumber(), 7);
    QVERIFY(runLog.syncToDisk());
    QVERIFY(contents(dir.path() + "/run1_SLPM.csv").contains("\r\n000007,"));
    QVERIFY(contents(dir.path() + "/run1.csv").contains(",calib_000007.tif,1\r\n"));
}

void RunJournalTest::resumeOnDisk_data()
{
    QTest::addColumn<QString>("moment"); // the last crash moment of that name
    QTest::addColumn<int>("records");    // left in the logs
    QTest::newRow("torn raw line") << "record 3 try 0: raw line" << 2;
    QTest::newRow("record 2 announced") << "record 2 try 1: announced" << 1;
    QTest::newRow("record 2 done") << "record 2 try 1: done" << 2;
    QTest::newRow("between the pulses of record 3") << "record 3 try 0: pulse" << 2;
}

// The files of a crash, resumed: the journal notes the take-back, the logs are
// cut back, and the run goes on noting its records from there.
void RunJournalTest::resumeOnDisk()
{
    QFETCH(QString, moment);
    QFETCH(int, records);
    QTemporaryDir dir;
    const QVector<Moment> moments = runMoments(dir.path(), LogLayout::Cls, true);
    auto m = std::find_if(moments.rbegin(), moments.rend(),
                          [&](const Moment& each) { return each.what == moment; });
    QVERIFY(m != moments.rend());
    const records::ResumeFiles files = records::resumeFilesFor(dir.path() + "/run1.cls");
    QCOMPARE(files.journal, dir.path() + "/run1.cls.run");
    for (const auto& [path, bytes] :
         {qMakePair(files.journal, m->journal), qMakePair(files.logs.log, m->log),
          qMakePair(files.logs.rawLog, m->raw)}) {
        QVERIFY(records::writeFileDurably(path, bytes));
    }

    const ResumeDecision d = records::decideResume(files);
    QCOMPARE(d.kind, ResumeDecision::Resume);
    records::RunJournal journal;
    QString error;
    QVERIFY2(records::applyResume(files, d, journal, &error), qPrintable(error));
    const JournalPlan plan = journal.contents().plan;
    const auto [log, raw] = logsUpTo(plan, records);
    QCOMPARE(contents(files.logs.log), log);
    QCOMPARE(contents(files.logs.rawLog), raw);
    QCOMPARE(d.nextRecordNumber, records + 1);
    QCOMPARE(journal.contents().lastLive()->number, records);
    QCOMPARE(journal.contents().records.last().takenBack, d.takeBack());

    // Resumed again before anything more happened: the same point.
    const ResumeDecision again = records::decideResume(files);
    QCOMPARE(again.kind, ResumeDecision::Resume);
    QCOMPARE(again.pointIndex, d.pointIndex);
    QCOMPARE(again.action, ResumeDecision::Continue);
    QCOMPARE(again.imagesWarning(), d.imagesWarning());

    const auto [nextLog, nextRaw] = logsUpTo(plan, records + 1);
    QVERIFY(journal.recordAppended(records + 1, records::logStateOf(nextLog, nextRaw)));

    QFile::remove(files.logs.rawLog);
    QCOMPARE(records::decideResume(files).kind, ResumeDecision::Refuse);
}

// A journal that can no longer be replaced: the record goes out of the logs
// again, no pulse may be announced, and the failure is told once.
void RunJournalTest::journalThatFails()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("fails.csv"));
    records::JournalContents contents;
    contents.plan.pressure = {true, 1, 2, 1, 2};
    contents.logs = {log, records::rawLogNameFor(log)};
    const records::LogFormat format{records::LogLayout::Csv, true, 1.0};
    records::JournaledLog journaled;
    QStringList failures;
    journaled.onFailure([&](const QString& text) { failures << text; });
    journaled.setFiles(contents.logs);
    QCOMPARE(journaled.log().create(format), records::LogStatus::Ok);
    QVERIFY(journaled.begin(contents));
    records::RecordValues values;
    values.pressureBar = 1.0f;
    QCOMPARE(journaled.append(format, values), records::LogStatus::Ok);
    QVERIFY(journaled.announced() && journaled.pulseNoted() && journaled.done());
    const qint64 logSize = QFileInfo(log).size();

    // A folder in the journal's place: no file can be renamed over it.
    const QString journal = records::journalPathFor(log);
    QVERIFY(QFile::remove(journal));
    QVERIFY(QDir().mkpath(journal + QStringLiteral("/kept")));
    QCOMPARE(journaled.append(format, values), records::LogStatus::CantWriteLog);
    QCOMPARE(QFileInfo(log).size(), logSize);
    QCOMPARE(journaled.lastNumber(), 1);
    QVERIFY(journaled.failed());
    QVERIFY(!journaled.announced());
    QCOMPARE(failures.size(), 1);
    QVERIFY2(failures[0].contains(journal) && failures[0].contains(QLatin1String("run stops")),
             qPrintable(failures[0]));
}

// The window restarts the numbering at a Stop, before the stop's take-back
// or the end of the pulses under way: the journal goes on with the record.
void RunJournalTest::stopRestartsTheNumbering()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("stop.csv"));
    records::JournalContents contents;
    contents.plan.pressure = {true, 1, 2, 1, 2};
    contents.logs = {log, records::rawLogNameFor(log)};
    const records::LogFormat format{records::LogLayout::Csv, true, 1.0};
    for (const bool pulsed : {false, true}) {
        records::JournaledLog journaled;
        journaled.setFiles(contents.logs);
        QCOMPARE(journaled.log().create(format), records::LogStatus::Ok);
        QVERIFY(journaled.begin(contents));
        QCOMPARE(journaled.append(format, records::RecordValues()), records::LogStatus::Ok);
        QVERIFY(journaled.announced());
        journaled.log().restartNumbering();
        if (pulsed)
            QVERIFY(journaled.pulseNoted() && journaled.done());
        else
            QVERIFY(journaled.takeBack());
        QVERIFY2(!journaled.failed(), qPrintable(journaled.failure()));
        QVERIFY(journaled.finish());
    }
}

QTEST_GUILESS_MAIN(RunJournalTest)
#include "tst_runjournal.moc"
