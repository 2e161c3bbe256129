#include "gasmix.h"

#include <cmath>

namespace gasmix {

Flows flowsForPressure(double displayPressure, double unitFactor, bool gasOff)
{
    if (gasOff)
        return Flows{0.0f, 0.0f};
    const double o2 = displayPressure / unitFactor * kO2AtOneBarSlpm;
    return Flows{float(kTotalFlowSlpm - o2), float(o2)};
}

float equivalentAirPressure(double n2Slpm, double o2Slpm)
{
    // With the gas off the controllers still report a few hundredths of a
    // slpm either side of zero; a share of such noise is no pressure.
    if (!(std::fabs(n2Slpm) + std::fabs(o2Slpm) >= kNoFlowBelowSlpm))
        return kNoPressure;
    const float bar = float(o2Slpm / (n2Slpm + o2Slpm) / kO2AtOneBarSlpm * kTotalFlowSlpm);
    if (!std::isfinite(bar) || bar < 0.0f)
        return kNoPressure;
    return bar;
}

QString flowText(float slpm)
{
    return QStringLiteral("%1").arg(double(slpm), 0, 'g');
}

QString pressureText(float bar, double unitFactor)
{
    if (bar == kNoPressure)
        return QStringLiteral("n/a");
    return QString::number(unitFactor * double(bar), 'f', unitFactor == 1.0 ? 2 : 3);
}

} // namespace gasmix
