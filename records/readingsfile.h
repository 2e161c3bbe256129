#pragma once

#include "pointstats.h"
#include "runjournal.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>
#include <vector>

// The readings file beside a run's logs, "<log>.readings.csv": the live
// view export's columns, one line per reading and one per run event, written
// as the run goes. Its last column `kind` says what a line is:
//
//   start         a run begins or a resumed run goes on; the event column holds
//                 the run's identity (program, box, plan, logs) as JSON
//   reading       the box was read
//   set_point     a point's set points were sent
//   reached       temperature and pressure both on target
//   pulses_begin  "Pulses of record N begin"
//   pulse         "Pulse I of record N sent", "... refused" or "... answered"
//   pulses_end    "Pulses of record N end"
//   record        "Record N written"
//   taken_back    "Record N taken back"
//   warning       a red warning, as shown
//   stop          the run ended, and how
//
// An event line carries the readings last recorded before it. The points file
// and the report are made from this file's bytes, so a run and a later
// rebuild from the files give the same points file.
namespace records {

QString kindWord(pointstats::Kind kind);

// Who ran what: the start line's contents.
struct RunIdentity
{
    QString program;         // "baroterm-run 2.4.8f"
    JournalContents run;     // box address, log names and plan; no records
    int resumedAtPoint = -1; // a resumed run's first point in the walk; -1 for a new run
};
QString identityText(const RunIdentity& identity);
std::optional<RunIdentity> identityFromText(const QString& text, QString* error = nullptr);

// The event column of a line: made from its fields for the numbered kinds,
// its own text for the others (a default when that is empty).
QString eventText(const pointstats::TraceLine& line);

// One line of the file, pressures in the display unit of `unitFactor`.
QByteArray readingsFileLine(const pointstats::TraceLine& line, double unitFactor);

// The length of the whole lines at the start of `bytes`: a line torn by a
// crash (no CR LF yet, or inside an open quote) is not counted.
qint64 wholeLinesLength(const QByteArray& bytes);

struct ReadingsFile
{
    RunIdentity identity; // of the first start line
    std::vector<pointstats::TraceLine> lines;
};
// Reads back what the appender wrote; a torn last line is left out. None, with
// *error naming the line, for anything else.
std::optional<ReadingsFile> readingsFileFromBytes(const QByteArray& bytes,
                                                  QString* error = nullptr);

// "run.csv" -> "run.csv.readings.csv", ".points.csv", ".report.html".
QString readingsPathFor(const QString& logName);
QString pointsPathFor(const QString& logName);
QString reportPathFor(const QString& logName);

// Writes the readings file line by line, each line handed to the system at
// once, so a crash keeps every line written before it.
class ReadingsFileAppender
{
public:
    // A new run: the file made anew, its header and the start line.
    bool create(const QString& path, const RunIdentity& identity, qint64 atMs);
    // A resumed run: the file goes on after its last whole line (made anew
    // when it is missing) with a start line.
    bool resume(const QString& path, const RunIdentity& identity, qint64 atMs);
    // Appends a line; an event line gets the readings last added.
    bool add(pointstats::TraceLine line);
    void close() { m_file.close(); }
    bool isOpen() const { return m_file.isOpen(); }
    QString errorString() const { return m_error; }

private:
    bool open(const QString& path, bool keep, const RunIdentity& identity, qint64 atMs);
    bool write(const QByteArray& bytes);

    QFile m_file;
    double m_unitFactor = 1.0;
    std::array<float, history::kChannels> m_last{{history::kUnknown, history::kUnknown,
                                                  history::kUnknown, history::kUnknown,
                                                  history::kUnknown, history::kUnknown}};
    QString m_error;
};

} // namespace records
