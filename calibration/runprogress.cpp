#include "runprogress.h"

#include "sweep.h"
#include "units.h"

#include <algorithm>

namespace progress {

QString phaseText(const PhaseInputs& in)
{
    switch (in.phase) {
    case run::Phase::Idle:
        return QString();
    case run::Phase::Stopped:
    case run::Phase::Closed:
        return QStringLiteral("Stopped");
    case run::Phase::Done:
        return QStringLiteral("Done");
    case run::Phase::ReferencePoint:
        return QStringLiteral("Reference point");
    case run::Phase::NextPoint:
        return QStringLiteral("Pause before the next point");
    case run::Phase::Recording:
        // The record is written, then the pulses go out.
        return in.pulse == PulseStage::Pulsing ? QStringLiteral("Pulsing")
                                               : QStringLiteral("Waiting before the pulse");
    default:
        break;
    }
    // Until the repeated point is recorded again, its waits are the repeat's.
    if (in.repeatingPoint)
        return QStringLiteral("Repeating the point");
    switch (in.phase) {
    case run::Phase::WaitingForPressure:
        return QStringLiteral("Waiting for the pressure");
    case run::Phase::WaitingForFlowReadings:
        return QStringLiteral("Waiting for current flow readings");
    case run::Phase::WaitingForFlowsToSettle:
        return QStringLiteral("Waiting for the flows to settle");
    case run::Phase::AtPoint: // recorded at the next reading
        return QStringLiteral("Waiting before the pulse");
    default: // Starting, WaitingForTemperature
        return QStringLiteral("Waiting for the temperature");
    }
}

Grid gridOf(const run::Plan& plan)
{
    Grid grid;
    grid.temperatures = plan.temperatureAxisOn ? std::max(plan.temperature.points, 1) : 1;
    grid.pressures = plan.pressureAxisOn ? std::max(plan.pressure.points, 1) : 1;
    grid.referencePoint = plan.referencePointOn;
    return grid;
}

GridHeadings gridHeadings(const run::Plan& plan, double unitFactor, const QString& unitLabel)
{
    const int decimals = units::displayDecimals(units::unitFromFactor(unitFactor));
    auto pressure = [&](double bar) {
        return QStringLiteral("%1 %2").arg(bar * unitFactor, 0, 'f', decimals).arg(unitLabel);
    };
    auto temperature = [](double celsius) {
        return QStringLiteral("%1 °C").arg(celsius, 0, 'f', 1);
    };
    const Grid grid = gridOf(plan);
    GridHeadings headings;
    for (int r = 0; r < grid.temperatures; ++r)
        headings.rows << (plan.temperatureAxisOn
                              ? temperature(sweep::temperaturePoint(r, plan.temperature.start,
                                                                    plan.temperature.delta))
                              : QStringLiteral("T"));
    if (grid.referencePoint)
        headings.rows << QStringLiteral("Ref %1\n%2")
                             .arg(temperature(plan.referenceT),
                                  pressure(plan.referenceP / plan.unitFactor));
    for (int c = 0; c < grid.pressures; ++c)
        headings.columns << (plan.pressureAxisOn
                                 ? pressure(sweep::pressurePointDisplay(c, plan.pressure.start,
                                                                        plan.pressure.delta, 1.0))
                                 : QStringLiteral("P"));
    return headings;
}

int gridPointsDone(const run::Plan& plan, int temperatureIndex, int pressureIndex)
{
    const Grid grid = gridOf(plan);
    int done = 0;
    if (plan.pressureAxisOn)
        done = (plan.temperatureAxisOn ? temperatureIndex * grid.pressures : 0) + pressureIndex;
    else if (plan.temperatureAxisOn)
        done = temperatureIndex;
    return std::clamp(done, 0, grid.gridPoints());
}

PointState pointState(const Grid& grid, int pointsDone, bool runActive, bool referenceUnderWay,
                      bool referenceDone, int row, int column)
{
    if (row < 0) {
        if (referenceDone)
            return PointState::Done;
        return referenceUnderWay ? PointState::Current : PointState::Waiting;
    }
    const int index = row * grid.pressures + column;
    if (index < pointsDone)
        return PointState::Done;
    if (index == pointsDone && runActive && !referenceUnderWay)
        return PointState::Current;
    return PointState::Waiting;
}

std::vector<qint64> fixedWaitsPerPoint(const run::Plan& plan, const FixedWaits& waits)
{
    const Grid grid = gridOf(plan);
    const qint64 pulses =
        qint64(waits.waitBeforePulseS) * 1000 +
        qint64(std::max(waits.pulsesPerPoint - 1, 0)) * waits.delayBetweenPulsesS * 1000;
    std::vector<qint64> out;
    out.reserve(std::size_t(grid.allPoints()));
    for (int row = 0; row < grid.temperatures; ++row) {
        for (int column = 0; column < grid.pressures; ++column) {
            qint64 ms = pulses;
            if (plan.pressureAxisOn) {
                const double p = sweep::pressurePointDisplay(column, plan.pressure.start,
                                                             plan.pressure.delta, 1.0);
                if (p == 0)
                    ms += qint64(waits.extraWaitAtZeroS) * 1000;
            }
            // The pause comes after every point but a row's last.
            if (column + 1 < grid.pressures || !plan.pressureAxisOn)
                ms += waits.pauseBetweenPointsMs;
            out.push_back(ms);
        }
    }
    if (plan.referencePointOn)
        out.push_back(pulses);
    return out;
}

Estimate estimateRemaining(const std::vector<qint64>& fixedMsPerPoint, int pointsDone,
                           qint64 runStartMs, qint64 lastPointDoneMs, qint64 nowMs)
{
    const int total = int(fixedMsPerPoint.size());
    pointsDone = std::clamp(pointsDone, 0, total);
    qint64 fixedDone = 0, fixedLeft = 0;
    for (int i = 0; i < total; ++i)
        (i < pointsDone ? fixedDone : fixedLeft) += fixedMsPerPoint[std::size_t(i)];
    Estimate estimate;
    estimate.remainingMs = fixedLeft;
    if (pointsDone == 0 || pointsDone == total)
        return estimate;
    const qint64 measuredRest =
        std::max<qint64>(0, (lastPointDoneMs - runStartMs) - fixedDone) / pointsDone;
    const qint64 sinceLast = std::max<qint64>(0, nowMs - lastPointDoneMs);
    // Time already spent on the current point counts against its share, but
    // the fixed waits of the points after it are still ahead in any case.
    const qint64 afterCurrent = fixedLeft - fixedMsPerPoint[std::size_t(pointsDone)];
    estimate.remainingMs = std::max(afterCurrent + (total - pointsDone - 1) * measuredRest,
                                    fixedLeft + (total - pointsDone) * measuredRest - sinceLast);
    estimate.measured = true;
    return estimate;
}

void RunTracker::observe(const run::RunController& controller, qint64 nowMs)
{
    const bool active = controller.runActive();
    if (active && !m_active) {
        m_plan = controller.plan();
        m_startMs = m_lastPointMs = nowMs;
        m_endMs = -1;
        m_done = 0;
        m_referenceUnderWay = m_referenceDone = false;
    }
    m_active = active;
    if (!started())
        return;
    const Grid g = grid();
    int done = m_done;
    const run::Phase phase = controller.phase();
    if (active) {
        m_referenceUnderWay = !controller.walking() && m_plan.referencePointOn &&
                              (phase == run::Phase::ReferencePoint ||
                               phase == run::Phase::Recording || phase == run::Phase::AtPoint);
        done = m_referenceUnderWay ? g.gridPoints()
                                   : progress::gridPointsDone(m_plan, controller.temperatureIndex(),
                                                              controller.pressureIndex());
    } else {
        if (m_endMs < 0)
            m_endMs = nowMs;
        m_referenceUnderWay = false;
        if (phase == run::Phase::Done) {
            done = g.allPoints();
            m_referenceDone = m_plan.referencePointOn;
        }
    }
    if (done > m_done) {
        m_done = done;
        m_lastPointMs = nowMs;
    }
}

QString durationText(qint64 ms)
{
    const qint64 s = std::max<qint64>(0, (ms + 500) / 1000);
    if (s >= 3600)
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg((s % 3600) / 60, 2, 10, QChar('0'));
    if (s >= 60)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
    return QStringLiteral("%1 s").arg(s);
}

} // namespace progress
