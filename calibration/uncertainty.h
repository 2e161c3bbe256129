#pragma once

#include <QString>

#include <array>
#include <limits>

// The uncertainty of a recorded point's temperature and equivalent air
// pressure, from the instruments' accuracy and resolution and the scatter of the
// point's settled window.
//
// Accuracies and resolutions are bounds of rectangular distributions: an
// accuracy ±A gives A/√3, a resolution r gives r/√12. The window's standard
// deviation s enters as it is, not as s/√n: the conditions varied that much
// around the images. The N2 and O2 errors are independent and reach the
// pressure through the partial derivatives of
//     p = O2 / (N2 + O2) / 2.12235345 × 10 bar.
// The parts are added in quadrature; the expanded uncertainty is k = 2 times
// the result.
namespace uncertainty {

struct FlowControllerRatings
{
    double fullScale = 0;   // slpm
    double ofReading = 0;   // accuracy, as a fraction of the reading
    double ofFullScale = 0; // accuracy, as a fraction of the full scale
    double resolution = 0;  // slpm
};

struct InstrumentTable
{
    double sensorA = 0;              // K: the sensor's accuracy is a + b·|t|
    double sensorB = 0;              // K/K
    double controllerResolution = 0; // K
    FlowControllerRatings n2;
    FlowControllerRatings o2;
};

constexpr double kCoverage = 2.0;

enum class Source
{
    Sensor,               // temperature sensor accuracy
    ControllerResolution, // temperature controller resolution
    TemperatureScatter,
    N2Accuracy,
    N2Resolution,
    O2Accuracy,
    O2Resolution,
    PressureScatter,
};

// "sensor", "controller_resolution", "scatter", "N2_accuracy", ...: the words
// the points file uses.
QString sourceWord(Source source);

struct Part
{
    Source source = Source::Sensor;
    double standard = 0; // the part's standard uncertainty, in the quantity's unit
};

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

// Temperature: three parts; pressure: five. All unknown when an input is
// (too few readings for a scatter, no gas flowing).
template <int N> struct Budget
{
    std::array<Part, N> parts;
    double standard = kUnknown;
    double expanded = kUnknown; // k = 2
    Source dominant = Source::Sensor;
    bool known() const { return expanded == expanded; }
};
using TemperatureBudget = Budget<3>;
using PressureBudget = Budget<5>;

// At mean temperature `t` (degrees C) with window standard deviation `sd` (K).
TemperatureBudget temperatureBudget(const InstrumentTable& table, double t, double sd);

// At the mean flows (slpm) with the window's pressure standard deviation
// `sdBar`; the result is in bar.
PressureBudget pressureBudget(const InstrumentTable& table, double n2, double o2, double sdBar);

} // namespace uncertainty
