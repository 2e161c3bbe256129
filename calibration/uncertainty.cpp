#include "uncertainty.h"

#include "gasmix.h"

#include <cmath>

namespace uncertainty {

namespace {

const double kSqrt3 = std::sqrt(3.0);
const double kSqrt12 = std::sqrt(12.0);

template <int N> Budget<N> combined(const std::array<Part, N>& parts, bool inputsKnown)
{
    Budget<N> budget;
    budget.parts = parts;
    budget.dominant = parts[0].source;
    if (!inputsKnown)
        return budget;
    double squares = 0;
    double largest = -1;
    for (const Part& part : parts) {
        squares += part.standard * part.standard;
        if (part.standard > largest) {
            largest = part.standard;
            budget.dominant = part.source;
        }
    }
    budget.standard = std::sqrt(squares);
    budget.expanded = kCoverage * budget.standard;
    return budget;
}

} // namespace

QString sourceWord(Source source)
{
    switch (source) {
    case Source::Sensor:
        return QStringLiteral("sensor");
    case Source::ControllerResolution:
        return QStringLiteral("controller_resolution");
    case Source::TemperatureScatter:
    case Source::PressureScatter:
        return QStringLiteral("scatter");
    case Source::N2Accuracy:
        return QStringLiteral("N2_accuracy");
    case Source::N2Resolution:
        return QStringLiteral("N2_resolution");
    case Source::O2Accuracy:
        return QStringLiteral("O2_accuracy");
    case Source::O2Resolution:
        break;
    }
    return QStringLiteral("O2_resolution");
}

TemperatureBudget temperatureBudget(const InstrumentTable& table, double t, double sd)
{
    const std::array<Part, 3> parts{{
        {Source::Sensor, (table.sensorA + table.sensorB * std::fabs(t)) / kSqrt3},
        {Source::ControllerResolution, table.controllerResolution / kSqrt12},
        {Source::TemperatureScatter, sd},
    }};
    return combined<3>(parts, !std::isnan(t) && !std::isnan(sd));
}

PressureBudget pressureBudget(const InstrumentTable& table, double n2, double o2, double sdBar)
{
    // p = c·O2/(N2 + O2): ∂p/∂N2 = −c·O2/S², ∂p/∂O2 = c·N2/S².
    const double c = gasmix::kTotalFlowSlpm / gasmix::kO2AtOneBarSlpm;
    const double sum = n2 + o2;
    // Magnitudes: a flow set to zero reads a little either side of it.
    const double byN2 = c * std::fabs(o2) / (sum * sum);
    const double byO2 = c * std::fabs(n2) / (sum * sum);
    const auto accuracy = [](const FlowControllerRatings& ratings, double reading) {
        return (ratings.ofReading * std::fabs(reading) + ratings.ofFullScale * ratings.fullScale) /
               kSqrt3;
    };
    const std::array<Part, 5> parts{{
        {Source::N2Accuracy, byN2 * accuracy(table.n2, n2)},
        {Source::N2Resolution, byN2 * table.n2.resolution / kSqrt12},
        {Source::O2Accuracy, byO2 * accuracy(table.o2, o2)},
        {Source::O2Resolution, byO2 * table.o2.resolution / kSqrt12},
        {Source::PressureScatter, sdBar},
    }};
    // Flows that stand for no pressure give none to be uncertain of.
    const bool flowing = std::fabs(n2) + std::fabs(o2) >= gasmix::kNoFlowBelowSlpm &&
                         std::fabs(sum) >= gasmix::kNoFlowBelowSlpm && !std::isnan(sdBar);
    return combined<5>(parts, flowing);
}

} // namespace uncertainty
