#pragma once

#include "runfloor.h"

#include <QString>
#include <QVector>

#include <functional>

class BenchDialogs;
class TempSensor;

// Drives the real window through its own controls, as an operator would.
namespace windowdriver {

struct Plan
{
    bool temperatureAxis = false;
    double tFrom = 22, tTo = 24, tStep = 1; // degrees C
    bool pressureAxis = false;
    double pFrom = 0, pTo = 4, pStep = 1; // display unit (bar on fresh settings)
};

// What the process looked like at one moment of a run.
struct Sample
{
    qint64 rssKb = 0;
    int fds = 0;
    qint64 atMs = 0; // since the run started
};

struct RunOutcome
{
    bool finished = false; // the window stopped the run by itself in time
    double wallS = 0;
    double cpuS = 0;
    Sample atStart;
    Sample atEnd;
    QVector<Sample> atPulses; // one per pulse, taken as the pulse is announced
};

Sample sampleNow();

// Runs the event loop for `ms` without waking in between.
void idleFor(int ms);
// Runs the event loop until `condition` holds, checking every 20 ms; false on time-out.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

// True once the window shows a temperature reading.
bool hasReading(TempSensor* window);

// Sets the sweep boxes and the axis switches, and unchecks camera feedback.
void planGrid(TempSensor* window, const Plan& plan);
// Points per axis the run will walk, from the values the spin boxes now hold.
runfloor::Grid plannedPoints(TempSensor* window);

// Checks "Write Log" with `path` as the answer of the file dialog.
bool chooseLog(TempSensor* window, BenchDialogs& dialogs, const QString& path);
// Records in a calibration log (lines after the header).
int recordsIn(const QString& logPath);

// Checks the start button and waits until the window unchecks it and the stop
// is over, at most `timeoutMs`; a run still going then is stopped.
RunOutcome runToEnd(TempSensor* window, qint64 timeoutMs);

} // namespace windowdriver
