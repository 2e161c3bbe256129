#pragma once

#include "logfiles.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

// The run journal: what a resumed run needs beside the logs. The logs say
// which records exist; the journal holds the plan they were written for and
// what happened to each record's pulses. It sits beside the calibration log
// under the log's name with ".run" added, and every update replaces it whole
// and reaches the disk before the step it announces.
namespace records {

constexpr int kJournalFormat = 1;

struct JournalAxis
{
    bool on = false;
    double from = 0; // as planned: degrees C, or the pressure in the display unit
    double to = 0;
    double step = 0;
    int points = 0;
};

struct JournalPlan
{
    JournalAxis temperature;
    JournalAxis pressure;
    double unitFactor = 1.0;
    LogLayout layout = LogLayout::Csv;
    bool color = true;
    int pulsesPerPoint = 1;
    int delayBetweenPulsesS = 0;
    int waitBeforePulseS = 0;
    int extraWaitAtZeroS = 0; // before a pulse at 0 bar
    bool cameraFeedback = true;
    QString pulseWidth = QStringLiteral("010");
    bool referencePointOn = false;
    double referenceT = 20.0;
    double referenceP = 1.0; // display unit

    // Points of the grid walk (temperature outer, pressure inner): none when
    // both axes are off.
    int gridPoints() const;
    // The grid points and the reference point: one record each.
    int totalPoints() const;
};

// Both logs as they stood: sizes and SHA-256 of their bytes (hex).
struct LogState
{
    qint64 logSize = 0;
    qint64 rawSize = 0;
    QByteArray logSha256;
    QByteArray rawSha256;
};

LogState logStateOf(const QByteArray& log, const QByteArray& raw);
// Reads both files; none when either cannot be read.
std::optional<LogState> readLogState(const LogFileNames& names);

struct JournalRecord
{
    int number = 0;
    // Both logs right after this record went in. The hashes are kept for the
    // last two records only: a hash covers every record before it too.
    LogState after;
    bool announced = false; // the first pulse command is about to go out
    int pulsesNoted = 0;    // pulse commands written
    bool done = false;      // the sequence has ended with its pulses out
    bool takenBack = false; // none of its pulses out; noted before the logs were cut
    // Taken back by a resume while its pulses were under way: the camera may
    // hold its images until the point is recorded again.
    bool underWay = false;
};

struct JournalContents
{
    int format = kJournalFormat;
    JournalPlan plan;
    QString boxAddress;
    LogFileNames logs;
    // Numbered 1, 2, ... in order; only the last may be taken back.
    QVector<JournalRecord> records;

    // The last record still in the logs; none before the first.
    const JournalRecord* lastLive() const;
    const JournalRecord* find(int number) const;
};

// SHA-256 (hex) of every value of the plan: the journal keeps it beside the
// plan, so a plan changed after the run began is found.
QByteArray planSha256(const JournalPlan& plan);

QByteArray journalToBytes(const JournalContents& contents);
// None, with *error saying why, for anything but a journal this program wrote
// whose records are in an order a run can leave behind. A journal without the
// plan's hash (written before it was kept) is read on its plan alone.
std::optional<JournalContents> journalFromBytes(const QByteArray& bytes, QString* error = nullptr);

// The journal once record `number` is taken back (see RunJournal::takenBack);
// none, with *error saying why, when that does not follow the record's fate.
std::optional<JournalContents> journalWithTakeBack(const JournalContents& contents, int number,
                                                   bool underWay, QString* error = nullptr);

// "run1.csv" -> "run1.csv.run".
QString journalPathFor(const QString& logName);

// Replaces `path` by `bytes` so that a crash leaves either the old or the new
// file: a temporary file beside it is written and flushed to disk, renamed over
// it, and the folder flushed too.
bool writeFileDurably(const QString& path, const QByteArray& bytes, QString* error = nullptr);
// Flushes a file's bytes to disk (the logs after each record).
bool syncFileToDisk(const QString& path);
// Flushes the folder holding `path`, so a file made or renamed there stays.
// Always true where the platform has no such call.
bool syncFolderOf(const QString& path);

// The journal of one run on disk. Every update is written durably before it
// returns; false (the journal on disk unchanged, errorString() saying why)
// when it could not be, or when it does not follow the record's last fate.
class RunJournal
{
public:
    // Writes a new journal (no records yet) for contents.logs.log.
    bool begin(const JournalContents& contents);
    // Takes over a journal found on disk, e.g. to resume its run.
    bool open(const QString& path);

    const QString& path() const { return m_path; }
    const JournalContents& contents() const { return m_contents; }
    QString errorString() const { return m_error; }

    // The steps of one point, in this order. Record `number` is appended to
    // both logs and both are on disk: `after` is their state now.
    bool recordAppended(int number, const LogState& after);
    bool pulsesAnnounced(int number);
    bool pulseNoted(int number);
    bool pulsesDone(int number);
    // Before the logs are cut, for a record none of whose pulses went out.
    // Also for a record the logs hold and the journal never heard of (a
    // resume that finds it), and, by a resume only, for one whose pulses were
    // under way when the run stopped (`underWay`).
    bool takenBack(int number, bool underWay = false);

    // The run completed or was stopped. True when no journal is left.
    bool remove();

private:
    bool commit(const JournalContents& next);
    bool refuse(const QString& why);
    JournalRecord* lastEntry(int number);

    QString m_path;
    JournalContents m_contents;
    QString m_error;
};

} // namespace records
