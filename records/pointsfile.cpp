#include "pointsfile.h"

#include "units.h"

#include <QStringList>

#include <cmath>

namespace records {

int pointsPressureDecimals(double unitFactor)
{
    switch (units::unitFromFactor(unitFactor)) {
    case units::PressureUnit::Kpa:
        return 3;
    case units::PressureUnit::Psi:
        return 4;
    case units::PressureUnit::Bar:
    case units::PressureUnit::Unknown:
        break;
    }
    return 5;
}

namespace {

constexpr int kTemperatureDecimals = 3;
constexpr int kFlowDecimals = 4;

} // namespace

void addUncertainties(PointRow& row, const uncertainty::InstrumentTable& table)
{
    if (!row.stats)
        return;
    const auto& w = row.stats->window;
    // A window with a single reading shows no scatter: the budget then holds
    // the instruments' parts alone (the points file gives the window's count).
    const auto scatter = [](const pointstats::ChannelStats& c) {
        return c.count == 1 ? 0.0 : c.sd;
    };
    row.temperature =
        uncertainty::temperatureBudget(table, w[pointstats::T].mean, scatter(w[pointstats::T]));
    row.pressure = uncertainty::pressureBudget(table, w[pointstats::N2].mean,
                                               w[pointstats::O2].mean, scatter(w[pointstats::P]));
}

QString pointsUnitWord(double unitFactor)
{
    switch (units::unitFromFactor(unitFactor)) {
    case units::PressureUnit::Kpa:
        return QStringLiteral("kPa");
    case units::PressureUnit::Psi:
        return QStringLiteral("psi");
    case units::PressureUnit::Bar:
    case units::PressureUnit::Unknown:
        break;
    }
    return QStringLiteral("bar");
}

double pointsUnitFactor(double unitFactor)
{
    return units::unitFromFactor(unitFactor) == units::PressureUnit::Unknown ? 1.0 : unitFactor;
}

QString fixedOrNa(double value, int decimals)
{
    if (std::isnan(value))
        return QStringLiteral("n/a");
    QString text = QString::number(value, 'f', decimals);
    // A small negative value rounded to zero is zero.
    if (text.startsWith(QLatin1Char('-')) &&
        text.count(QLatin1Char('0')) + (decimals > 0 ? 2 : 1) == text.size())
        text.remove(0, 1);
    return text;
}

QByteArray pointsFileHeader(double unitFactor)
{
    const QString p = pointsUnitWord(unitFactor);
    QStringList columns{QStringLiteral("record"),     QStringLiteral("tries"),
                        QStringLiteral("T_set_C"),    QStringLiteral("P_set_") + p,
                        QStringLiteral("T_log_C"),    QStringLiteral("P_log_") + p,
                        QStringLiteral("settling_s"), QStringLiteral("n")};
    const QStringList quantities{QStringLiteral("T"), QStringLiteral("P"), QStringLiteral("N2"),
                                 QStringLiteral("O2")};
    const QStringList unitOf{QStringLiteral("C"), p, QStringLiteral("slpm"),
                             QStringLiteral("slpm")};
    for (int q = 0; q < pointstats::kQuantities; ++q) {
        for (const char* stat : {"mean", "sd", "min", "max"})
            columns
                << QStringLiteral("%1_%2_%3").arg(quantities[q], QLatin1String(stat), unitOf[q]);
    }
    for (int q = 0; q < pointstats::kQuantities; ++q) {
        columns << QStringLiteral("%1_after_%2").arg(quantities[q], unitOf[q])
                << QStringLiteral("%1_drift_%2").arg(quantities[q], unitOf[q]);
    }
    columns << QStringLiteral("pulses_sent") << QStringLiteral("pulses_answered")
            << QStringLiteral("warnings") << QStringLiteral("U_T_C") << QStringLiteral("U_T_source")
            << QStringLiteral("U_P_") + p << QStringLiteral("U_P_source");
    return (columns.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
}

QByteArray pointsFile(const std::vector<PointRow>& rows, double unitFactor)
{
    const double factor = pointsUnitFactor(unitFactor);
    const int pDecimals = pointsPressureDecimals(unitFactor);
    const auto t = [](double v) { return fixedOrNa(v, kTemperatureDecimals); };
    const auto p = [&](double bar) { return fixedOrNa(bar * factor, pDecimals); };
    const auto quantity = [&](int q, double v) {
        return q == pointstats::T ? t(v) : q == pointstats::P ? p(v) : fixedOrNa(v, kFlowDecimals);
    };
    const QString na = QStringLiteral("n/a");

    QByteArray out = pointsFileHeader(unitFactor);
    for (const PointRow& row : rows) {
        const pointstats::PointStats none;
        const pointstats::PointStats& s = row.stats ? *row.stats : none;
        const bool traced = row.stats.has_value();
        QStringList f{QString::number(row.record),
                      traced ? QString::number(s.tries) : na,
                      t(s.setT),
                      p(s.setPBar),
                      t(row.loggedT),
                      p(row.loggedPBar),
                      fixedOrNa(s.settlingS, 1),
                      traced ? QString::number(s.windowReadings) : na};
        for (int q = 0; q < pointstats::kQuantities; ++q) {
            const pointstats::ChannelStats& c = s.window[q];
            // A spread is a difference: no unit offset, the same factor.
            f << quantity(q, c.mean) << quantity(q, c.sd) << quantity(q, c.min)
              << quantity(q, c.max);
        }
        for (int q = 0; q < pointstats::kQuantities; ++q)
            f << quantity(q, s.after[q]) << quantity(q, s.afterMinusMean[q]);
        f << (traced ? QString::number(s.pulsesSent) : na)
          << (traced ? QString::number(s.pulsesAnswered) : na)
          << (traced ? QString::number(s.warnings.size()) : na) << t(row.temperature.expanded)
          << (row.temperature.known() ? uncertainty::sourceWord(row.temperature.dominant) : na)
          << p(row.pressure.expanded)
          << (row.pressure.known() ? uncertainty::sourceWord(row.pressure.dominant) : na);
        out += (f.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
    }
    return out;
}

} // namespace records
