#include "sweep.h"

#include <cmath>
#include <limits>

namespace sweep {

int axisPoints(double from, double to, double step)
{
    const double quotient = std::fabs(to - from) / std::fabs(step);
    if (!std::isfinite(quotient))
        return 1;
    const double nearest = std::round(quotient);
    const double whole = std::fabs(quotient - nearest) < 1e-4 ? nearest : std::floor(quotient);
    // The run counts points in 16 bits; the spin boxes keep far below that.
    return int(std::min(whole + 1.0, double(std::numeric_limits<qint16>::max())));
}

TemperatureAxis planTemperature(double from, double to, double step)
{
    TemperatureAxis axis;
    axis.start = from;
    axis.end = to;
    axis.delta = to > from ? step : -step;
    axis.points = axisPoints(from, to, step);
    return axis;
}

PressureAxis planPressure(double from, double to, double step, double unitFactor)
{
    PressureAxis axis;
    axis.end = float(to / unitFactor);
    axis.start = float(from / unitFactor);
    const float stepBar = float(step / unitFactor);
    axis.delta = to > from ? stepBar : -stepBar;
    // Counted in the display unit: the same spin-box values give the same
    // count in every unit.
    axis.points = axisPoints(from, to, step);
    return axis;
}

double temperaturePoint(int index, double start, double delta)
{
    return index * delta + start;
}

double pressurePointDisplay(int index, float start, float delta, double unitFactor)
{
    const float bar = float(index) * delta + start;
    return double(bar) * unitFactor;
}

} // namespace sweep
