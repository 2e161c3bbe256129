#pragma once

#include <QString>

// Pressure units. Inside the program every pressure is in bar; the operator
// sees it in the display unit, held as one number: the value of 1 bar in that
// unit (the unit factor).
namespace units {

constexpr double kBarFactor = 1.0;
constexpr double kKpaFactor = 100.0; // offered as "Pascal" in the unit dialog
constexpr double kPsiFactor = 14.5038;

enum class PressureUnit
{
    Bar,
    Kpa,
    Psi,
    Unknown
};

// 1 and 100 are compared exactly; psi is anything within 0.001 of 14.5038.
PressureUnit unitFromFactor(double factor);

// "Bar", "kPa", "psi"; empty for an unknown factor.
QString unitLabel(PressureUnit unit);

// Decimals a pressure shows in the unit, as the pressure inputs have them:
// 2 for bar and psi, none for kPa (steps of 10).
int displayDecimals(PressureUnit unit);

// A stored factor that is zero, negative or not a number would turn every
// pressure into an infinity; such a factor is read as bar.
double sanitizedFactor(double storedFactor);

inline double toBar(double displayValue, double factor)
{
    return displayValue / factor;
}
inline double toDisplay(double bar, double factor)
{
    return bar * factor;
}

} // namespace units
