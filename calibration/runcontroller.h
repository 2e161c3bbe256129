#pragma once

#include "gasmix.h"
#include "sweep.h"

#include <QString>
#include <QtGlobal>

#include <optional>

// The decisions of a calibration run, free of widgets, sockets and waits.
//
// Readings, operator actions and the ends of commands come in as events; the
// controller answers with commands, one at a time: it gives the next command
// only after the previous one has been reported done. A reading that arrives
// while a command runs only updates what the controller knows, so no step can
// start inside another.
//
// One run step follows every temperature reading, trying these rules in order:
//  1. At the reference temperature with the gas off: gas on.
//  2. Reference point reached: record and pulse it, then end the run.
//  3. Grid done: end the run, or with a reference point switch the gas off and
//     send the reference temperature.
//  4. Temperature reached, pressure not: gas on (sends the set points again).
//  5. Unless pressure and temperature are both reached: nothing more.
//  6. Pressure axis on: gas on once more, the gas keeps flowing for the pulses.
//  7. Pressure step: record and pulse, next pressure point, 2 s with the
//     temperature poller paused and 0.2 s more, send the next pressure.
//  8. Temperature step: a temperature-only grid records and pulses here; next
//     temperature point, pressure point 0, gas off until it is reached.
//
// A record pairs the camera's images with the box's state, so a point is
// recorded only with flow readings made after the last gas change and at most
// 3 s old, and on a pressure axis only when both controllers report the set
// points sent and their flows have settled there. No pulse goes out for a
// record that could not be written, and a record none of whose pulses went out
// is taken back; a record that cannot be taken back ends the run.
namespace run {

struct Plan
{
    bool temperatureAxisOn = false;
    // Its "From:" is where every stop leaves the controller, even when off.
    sweep::TemperatureAxis temperature;
    bool pressureAxisOn = false;
    sweep::PressureAxis pressure;
    double unitFactor = 1.0; // value of 1 bar in the display unit
    bool referencePointOn = false;
    double referenceT = 20.0; // degrees C
    double referenceP = 1.0;  // display unit
    bool writeLog = false;    // "Write Log": the records go to the log files
    bool gasOff = true;       // the gas state when the run starts
    // A resumed run starts at this point of the grid walk (temperature outer,
    // pressure inner); the grid's point count means the reference point.
    int firstPoint = 0;
};

// The run's own rests, in milliseconds. Tests may shorten them; a run always
// takes these.
struct Timing
{
    int pointPauseMs = 2000; // the temperature poller rests between two points
    int pointSettleMs = 200; // then the box gets a moment before the next set points
    int startWaitMs = 100;
    int temperatureShowMs = 200;
    int stopTemperatureShowMs = 100;
    int closeGasWaitMs = 50;
    // Every rest divided by `scale`.
    Timing scaled(double scale) const;
};

enum class FlowController
{
    N2,
    O2
};

enum class EndReason
{
    Stopped,        // the operator's Stop
    GridDone,       // last point recorded, no reference point
    ReferenceDone,  // reference point recorded
    TakeBackFailed, // a record without images could not leave the logs
};

struct Command
{
    enum Kind
    {
        SetTemperature, // show `value`, wait `ms`, then send it (not after a stop)
        SetPressure,    // show `value` (display unit); with `send`, send `flows`
        GasOn,          // gas on at `value`: sends `flows`
        GasOff,         // sends zero `flows`
        Wait,           // `ms`, the temperature poller paused when asked
        WriteRecord,
        PulseSequence,
        TakeBackRecord,
        ShowStatus, // `text` for `ms`; red when `warning`
        RunEnded,   // the stop branch: logging closed, end signal, controls back
    };
    Kind kind = Wait;
    double value = 0;
    gasmix::Flows flows;
    bool send = true;
    int ms = 0;
    bool pauseTemperaturePoller = false;
    // A pulse at 0 bar of a pressure grid waits the extra delay first.
    bool extraWaitAtZeroPressure = false;
    QString text;
    bool warning = false;
    EndReason reason = EndReason::Stopped;
};

struct CommandResult
{
    qint64 atMs = 0;       // when the command ended, on the readings' clock
    bool ok = true;        // WriteRecord: written; TakeBackRecord: taken back
    int pulsesSent = 0;    // PulseSequence: pulses that reached the generator
    int pulsesRefused = 0; // PulseSequence: of those reaching it, refused ("RR1")
    int recordNumber = 0;  // WriteRecord: the number the record got
    // Gas commands: the flows the box was sent, when they differ from the
    // command's (the window sends what its pressure box shows, rounded).
    std::optional<gasmix::Flows> flowsSent;
};

enum class Phase
{
    Idle,
    Starting,
    WaitingForTemperature,
    WaitingForPressure,
    WaitingForFlowReadings,
    WaitingForFlowsToSettle,
    AtPoint, // both reached: recorded at the next reading
    Recording,
    NextPoint, // the waits and set points between two points
    ReferencePoint,
    Stopped,
    Done,
    Closed,
};

class RunController
{
public:
    // The flow controllers' own tolerances, given by their protocol: whether a
    // reported set point is the one sent, and whether a flow has settled.
    using FlowCheck = bool (*)(float reading, float expected, uchar busId);
    struct FlowChecks
    {
        FlowCheck reportsSetPoint = nullptr;
        FlowCheck settled = nullptr;
        uchar n2Id = 1;
        uchar o2Id = 2;
    };
    explicit RunController(const FlowChecks& checks);
    void setTiming(const Timing& timing) { m_timing = timing; }
    const Timing& timing() const { return m_timing; }

