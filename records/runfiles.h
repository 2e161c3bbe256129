#pragma once

#include "pointsfile.h"
#include "readingsfile.h"
#include "uncertainty.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The points file and the report of a run, made from its files alone: both
// logs, the readings file and an instrument table. A run makes them this way
// at its end and a rebuild later does the same, so both give the same points
// file byte for byte.
namespace records {

struct LoggedRecord
{
    int number = 0;
    double t = pointstats::kUnknown;    // degrees C
    double pBar = pointstats::kUnknown; // "n/a" in the log: not known
};

// The records of a calibration log of either layout, in the order written;
// `unitFactor` is the run's (a psi log holds bar times it). None, with *error
// naming the line, for a log this program did not write.
std::optional<std::vector<LoggedRecord>> loggedRecords(const QByteArray& log, double unitFactor,
                                                       QString* error = nullptr);

struct RunFilesInputs
{
    QString logName; // the calibration log's path; the raw log is named after it
    QByteArray log;
    QByteArray rawLog;
    QByteArray readings;
    uncertainty::InstrumentTable table;
    QString tableName; // where the table came from, as the report names it
};

struct RunFiles
{
    QByteArray points;
    QByteArray report;
};

// None, with *error saying which file is at fault and why.
std::optional<RunFiles> makeRunFiles(const RunFilesInputs& inputs, QString* error = nullptr);

// Reads the calibration log `logName`, its raw log and its readings file and
// writes the points file and the report beside them.
bool writeRunFiles(const QString& logName, const uncertainty::InstrumentTable& table,
                   const QString& tableName, QString* error = nullptr);

} // namespace records
