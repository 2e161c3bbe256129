#pragma once

#include "runcontroller.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <vector>

// A run's progress as the live view shows it: the phase in words, which grid
// points are done, and when the run will end.
namespace progress {

// Where the window's pulse sequence is; the controller only knows that one
// is under way.
enum class PulseStage
{
    None,
    WaitingBeforePulse,
    Pulsing,
};

struct PhaseInputs
{
    run::Phase phase = run::Phase::Idle;
    bool repeatingPoint = false; // the controller's: a point is being tried again
    PulseStage pulse = PulseStage::None;
};

// One of the eleven phase texts; empty when no run has been started.
QString phaseText(const PhaseInputs& in);

// The points of a plan in the order the run walks them: temperature rows,
// each of pressure columns. An axis that is off counts as one point.
struct Grid
{
    int temperatures = 1;
    int pressures = 1;
    bool referencePoint = false;
    int gridPoints() const { return temperatures * pressures; }
    int allPoints() const { return gridPoints() + (referencePoint ? 1 : 0); }
};

Grid gridOf(const run::Plan& plan);

// The headings of the grid: each row's temperature ("22.0 °C"), each
// column's pressure in the display unit ("1.00 Bar"), and for the reference
// row its point on two lines ("Ref 23.0 °C", "1.00 Bar"). An axis that is off is headed "T"
// or "P": the run leaves that quantity where it is.
struct GridHeadings
{
    QStringList rows;
    QStringList columns;
};
GridHeadings gridHeadings(const run::Plan& plan, double unitFactor, const QString& unitLabel);

// Grid points done from the controller's indexes while the grid is walked.
int gridPointsDone(const run::Plan& plan, int temperatureIndex, int pressureIndex);

enum class PointState
{
    Waiting,
    Current,
    Done,
};

// The state of grid point (row, column), or of the reference point (row -1).
PointState pointState(const Grid& grid, int pointsDone, bool runActive, bool referenceUnderWay,
                      bool referenceDone, int row, int column);

// The waits of each point that do not depend on the box, in walking order,
// the reference point last: the wait before the pulse (plus the extra wait at
// 0 bar of a pressure grid), the delays between pulses, and the pause between
// two pressure points.
struct FixedWaits
{
    int waitBeforePulseS = 0;
    int extraWaitAtZeroS = 0;
    int pulsesPerPoint = 1;
    int delayBetweenPulsesS = 0;
    int pauseBetweenPointsMs = 2200;
};
std::vector<qint64> fixedWaitsPerPoint(const run::Plan& plan, const FixedWaits& waits);

// Time left until the run ends, from the fixed waits of the points left and
// the measured mean of the rest of each point done so far (settling, camera,
// polls). Without a point done the fixed waits alone give a lower bound.
struct Estimate
{
    qint64 remainingMs = 0;
    bool measured = false; // false: fixed waits only, the real end is later
};
Estimate estimateRemaining(const std::vector<qint64>& fixedMsPerPoint, int pointsDone,
                           qint64 runStartMs, qint64 lastPointDoneMs, qint64 nowMs);

// Follows a run through the controller's state: when it started, how many
// points are done and when the last one was. The window tells it after every
// step, so it knows the run whether the view is open or not.
class RunTracker
{
public:
    void observe(const run::RunController& controller, qint64 nowMs);

    bool started() const { return m_startMs >= 0; }
    const run::Plan& plan() const { return m_plan; }
    Grid grid() const { return gridOf(m_plan); }
    bool active() const { return m_active; }
    qint64 startMs() const { return m_startMs; }
    qint64 endMs() const { return m_endMs; } // -1 while active
    qint64 lastPointMs() const { return m_lastPointMs; }
    // Points whose pulses went out, the reference point included.
    int pointsDone() const { return m_done; }
    // Grid points done: the reference point is not on the grid.
    int gridPointsDone() const { return std::min(m_done, grid().gridPoints()); }
    bool referenceUnderWay() const { return m_referenceUnderWay; }
    bool referenceDone() const { return m_referenceDone; }

private:
    run::Plan m_plan;
    bool m_active = false;
    qint64 m_startMs = -1;
    qint64 m_endMs = -1;
    qint64 m_lastPointMs = -1;
    int m_done = 0;
    bool m_referenceUnderWay = false;
    bool m_referenceDone = false;
};

// "1 h 05 min", "12 min 30 s", "45 s".
QString durationText(qint64 ms);

} // namespace progress
