#include "gasmix.h"

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
    if (n2Slpm == 0.0 && o2Slpm == 0.0)
        return -1.0f;
    return float(o2Slpm / (n2Slpm + o2Slpm) / kO2AtOneBarSlpm * 10.0);
}

QString flowText(float slpm)
{
    return QStringLiteral("%1").arg(double(slpm), 0, 'g');
}

QString pressureText(float bar, double unitFactor)
{
    if (bar == -1.0f)
        return QStringLiteral("n/a");
    return QString::number(unitFactor * double(bar), 'f', unitFactor == 1.0 ? 2 : 3);
}

} // namespace gasmix
