#include "units.h"

#include <cmath>

namespace units {

PressureUnit unitFromFactor(double factor)
{
    if (factor == kBarFactor)
        return PressureUnit::Bar;
    if (factor == kKpaFactor)
        return PressureUnit::Kpa;
    if (std::fabs(factor - kPsiFactor) < 0.001)
        return PressureUnit::Psi;
    return PressureUnit::Unknown;
}

QString unitLabel(PressureUnit unit)
{
    switch (unit) {
    case PressureUnit::Bar:
        return QStringLiteral("Bar");
    case PressureUnit::Kpa:
        return QStringLiteral("kPa");
    case PressureUnit::Psi:
        return QStringLiteral("psi");
    case PressureUnit::Unknown:
        break;
    }
    return QString();
}

int displayDecimals(PressureUnit unit)
{
    return unit == PressureUnit::Kpa ? 0 : 2;
}

double sanitizedFactor(double storedFactor)
{
    if (!std::isfinite(storedFactor) || storedFactor <= 0.0)
        return kBarFactor;
    return storedFactor;
}

} // namespace units
