#pragma once

#include "pointsfile.h"
#include "readingsfile.h"
#include "uncertainty.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The run report, "<log>.report.html": one self-contained page (inline CSS
// and SVG, no script) that prints on A4 without splitting a table row. It
// names the run (program, start, box, both logs with their SHA-256, the plan,
// the instrument table), sums it up, shows the temperature and pressure of
// the whole run with a mark at every record, gives every point a row with a
// small trend of its settled window and its statistics, and compares the
// reference point with the grid point of the same conditions when there is one.
namespace records {

struct ReportInputs
{
    ReadingsFile readings; // the run's identity and its whole trace
    QString logName;
    QString rawLogName;
    QByteArray logSha256; // hex
    QByteArray rawLogSha256;
    QString tableName;
    uncertainty::InstrumentTable table;
    std::vector<PointRow> rows;
};

struct RunSummary
{
    int points = 0;  // records in the log
    int planned = 0; // points of the plan, the reference point included
    qint64 durationMs = 0;
    int resumes = 0;
    int repeatedPoints = 0; // records whose point was tried more than once
    int warnings = 0;
    // Logged value minus set point, the largest in size; record 0: none known.
    double largestTDeviation = pointstats::kUnknown;
    int largestTDeviationRecord = 0;
    double largestPDeviationBar = pointstats::kUnknown;
    int largestPDeviationRecord = 0;
    double largestUT = pointstats::kUnknown;
    int largestUTRecord = 0;
    double largestUPBar = pointstats::kUnknown;
    int largestUPRecord = 0;
};
RunSummary summarize(const ReportInputs& inputs);

// The reference point's record and the grid record whose set points lie within
// the controllers' reach tolerances of its own (0.09 K, 0.005 bar); none when
// the plan has no reference point or no grid point matches it.
struct ReferencePair
{
    const PointRow* grid = nullptr;
    const PointRow* reference = nullptr;
};
std::optional<ReferencePair> referencePair(const JournalPlan& plan,
                                           const std::vector<PointRow>& rows);

QByteArray reportHtml(const ReportInputs& inputs);

} // namespace records
