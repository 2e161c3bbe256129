#include "runcontroller.h"

#include <algorithm>
#include <cmath>

namespace run {

namespace {

// Four poll periods: a flow controller that has not answered for longer may
// no longer deliver what the readouts show.
constexpr qint64 kFlowReadingMaxAgeMs = 3000;
constexpr double kTemperatureReachedC = 0.09;
constexpr double kPressureReachedBar = 0.005;
constexpr double kReferencePressureReachedBar = 0.01;
constexpr int kStatusMs = 2000;
constexpr int kWarningMs = 4000;

bool sameFlows(const gasmix::Flows& a, const gasmix::Flows& b)
{
    return a.n2 == b.n2 && a.o2 == b.o2;
}

} // namespace

// Where a run step goes on when its last command is done. In the order of the
// step: stop and close compare stages to know whether they came before them.
enum class RunController::Stage
{
    None, // nothing under way; the next temperature reading starts a step
    StartTemperature,
    StartPressure,
    StartWait,
    ReferenceGas,
    ReferenceRecord,
    ReferenceRecorded,
    GridDone,
    ReferenceGasOff,
    ReferenceTemperatureSent,
    PressureNotReached,
    PointReached,
    PressureStep,
    PressureStepRecorded,
    PressureStepPaused,
    PressureStepSettled,
    TemperatureStep,
    TemperatureStepRecorded,
    TemperatureStepPause,
    TemperatureStepSettle,
    TemperatureStepSend,
    TemperatureStepSent,
    TemperatureStepGasOff,
    RecordCheck,
    RecordWritten,
    RecordPulse,
    RecordPulsed,
    RecordTakenBack,
    StopAsked,
    StopTookBack,
    EndAnnounce,
    EndGas,
    EndTemperature,
    EndWarning,
    Ended,
    CloseAsked,
    CloseTookBack,
    CloseStart,
    CloseWait,
    CloseGas,
    Closed,
};

Timing Timing::scaled(double scale) const
{
    auto by = [scale](int ms) { return int(ms / scale); };
    return {by(pointPauseMs),      by(pointSettleMs),         by(startWaitMs),
            by(temperatureShowMs), by(stopTemperatureShowMs), by(closeGasWaitMs)};
}

RunController::RunController(const FlowChecks& checks)
    : m_checks(checks), m_stage(Stage::None), m_afterRecorded(Stage::None)
{
}

bool RunController::canStart() const
{
    return !m_active && !m_command && m_stage < Stage::CloseAsked;
}

bool RunController::start(const Plan& plan)
{
    if (!canStart())
        return false;
    m_plan = plan;
    m_active = true;
    m_running = true;
    m_stopAsked = false;
    m_takeBackFailed = false;
    m_endReason = EndReason::Stopped;
    m_referenceMode = m_referenceTReached = m_referencePReached = false;
    m_recordInLog = false;
    m_repeating = false;
    m_waiting = Waiting::Nothing;
    m_gasOff = plan.gasOff;
    m_tIndex = m_pIndex = 0;
    m_tSteps = plan.temperatureAxisOn ? plan.temperature.points : 0;
    m_pSteps = plan.pressureAxisOn ? plan.pressure.points : 0;
    m_temperatureReached = !plan.temperatureAxisOn;
    m_pressureReached = !plan.pressureAxisOn;
    if (plan.firstPoint > 0) {
        const int perTemperature = plan.pressureAxisOn ? m_pSteps : 1;
        const int gridPoints = plan.temperatureAxisOn || plan.pressureAxisOn
                                   ? (plan.temperatureAxisOn ? m_tSteps : 1) * perTemperature
                                   : 0;
        if (plan.firstPoint >= gridPoints) {
            m_tIndex = m_tSteps;
            m_pIndex = m_pSteps;
        } else {
            m_tIndex = plan.firstPoint / perTemperature;
            m_pIndex = plan.firstPoint % perTemperature;
        }
        // As at every point after a run's first: a temperature-only grid lets
        // the gas flow and waits for a valid pressure before it records.
        m_pressureReached = false;
    }
    m_stage = Stage::StartTemperature;
    proceed();
    return true;
}

void RunController::noteTime(qint64 atMs)
{
    m_nowMs = std::max(m_nowMs, atMs);
}

void RunController::temperatureReading(float celsius, qint64 atMs)
{
    noteTime(atMs);
    m_temperatureText = QString::number(double(celsius), 'f', 1);
    if (m_tIndex == m_tSteps && m_tIndex > 0)
        m_temperatureReached = true;
    if (m_plan.temperatureAxisOn) {
        const double target =
            sweep::temperaturePoint(m_tIndex, m_plan.temperature.start, m_plan.temperature.delta);
        m_temperatureReached = m_running && m_tIndex < m_tSteps &&
                               std::fabs(double(celsius) - target) < kTemperatureReachedC;
    }
    m_referenceTReached =
        m_referenceMode && std::fabs(double(celsius) - m_plan.referenceT) < kTemperatureReachedC;

    // One step per reading, and none inside another.
    if (m_command || m_stage != Stage::None || !m_active || m_stopAsked)
        return;
    if (!m_running && !m_referenceMode)
        return;
    m_stage = Stage::ReferenceGas;
    proceed();
}

void RunController::flowReading(FlowController which, float setPoint, float massFlow, qint64 atMs)
{
    noteTime(atMs);
    if (which == FlowController::N2) {
        m_n2 = {setPoint, massFlow, atMs};
        m_n2Text = gasmix::flowText(massFlow);
        return;
    }
    m_o2 = {setPoint, massFlow, atMs};
    m_o2Text = gasmix::flowText(massFlow);
    // From the flows as the readouts show them, as the operator sees them.
    m_airPressureBar = gasmix::equivalentAirPressure(m_n2Text.toDouble(), m_o2Text.toDouble());
    m_pressureN2 = m_n2;
    const bool valid = m_airPressureBar != gasmix::kNoPressure;

    const float target = float(m_pIndex) * m_plan.pressure.delta + m_plan.pressure.start;
    if (valid && m_plan.pressureAxisOn && m_running && m_pIndex < m_pSteps &&
        double(std::fabs(m_airPressureBar - target)) < kPressureReachedBar)
        m_pressureReached = true;
    else if (m_plan.pressureAxisOn)
        m_pressureReached = false;
    m_referencePReached =
        m_referenceMode && valid &&
        std::fabs(double(m_airPressureBar) - m_plan.referenceP / m_plan.unitFactor) <
            kReferencePressureReachedBar;
    // Past the last pressure point (or without a pressure axis) any valid
    // pressure will do: the temperature step follows.
    if (valid && m_pIndex == m_pSteps && m_running)
        m_pressureReached = true;
}

void RunController::noteFlowsSent(const std::optional<gasmix::Flows>& flows, qint64 atMs)
{
    noteTime(atMs);
    // Sending the same set points again (as each step does) changes no flow.
    if (!flows || !m_flowsSent || !sameFlows(*flows, *m_flowsSent))
        m_gasChangedAtMs = atMs;
    m_flowsSent = flows;
}

void RunController::setPointsSent(const std::optional<gasmix::Flows>& flows, qint64 atMs)
{
    noteFlowsSent(flows, atMs);
    // Zero flows are the gas switched off, also by hand during a run: the
    // reference point must switch it on again rather than wait for ever.
    if (flows)
        m_gasOff = flows->n2 == 0 && flows->o2 == 0;
}

void RunController::boxLost(qint64 atMs)
{
    noteTime(atMs);
    m_lostAtMs = atMs;
}

void RunController::commandDone(const CommandResult& result)
{
    if (!m_command)
        return;
    const Command done = *m_command;
    m_command.reset();
    m_lastResult = result;
    noteTime(result.atMs);
    switch (done.kind) {
    case Command::SetPressure:
    case Command::GasOn:
    case Command::GasOff:
        // What went out, not what was asked: flows that differ from the last
        // ones sent mark a change, and readings made before it do not count.
        if (done.kind != Command::SetPressure || done.send)
            noteFlowsSent(result.flowsSent ? result.flowsSent : done.flows, result.atMs);
        break;
    case Command::WriteRecord:
        m_recordInLog = result.ok;
        m_recordNumber = result.recordNumber;
        break;
    case Command::PulseSequence:
        if (result.pulsesSent > 0)
            m_recordInLog = false;
        break;
    case Command::TakeBackRecord:
        if (result.ok)
            m_recordInLog = false;
        break;
    default:
        break;
    }
    proceed();
}

void RunController::stop()
{
    if (!m_active || m_stopAsked)
        return;
    m_stopAsked = true;
    // From now on no reading may reach a point or the reference.
    m_running = false;
    m_referenceMode = m_referenceTReached = m_referencePReached = false;
    proceed();
}

void RunController::close()
{
    if (m_closeAsked)
        return;
    m_closeAsked = true;
    proceed();
}

void RunController::proceed()
{
    while (!m_command) {
        // A stop or a close replaces whatever the step would have done next.
        if (m_closeAsked && m_stage < Stage::CloseAsked)
            m_stage = Stage::CloseAsked;
        else if (m_stopAsked && m_stage < Stage::StopAsked)
            m_stage = Stage::StopAsked;
        if (m_stage == Stage::None || m_stage == Stage::Ended || m_stage == Stage::Closed)
            return;
        runStage();
    }
}

void RunController::issue(const Command& command, Stage resumeAt)
{
    m_command = command;
    m_stage = resumeAt;
}

void RunController::issueStatus(const QString& text, bool warning, Stage resumeAt)
{
    Command command;
    command.kind = Command::ShowStatus;
    command.text = text;
    command.warning = warning;
    command.ms = warning ? kWarningMs : kStatusMs;
    issue(command, resumeAt);
}

void RunController::issueGas(Command::Kind kind, Stage resumeAt)
{
    if (kind == Command::GasOn)
        m_gasOff = false;
    else if (kind == Command::GasOff)
        m_gasOff = true;
    Command command;
    command.kind = kind;
    command.value = m_pressureDisplay;
    command.flows = gasmix::flowsForPressure(m_pressureDisplay, m_plan.unitFactor, m_gasOff);
    issue(command, resumeAt);
}

void RunController::issueSetPressure(int index, Stage resumeAt)
{
    m_pressureDisplay = pressurePoint(index);
    issueGas(Command::SetPressure, resumeAt);
}

namespace {

Command temperatureCommand(double celsius, int showMs)
{
    Command command;
    command.kind = Command::SetTemperature;
    command.value = celsius;
    command.ms = showMs;
    return command;
}

Command waitCommand(int ms, bool pauseTemperaturePoller)
{
    Command command;
    command.kind = Command::Wait;
    command.ms = ms;
    command.pauseTemperaturePoller = pauseTemperaturePoller;
    return command;
}

Command plainCommand(Command::Kind kind)
{
    Command command;
    command.kind = kind;
    return command;
}

} // namespace

void RunController::beginRecord(Stage afterRecorded)
{
    m_afterRecorded = afterRecorded;
    m_stage = Stage::RecordCheck;
}

void RunController::endRun(EndReason reason)
{
    m_endReason = reason;
    m_repeating = false;
    m_running = false;
    m_referenceMode = m_referenceTReached = m_referencePReached = false;
    m_stage = Stage::EndAnnounce;
}

void RunController::runStage()
{
    const bool tOn = m_plan.temperatureAxisOn;
    const bool pOn = m_plan.pressureAxisOn;
    switch (m_stage) {
    case Stage::StartTemperature:
        // Past the grid (a resume at the reference point) nothing is sent here.
        if (tOn && (m_tIndex < m_tSteps || m_tIndex == 0))
            issue(temperatureCommand(sweep::temperaturePoint(m_tIndex, m_plan.temperature.start,
                                                             m_plan.temperature.delta),
                                     0),
                  Stage::StartPressure);
        else
            m_stage = Stage::StartPressure;
        break;
    case Stage::StartPressure:
        if (pOn && (m_pIndex < m_pSteps || m_pIndex == 0))
            issueSetPressure(m_pIndex, Stage::StartWait);
        else
            m_stage = Stage::StartWait;
        break;
    case Stage::StartWait:
        issue(waitCommand(m_timing.startWaitMs, false), Stage::None);
        break;

    // At the reference temperature the gas flows towards the reference pressure.
    case Stage::ReferenceGas:
        if (m_referenceMode && m_referenceTReached && m_gasOff)
            issueGas(Command::GasOn, Stage::ReferenceRecord);
        else
            m_stage = Stage::ReferenceRecord;
        break;
    case Stage::ReferenceRecord:
        if (m_referenceMode && m_referenceTReached && m_referencePReached)
            beginRecord(Stage::ReferenceRecorded);
        else
            m_stage = Stage::GridDone;
        break;
    case Stage::ReferenceRecorded:
        endRun(EndReason::ReferenceDone);
        break;
    case Stage::GridDone:
        if (m_tIndex >= m_tSteps && m_pIndex >= m_pSteps && m_running) {
            m_running = false;
            if (m_plan.referencePointOn)
                issueGas(Command::GasOff, Stage::ReferenceGasOff);
            else
                endRun(EndReason::GridDone);
        } else {
            m_stage = Stage::PressureNotReached;
        }
        break;
    case Stage::ReferenceGasOff:
        m_referenceMode = true;
        issue(temperatureCommand(m_plan.referenceT, m_timing.temperatureShowMs),
              Stage::ReferenceTemperatureSent);
        break;
    case Stage::ReferenceTemperatureSent: {
        // Shown now, sent when the gas goes on at the reference temperature.
        m_pressureDisplay = m_plan.referenceP;
        Command show = plainCommand(Command::SetPressure);
        show.value = m_pressureDisplay;
        show.send = false;
        issue(show, Stage::None);
        break;
    }

    // The gas flows for the current point once its temperature is there.
    case Stage::PressureNotReached:
        if (m_temperatureReached && m_running && !m_pressureReached)
            issueGas(Command::GasOn, Stage::PointReached);
        else
            m_stage = Stage::PointReached;
        break;
    case Stage::PointReached:
        if (!(m_pressureReached && m_temperatureReached))
            m_stage = Stage::None;
        else if (pOn && m_running)
            issueGas(Command::GasOn, Stage::PressureStep); // the gas flows on for the pulses
        else
            m_stage = Stage::PressureStep;
        break;

    case Stage::PressureStep:
        if (m_pIndex < m_pSteps && pOn && m_running)
            beginRecord(Stage::PressureStepRecorded);
        else
            m_stage = Stage::TemperatureStep;
        break;
    case Stage::PressureStepRecorded:
        ++m_pIndex;
        m_pressureReached = false;
        if (m_pIndex >= m_pSteps)
            m_stage = Stage::None; // the temperature step follows at a later reading
        else
            issue(waitCommand(m_timing.pointPauseMs, true), Stage::PressureStepPaused);
        break;
    case Stage::PressureStepPaused:
        issue(waitCommand(m_timing.pointSettleMs, false), Stage::PressureStepSettled);
        break;
    case Stage::PressureStepSettled:
        issueSetPressure(m_pIndex, Stage::None);
        break;

    case Stage::TemperatureStep:
        if (m_tIndex >= m_tSteps || !tOn)
            m_stage = Stage::None;
        else if (!pOn && m_running)
            beginRecord(Stage::TemperatureStepRecorded);
        else
            m_stage = Stage::TemperatureStepRecorded;
        break;
    case Stage::TemperatureStepRecorded:
        ++m_tIndex;
        if (m_tIndex < m_tSteps) {
            m_pIndex = 0;
            if (pOn) {
                issueSetPressure(0, Stage::TemperatureStepPause);
                break;
            }
        }
        m_stage = Stage::TemperatureStepPause;
        break;
    case Stage::TemperatureStepPause:
        if (pOn)
            m_stage = Stage::TemperatureStepSend;
        else
            issue(waitCommand(m_timing.pointPauseMs, true), Stage::TemperatureStepSettle);
        break;
    case Stage::TemperatureStepSettle:
        issue(waitCommand(m_timing.pointSettleMs, false), Stage::TemperatureStepSend);
        break;
    case Stage::TemperatureStepSend:
        // Past the last point this is one step beyond the grid; the end of
        // the run replaces it at the next reading.
        m_temperatureReached = false;
        issue(temperatureCommand(sweep::temperaturePoint(m_tIndex, m_plan.temperature.start,
                                                         m_plan.temperature.delta),
                                 m_timing.temperatureShowMs),
              Stage::TemperatureStepSent);
        break;
    case Stage::TemperatureStepSent:
        // A reading during the send may have matched the new point too early.
        m_temperatureReached = false;
        if (pOn) {
            m_pressureReached = false;
            issueGas(Command::GasOff, Stage::TemperatureStepGasOff);
        } else {
            m_stage = Stage::TemperatureStepGasOff;
        }
        break;
    case Stage::TemperatureStepGasOff:
        // Readings during the gas-off must not count for the next point.
        m_pressureReached = false;
        m_stage = Stage::None;
        break;

    // Recording a point: its record, then its pulses.
    case Stage::RecordCheck:
        if (!flowReadingsCurrent()) {
            m_waiting = Waiting::FlowReadings;
            issueStatus(QStringLiteral("Waiting for current flow readings"), false, Stage::None);
        } else if (pOn && !flowsSettledAtSetPointsSent()) {
            m_waiting = Waiting::FlowsToSettle;
            issueStatus(QStringLiteral("Waiting for the flows to settle"), false, Stage::None);
        } else {
            m_waiting = Waiting::Nothing;
            m_where = whereText();
            if (m_plan.writeLog)
                issue(plainCommand(Command::WriteRecord), Stage::RecordWritten);
            else
                m_stage = Stage::RecordPulse;
        }
        break;
    case Stage::RecordWritten:
        m_repeating = !m_lastResult.ok;
        if (m_lastResult.ok)
            m_stage = Stage::RecordPulse;
        else
            issueStatus(
                QStringLiteral("Warning: Can't write log record %1, point repeated.").arg(m_where),
                true, Stage::None);
        break;
    case Stage::RecordPulse: {
        Command pulses = plainCommand(Command::PulseSequence);
        pulses.extraWaitAtZeroPressure = m_running && pOn && m_pressureDisplay == 0;
        issue(pulses, Stage::RecordPulsed);
        break;
    }
    case Stage::RecordPulsed:
        m_repeating = m_lastResult.pulsesSent == 0;
        m_pulsesRefused = m_lastResult.pulsesRefused > 0;
        if (m_lastResult.pulsesSent > 0)
            m_stage = m_afterRecorded;
        else if (m_recordInLog)
            issue(plainCommand(Command::TakeBackRecord), Stage::RecordTakenBack);
        else
            m_stage = Stage::RecordTakenBack;
        break;
    case Stage::RecordTakenBack:
        if (m_recordInLog) {
            m_takeBackFailed = true;
            endRun(EndReason::TakeBackFailed);
        } else {
            issueStatus((m_pulsesRefused
                             ? QStringLiteral("Warning: The pulse generator refused the pulses %1, "
                                              "point repeated.")
                             : QStringLiteral("Warning: Can't reach the pulse generator %1, point "
                                              "repeated."))
                            .arg(m_where),
                        true, Stage::None);
        }
        break;

    // A stop ends the step; a record whose images were never taken goes.
    case Stage::StopAsked:
        if (m_recordInLog)
            issue(plainCommand(Command::TakeBackRecord), Stage::StopTookBack);
        else
            endRun(EndReason::Stopped);
        break;
    case Stage::StopTookBack:
        m_takeBackFailed = m_recordInLog;
        endRun(EndReason::Stopped);
        break;
    case Stage::EndAnnounce: {
        m_active = false;
        // The pressure bar starts over, as the next run will.
        m_pIndex = 0;
        Command ended = plainCommand(Command::RunEnded);
        ended.reason = m_endReason;
        issue(ended, Stage::EndGas);
        break;
    }
    case Stage::EndGas:
        if (pOn)
            issueGas(Command::GasOff, Stage::EndTemperature);
        else
            m_stage = Stage::EndTemperature;
        break;
    case Stage::EndTemperature:
        // The "From:" temperature, also when the temperature axis was off.
        issue(temperatureCommand(m_plan.temperature.start, m_timing.stopTemperatureShowMs),
              Stage::EndWarning);
        break;
    case Stage::EndWarning:
        if (m_takeBackFailed)
            issueStatus(QStringLiteral("Warning: Can't take back log record %1, run stopped.")
                            .arg(m_recordNumber),
                        true, Stage::Ended);
        else
            m_stage = Stage::Ended;
        break;

    // Closing leaves the instruments safe: the "From:" temperature during a
    // walk, and the gas off.
    case Stage::CloseAsked:
        if (m_recordInLog)
            issue(plainCommand(Command::TakeBackRecord), Stage::CloseTookBack);
        else
            m_stage = Stage::CloseStart;
        break;
    case Stage::CloseTookBack:
        m_stage = Stage::CloseStart;
        break;
    case Stage::CloseStart: {
        const bool walking = m_running;
        m_active = m_running = false;
        m_referenceMode = false;
        if (walking)
            issue(temperatureCommand(m_plan.temperature.start, 0), Stage::CloseWait);
        else
            m_stage = Stage::CloseGas;
        break;
    }
    case Stage::CloseWait:
        issue(waitCommand(m_timing.closeGasWaitMs, false), Stage::CloseGas);
        break;
    case Stage::CloseGas:
        issueGas(Command::GasOff, Stage::Closed);
        break;
    case Stage::None:
    case Stage::Ended:
    case Stage::Closed:
        break;
    }
}

bool RunController::flowReadingsCurrent() const
{
    for (const Reading& reading : {m_pressureN2, m_o2, m_n2}) {
        if (reading.atMs < 0 || reading.atMs <= m_gasChangedAtMs || reading.atMs <= m_lostAtMs ||
            m_nowMs - reading.atMs > kFlowReadingMaxAgeMs)
            return false;
    }
    return true;
}

bool RunController::flowsSettledAtSetPointsSent() const
{
    // A lost send leaves the controllers at older set points while the polls
    // go on; at 0 bar any N2 flow reads as reached, even one still rising.
    if (!m_flowsSent)
        return true;
    const auto settled = [this](const Reading& reading, float sent, uchar id) {
        return m_checks.reportsSetPoint(reading.setPoint, sent, id) &&
               m_checks.settled(reading.massFlow, reading.setPoint, id);
    };
    return settled(m_n2, m_flowsSent->n2, m_checks.n2Id) &&
           settled(m_pressureN2, m_flowsSent->n2, m_checks.n2Id) &&
           settled(m_o2, m_flowsSent->o2, m_checks.o2Id);
}

QString RunController::whereText() const
{
    const QString pressure = gasmix::pressureText(m_airPressureBar, m_plan.unitFactor);
    return QStringLiteral("@ T:%1 P:%2")
        .arg(m_temperatureText.toDouble(), 0, 'f', 1)
        .arg(pressure.toDouble(), 0, 'f', 1);
}

double RunController::pressurePoint(int index) const
{
    return sweep::pressurePointDisplay(index, m_plan.pressure.start, m_plan.pressure.delta,
                                       m_plan.unitFactor);
}

Phase RunController::phase() const
{
    if (m_stage >= Stage::CloseAsked)
        return Phase::Closed;
    if (m_stage >= Stage::StopAsked || m_stopAsked)
        return m_endReason == EndReason::GridDone || m_endReason == EndReason::ReferenceDone
                   ? Phase::Done
                   : Phase::Stopped;
    if (!m_active)
        return Phase::Idle;
    if (m_stage >= Stage::StartTemperature && m_stage <= Stage::StartWait)
        return Phase::Starting;
    if (m_stage >= Stage::RecordCheck && m_stage <= Stage::RecordTakenBack)
        return Phase::Recording;
    if ((m_stage >= Stage::PressureStepRecorded && m_stage <= Stage::PressureStepSettled) ||
        (m_stage >= Stage::TemperatureStepRecorded && m_stage <= Stage::TemperatureStepGasOff))
        return Phase::NextPoint;
    if (m_referenceMode || m_stage == Stage::ReferenceGasOff ||
        m_stage == Stage::ReferenceTemperatureSent)
        return Phase::ReferencePoint;
    if (!m_temperatureReached)
        return Phase::WaitingForTemperature;
    if (!m_pressureReached)
        return Phase::WaitingForPressure;
    if (m_waiting == Waiting::FlowReadings)
        return Phase::WaitingForFlowReadings;
    if (m_waiting == Waiting::FlowsToSettle)
        return Phase::WaitingForFlowsToSettle;
    return Phase::AtPoint;
}

} // namespace run
