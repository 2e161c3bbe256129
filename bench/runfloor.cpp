#include "runfloor.h"

namespace runfloor {

namespace {

// The temperature poller sleeps 700 ms between polls; the run takes one
// step per reading.
constexpr qint64 kPollPeriodMs = 700;

// setGas(): 100 ms before and 100 ms after the two flow set points.
constexpr qint64 kSetGasMs = 100 + 100;

// turnGas() sends the set points once when the gas button already shows the
// state asked for. Flipping the button re-enters turnGas() through toggled(),
// and both calls send them.
constexpr qint64 kTurnGasKeepMs = kSetGasMs;
constexpr qint64 kTurnGasFlipMs = 2 * kSetGasMs;

// setTemperature(): 100 ms after pausing the poller, 350 ms after the set
// point frame, 500 ms after the run frame, 100 ms after resuming the poller.
constexpr qint64 kSetTemperatureMs = 100 + 350 + 500 + 100;

// After a point's pulses, before the next pressure is sent: the temperature
// poller paused for 2000 ms, then 200 ms more.
constexpr qint64 kPressureStepMs = 2000 + 200;

// Before the next temperature is sent; the same 2000 + 200 ms as a pressure
// step come first when the pressure axis is off (not the case in either shape
// below, kept for the record).
constexpr qint64 kTemperatureStepMs = 200;
[[maybe_unused]] constexpr qint64 kTemperatureStepPressureOffMs = 2000 + 200;

// Each pulse's answer is awaited in whole 100 ms ticks, so at least one.
constexpr qint64 kPulseTickMs = 100;

// Starting a run waits 100 ms at its end; stopping waits 100 ms before
// sending the start temperature.
constexpr qint64 kStartStopMs = 100;

class Path
{
public:
    void waitOnly(qint64 ms) { m_floor.waitsMs += ms; }
    // One run step: its waits, and the reading that had to come first.
    void step(qint64 ms)
    {
        m_floor.waitsMs += ms;
        ++m_floor.steps;
    }
    Floor floor() const { return m_floor; }

private:
    Floor m_floor;
};

// Both axes: every temperature walks the whole pressure axis.
Floor bothAxes(int temperatures, int pressures)
{
    Path path;
    // Start: the first temperature, then the first pressure while the gas is off.
    path.waitOnly(kSetTemperatureMs + kSetGasMs + kStartStopMs);
    for (int t = 0; t < temperatures; ++t) {
        // Temperature reached, pressure not: the gas goes on.
        path.step(kTurnGasFlipMs);
        for (int p = 0; p < pressures; ++p) {
            // Point reached: the set points once more, the record, the pulse.
            qint64 ms = kTurnGasKeepMs + kPulseTickMs;
            // Then the next pressure, except after the last.
            if (p < pressures - 1)
                ms += kPressureStepMs + kSetGasMs;
            path.step(ms);
        }
        // The reading that sees the end of the pressure axis moves the
        // temperature: set points once more, pressure point 0 (not after the
        // last temperature), the new temperature, and the gas off.
        qint64 ms = kTurnGasKeepMs;
        if (t < temperatures - 1)
            ms += kSetGasMs;
        ms += kTemperatureStepMs + kSetTemperatureMs + kTurnGasFlipMs;
        path.step(ms);
    }
    // Grid done: the stop sends the gas off (already off) and the start temperature.
    path.step(kTurnGasKeepMs + kStartStopMs + kSetTemperatureMs);
    return path.floor();
}

Floor pressureOnly(int pressures)
{
    Path path;
    // Start: the first pressure while the gas is off.
    path.waitOnly(kSetGasMs + kStartStopMs);
    // The temperature counts as reached: the gas goes on at the first reading.
    path.step(kTurnGasFlipMs);
    for (int p = 0; p < pressures; ++p) {
        qint64 ms = kTurnGasKeepMs + kPulseTickMs;
        if (p < pressures - 1)
            ms += kPressureStepMs + kSetGasMs;
        path.step(ms);
    }
    // Grid done: the stop turns the flowing gas off and sends the start temperature.
    path.step(kTurnGasFlipMs + kStartStopMs + kSetTemperatureMs);
    return path.floor();
}

} // namespace

qint64 Floor::pollMs() const
{
    return qint64(steps) * kPollPeriodMs;
}

Floor forGrid(const Grid& grid)
{
    if (grid.pressurePoints <= 0)
        return Floor();
    if (grid.temperaturePoints > 0)
        return bothAxes(grid.temperaturePoints, grid.pressurePoints);
    return pressureOnly(grid.pressurePoints);
}

} // namespace runfloor
