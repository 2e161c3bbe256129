#include "sweep.h"

#include <cmath>

namespace sweep {

namespace {

// The quotient is formed in single precision, the margin, floor and + 1 in double.
double previewCount(float span, float stepMagnitude)
{
    const float quotient = span / stepMagnitude;
    return std::floor(double(quotient) + 0.00001) + 1.0;
}

qint16 runCount(float quotient)
{
    return qint16(std::trunc(std::fabs(std::trunc(quotient))) + 1.0f);
}

} // namespace

TemperatureAxis planTemperature(double from, double to, double step)
{
    const float fromF = float(from);
    const float toF = float(to);
    const float stepF = float(step);
    TemperatureAxis axis;
    axis.start = from;
    axis.end = to;
    if (to > from) {
        axis.delta = step;
        axis.previewSteps = previewCount(toF - fromF, stepF);
    } else {
        axis.delta = -step;
        axis.previewSteps = previewCount(fromF - toF, stepF);
    }
    return axis;
}

PressureAxis planPressure(double from, double to, double step, double unitFactor)
{
    PressureAxis axis;
    axis.end = float(to / unitFactor);
    axis.start = float(from / unitFactor);
    const float stepBar = float(step / unitFactor);
    if (to > from) {
        axis.delta = stepBar;
        axis.previewSteps = previewCount(axis.end - axis.start, stepBar);
    } else {
        axis.delta = -stepBar;
        axis.previewSteps = previewCount(axis.start - axis.end, stepBar);
    }
    return axis;
}

qint16 runTemperatureSteps(double start, double end, double delta)
{
    return runCount(float((start - end) / delta));
}

qint16 runPressureSteps(float start, float end, float delta)
{
    return runCount((start - end) / delta);
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
