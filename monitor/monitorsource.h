#pragma once

#include "readinghistory.h"
#include "runcontroller.h"
#include "runprogress.h"

#include <QObject>
#include <QString>

#include <vector>

// What the monitor shows, and the only way it learns it: a front-end hands the
// server a Source. The server only reads it; nothing here changes the box or
// the run. A Source lives on one thread, and the server with it.
namespace monitor {

// One instrument behind the box's serial server.
struct Device
{
    QString name;               // "temperature", "n2", "o2" or "pulse"
    bool connected = false;     // it answers now
    qint64 setPointRetries = 0; // set points sent again since the program started
};

// The box and the operator's choices.
struct BoxView
{
    QString address;                           // the box's address, as connected to
    QString logName;                           // the calibration log's file name; empty: none
    QString unitLabel = QStringLiteral("bar"); // the pressure display unit
    double unitFactor = 1.0;                   // value of 1 bar in that unit
    bool gasOn = false;
    std::vector<Device> devices;
};

// The run as the live view shows it.
struct RunView
{
    bool started = false; // a run was started since the program began
    bool active = false;  // it goes on
    QString phase;        // the phase text; empty before the first run
    run::Plan plan;       // of the last run started: the grid and its headings
    int pointsDone = 0;   // points whose pulses went out, the reference point included
    bool referenceUnderWay = false;
    bool referenceDone = false;
    qint64 startMs = -1;        // ms since the epoch
    qint64 endMs = -1;          // -1 while the run goes on
    qint64 lastPointMs = -1;    // when the last point was done (the start before the first)
    progress::FixedWaits waits; // for the time to the end
};

// The run view of the live view's own tracker, phase and waits.
RunView runViewOf(const progress::RunTracker& tracker, const progress::PhaseInputs& phase,
                  const progress::FixedWaits& waits);

// Totals since the program started.
struct Counters
{
    qint64 recordsWritten = 0;
    qint64 warnings = 0;
    qint64 pulsesSent = 0;
    qint64 pulsesUnanswered = 0;
};

class Source : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The readings (pressures in bar) and events, as the live view keeps them.
    virtual const history::ReadingHistory& history() const = 0;
    // The box now.
    virtual BoxView box() const = 0;
    // The run now.
    virtual RunView run() const = 0;
    // The totals now.
    virtual Counters counters() const = 0;

signals:
    // history() holds a new sample, its last.
    void readingAdded();
    // history() holds a new event, its last (or the last one counts one more).
    void eventAdded();
    // run() changed: started, phase, points done, ended.
    void runChanged();
    // box() changed: a device lost or back, gas, log, unit.
    void boxChanged();
};

} // namespace monitor
