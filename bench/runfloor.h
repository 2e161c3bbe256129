#pragma once

#include <QtGlobal>

// The least time a calibration run can take: every wait the program is bound
// to make on the run's path, plus one temperature poll period for every run
// step, because the run only moves on a temperature reading.
namespace runfloor {

struct Grid
{
    int temperaturePoints = 0; // 0: the temperature axis is off
    int pressurePoints = 0;    // 0: the pressure axis is off
};

struct Floor
{
    qint64 waitsMs = 0; // commands, steps and pulses
    int steps = 0;      // run steps, each waiting for its own reading
    qint64 pollMs() const;
    qint64 totalMs() const { return waitsMs + pollMs(); }
};

// For a grid with both axes or with the pressure axis alone, one pulse per
// point, no wait before the pulses, no reference point, and the gas off when
// the run starts (as it is after connecting). Other shapes give an empty floor.
Floor forGrid(const Grid& grid);

} // namespace runfloor
