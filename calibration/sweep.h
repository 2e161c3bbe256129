#pragma once

#include <QtGlobal>

// Arithmetic of the temperature / pressure grid. The "Steps:" previews and
// the run take their point counts from the same plan, so the preview always
// says how many records a run writes.
namespace sweep {

// One axis as planned from its three spin boxes.
struct TemperatureAxis
{
    double start = 0; // "From:", degrees C
    double end = 0;   // "To:"
    double delta = 0; // signed step: negative when the axis runs downwards
    int points = 0;   // points walked, shown as "Steps: n"
};

struct PressureAxis
{
    float start = 0; // bar
    float end = 0;
    float delta = 0; // signed step, bar
    int points = 0;
};

// Points on an axis from its start towards its end, the start included. A
// span that is a whole multiple of the step (to within 1e-4 of a step, so
// that 0.9 / 0.3 counts as 3 however the binary fractions round) includes
// its end; otherwise the partial last step is dropped.
int axisPoints(double from, double to, double step);

TemperatureAxis planTemperature(double from, double to, double step);
// Spin-box values are in the display unit; the axis is in bar.
PressureAxis planPressure(double from, double to, double step, double unitFactor);

// Set point of temperature point i (degrees C).
double temperaturePoint(int index, double start, double delta);
// Set point of pressure point j, in the display unit.
double pressurePointDisplay(int index, float start, float delta, double unitFactor);

} // namespace sweep
