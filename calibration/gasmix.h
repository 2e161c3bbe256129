#pragma once

#include <QString>

// The N2/O2 mixture that stands for an air pressure. The two controllers flow
// 10 slpm in total; the O2 share of air at 1 bar is 2.12235345 slpm of it.
namespace gasmix {

constexpr double kTotalFlowSlpm = 10.0;
constexpr double kO2AtOneBarSlpm = 2.12235345;

struct Flows
{
    float n2 = 0; // slpm
    float o2 = 0;
};

// Set points for a pressure given in the display unit; zero flows while the gas is off.
Flows flowsForPressure(double displayPressure, double unitFactor, bool gasOff);

// The equivalent air pressure of flows that stand for none ("n/a").
constexpr float kNoPressure = -1.0f;
// Together the flows must reach 1 % of the mix to stand for a pressure.
constexpr double kNoFlowBelowSlpm = 0.1;

// Equivalent air pressure in bar of the two flow readings; kNoPressure when
// the flows together are below kNoFlowBelowSlpm, or the share is not a finite,
// non-negative number.
float equivalentAirPressure(double n2Slpm, double o2Slpm);

// A flow reading as the readouts show it (six significant digits).
QString flowText(float slpm);

// The pressure readout: "n/a" for -1, else the display value with 2 decimals in
// bar and 3 in any other unit.
QString pressureText(float bar, double unitFactor);

} // namespace gasmix