    // Events.
    // False (and nothing happens) while a run or a command is under way.
    bool start(const Plan& plan);
    // Whether start() would take a run now.
    bool canStart() const;
    void temperatureReading(float celsius, qint64 atMs);
    void flowReading(FlowController which, float setPoint, float massFlow, qint64 atMs);
    // Set points sent by anyone but the run (manual gas, the controllers'
    // initialisation: nullopt, nothing is known of them any more).
    void setPointsSent(const std::optional<gasmix::Flows>& flows, qint64 atMs);
    // The box stopped answering: no reading made before now may stand behind
    // a record. The run waits where it is for fresh readings.
    void boxLost(qint64 atMs);
    void commandDone(const CommandResult& result);
    // The command under way is reported done as usual: it should end as soon
    // as it can (a pulse sequence or a wait at once, a set point unsent).
    void stop();
    // The window closes: the instruments are left safe and nothing follows.
    void close();

    // The command to carry out next, until it is reported done.
    const std::optional<Command>& command() const { return m_command; }
    Phase phase() const;
    bool runActive() const { return m_active; }
    // The grid is being walked: from start until its last point, a stop or a
    // close (false during the reference point).
    bool walking() const { return m_running; }
    // The display pressure the gas commands mix for.
    double pressureSetPoint() const { return m_pressureDisplay; }
    // Where the walk is, for the progress bars: points done on each axis.
    int temperatureIndex() const { return m_tIndex; }
    int temperaturePoints() const { return m_tSteps; }
    int pressureIndex() const { return m_pIndex; }
    int pressurePoints() const { return m_pSteps; }
    // A point's record or pulses failed and the point is being tried again,
    // until its pulses go out or the run ends.
    bool repeatingPoint() const { return m_repeating; }
    // The plan of the last run started.
    const Plan& plan() const { return m_plan; }

private:
    enum class Stage;
    struct Reading
    {
        float setPoint = 0;
        float massFlow = 0;
        qint64 atMs = -1;
    };
    enum class Waiting
    {
        Nothing,
        FlowReadings,
        FlowsToSettle
    };

    void proceed();
    void runStage();
    void issue(const Command& command, Stage resumeAt);
    void issueStatus(const QString& text, bool warning, Stage resumeAt);
    void issueGas(Command::Kind kind, Stage resumeAt);
    void issueSetPressure(int index, Stage resumeAt);
    void beginRecord(Stage afterRecorded);
    void endRun(EndReason reason);
    void noteFlowsSent(const std::optional<gasmix::Flows>& flows, qint64 atMs);
    void noteTime(qint64 atMs);
    bool flowReadingsCurrent() const;
    bool flowsSettledAtSetPointsSent() const;
    QString whereText() const;
    double pressurePoint(int index) const;

    FlowChecks m_checks;
    Timing m_timing;
    Plan m_plan;
    std::optional<Command> m_command;
    Stage m_stage;
    CommandResult m_lastResult;
    qint64 m_nowMs = 0;

    // Run state.
    bool m_active = false;    // from start until the run has ended
    bool m_running = false;   // the grid is being walked
    bool m_stopAsked = false; // stays asked until the next start
    bool m_closeAsked = false;
    EndReason m_endReason = EndReason::Stopped;
    bool m_takeBackFailed = false;
    int m_tIndex = 0, m_tSteps = 0, m_pIndex = 0, m_pSteps = 0;
    bool m_temperatureReached = false;
    bool m_pressureReached = false;
    bool m_referenceMode = false;
    bool m_referenceTReached = false;
    bool m_referencePReached = false;
    bool m_gasOff = true;
    double m_pressureDisplay = 0;
    Waiting m_waiting = Waiting::Nothing;

    // The point being recorded.
    Stage m_afterRecorded;
    QString m_where;
    bool m_recordInLog = false; // written and none of its pulses out yet
    int m_recordNumber = 0;
    bool m_repeating = false;
    bool m_pulsesRefused = false; // the generator refused every pulse of the point

    // Readings, kept across runs.
    Reading m_n2, m_o2, m_pressureN2;
    QString m_n2Text, m_o2Text, m_temperatureText;
    float m_airPressureBar = gasmix::kNoPressure;
    std::optional<gasmix::Flows> m_flowsSent;
    qint64 m_gasChangedAtMs = 0;
    qint64 m_lostAtMs = -1;
};

} // namespace run
