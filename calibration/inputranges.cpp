#include "inputranges.h"

#include "units.h"

#include <QString>
#include <QtGlobal>

#include <cmath>

namespace inputs {

double spinBoxValue(double value, const SpinRange& range)
{
    // The box keeps the number its text shows, and rounds its limits too.
    auto round = [&range](double v) { return QString::number(v, 'f', range.decimals).toDouble(); };
    return qBound(round(range.minimum), round(value), round(range.maximum));
}

bool fitsSpinBox(double value, const SpinRange& range)
{
    return std::isfinite(value) && spinBoxValue(value, range) == value;
}

PressureBoxes pressureBoxes(double unitFactor)
{
    switch (units::unitFromFactor(unitFactor)) {
    case units::PressureUnit::Kpa:
        return {{0.0, 450.0, 0}, {10.0, 450.0, 0}, 10.0};
    case units::PressureUnit::Psi:
        return {{0.0, 65.2671, 2}, {1.45, 58.0152, 2}, 1.45};
    case units::PressureUnit::Bar:
    case units::PressureUnit::Unknown:
        break;
    }
    return {{0.0, 4.5, 2}, {0.01, 4.5, 2}, 0.01};
}

SpinRange pressureRange(double unitFactor, bool delta)
{
    const PressureBoxes boxes = pressureBoxes(unitFactor);
    return delta ? boxes.delta : boxes.range;
}

SpinRange referencePressureRange(double unitFactor)
{
    return {0.0, kMaxReferenceBar * unitFactor, kReferenceDecimals};
}

} // namespace inputs
