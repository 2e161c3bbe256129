#pragma once

#include "runsetup.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// What baroterm-run prints: the plan before the run, one line per recorded
// point, warnings, and the end with its exit status.
namespace runner {

// Records the plan writes: the grid (an axis that is off counts once) and
// the reference point.
int plannedRecords(const PresetPlan& preset);

// Seconds of the waits the run cannot shorten: the pulse timing of every
// record, the pauses between pressure and temperature points and the set-point
// commands' own waits. Time for the box to reach each point comes on top.
double estimatedSeconds(const PresetPlan& preset, int pulses);

// "1:02:03"; whole seconds.
QString durationText(double seconds);

struct PlanSummary
{
    int records = 0;
    double estimatedS = 0;
    QString unit; // "Bar", "kPa", "psi"
    LogChoice log;
    bool color = true;
    int pulses = 1;
    // A resumed run: the records its logs already hold.
    std::optional<int> recordsHeld;
};
PlanSummary summarise(const PresetPlan& preset, const Options& options, const LogChoice& log);

// The plan for a person: several lines, each ending in a newline.
QString planText(const PresetPlan& preset, const PlanSummary& summary);

// One JSON object, compact, with its newline.
QByteArray jsonLine(const QJsonObject& object);
QJsonObject planEvent(const PresetPlan& preset, const PlanSummary& summary);

// One recorded point.
struct PointReport
{
    int record = 0;
    std::optional<double> tSet;       // degrees C; none when no set point was sent
    std::optional<double> pSet;       // display unit; none without a pressure axis
    double t = 0;                     // written to the log, degrees C
    std::optional<double> p;          // written, display unit; none for "n/a"
    QString unit;                     // "Bar", "kPa", "psi"
    double elapsedS = 0;              // since the run started
    int done = 0;                     // records written so far
    int total = 0;                    // records planned
    std::optional<double> remainingS; // none until the first record
};
// The time to the end from the pace of this process: `doneHere` points in
// `elapsedS`, `left` still to come.
std::optional<double> remainingSeconds(double elapsedS, int doneHere, int left);
QString pointLine(const PointReport& point); // with its newline
QJsonObject pointEvent(const PointReport& point);
QJsonObject warningEvent(const QString& text);
// A record whose point event was printed left the logs again.
QJsonObject takenBackEvent(int record);

// How the program ends.
enum class Ending
{
    Completed,      // 0
    BadUsage,       // 2: nothing was sent to the box
    NoFirstReading, // 3
    BoxLost,        // 4
    Interrupted,    // 130: SIGINT
    Terminated,     // 143: SIGTERM
    Failed,         // 1: the run stopped itself (a record it could not take back)
};
int exitStatus(Ending ending);
// The end event's reason word.
QString reasonWord(Ending ending);
// The one standard-error line of a non-zero status ("baroterm-run: ..."),
// `detail` naming what was wrong; empty for Completed. `resumable`: a journal
// is kept for --resume.
QString endingLine(Ending ending, const QString& detail, bool resumable = true);
QJsonObject endEvent(Ending ending, const QString& detail);

} // namespace runner
