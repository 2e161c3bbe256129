#pragma once

#include "logformat.h"

#include <QString>

// The two files of a logged run: naming, creating and appending records.
// Each operation opens, writes and closes its files before it returns.
namespace records {

struct LogFileNames
{
    QString log;    // calibration log
    QString rawLog; // raw gas log beside it
};

enum class LogStatus
{
    Ok,
    CantOpenLog,     // creating the calibration log failed
    CantOpenRawLog,  // creating the raw log failed; the calibration log is left empty
    CantWriteLog,    // appending to the calibration log failed; neither file changed
    CantWriteRawLog, // appending to the raw log failed; neither file changed
};

// The status-bar warning for a failure (translated in the window's context);
// empty for Ok.
QString logStatusMessage(LogStatus status);

// A path from a file dialog in the platform's own form (backslashes on Windows).
QString nativePath(const QString& path);

// Gives the name the layout's ".csv" or ".cls" (in any letter case): the other
// layout's ending is replaced, any other name gets the ending added, so that
// cutting the last four characters for the raw log's name never cuts into the
// name itself. An empty name stays empty.
QString withLogExtension(const QString& name, LogLayout layout);

// The calibration log's name without its last four characters, plus "_SLPM.csv".
QString rawLogNameFor(const QString& logName);

// Both names for a path and filter chosen in the log-file dialog.
LogFileNames logFileNamesFor(const QString& chosenPath, const QString& filter);

// Creates (truncates) both files and writes their headers. The calibration
// log's header follows the layout, the color choice and the unit; the raw
// log's the unit alone.
LogStatus createLogFiles(const LogFileNames& names, LogLayout layout, bool color,
                         double unitFactor);

// Where both files ended before a record went in: enough to take it back.
struct LogEnds
{
    qint64 log = -1;
    qint64 rawLog = -1;
};

// Appends one line to each file, or leaves both as they were: whatever reached
// either file is cut off again when the other cannot take its line. On Ok,
// *before (when given) says where the files ended before the lines.
LogStatus appendLogLines(const LogFileNames& names, const QByteArray& logLine,
                         const QByteArray& rawLine, LogEnds* before = nullptr);

// One calibration point into both files. The caller advances its record
// counter to values.number only when this returns Ok.
LogStatus appendRecord(const LogFileNames& names, LogLayout layout, bool color, double unitFactor,
                       const RecordValues& values, LogEnds* before = nullptr);

// Takes the last record out of both files again by cutting them back to where
// they ended before it. Refuses (false, nothing changed) when either file is
// already shorter than that, since then it no longer ends with that record.
bool withdrawRecord(const LogFileNames& names, const LogEnds& before);

} // namespace records
