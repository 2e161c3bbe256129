#pragma once

#include <QtGlobal>

// Arithmetic of the temperature / pressure grid. The step previews and the
// run's own point counts use different rules on purpose: the preview adds a
// small margin before rounding down, the run truncates.
namespace sweep {

// One axis as planned from its three spin boxes.
struct TemperatureAxis
{
    double start = 0;        // "From:", degrees C
    double end = 0;          // "To:"
    double delta = 0;        // signed step: negative when the axis runs downwards
    double previewSteps = 0; // points shown as "Steps: n", both ends included
};

struct PressureAxis
{
    float start = 0; // bar
    float end = 0;
    float delta = 0; // signed step, bar
    double previewSteps = 0;
};

TemperatureAxis planTemperature(double from, double to, double step);
// Spin-box values are in the display unit; the axis is in bar.
PressureAxis planPressure(double from, double to, double step, double unitFactor);

// Points walked by a run, from start towards end; a partial last step is dropped.
qint16 runTemperatureSteps(double start, double end, double delta);
qint16 runPressureSteps(float start, float end, float delta);

// Set point of temperature point i (degrees C).
double temperaturePoint(int index, double start, double delta);
// Set point of pressure point j, in the display unit.
double pressurePointDisplay(int index, float start, float delta, double unitFactor);

} // namespace sweep
