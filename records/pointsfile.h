#pragma once

#include "pointstats.h"
#include "uncertainty.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The points file beside a run's logs, "<log>.points.csv": one line per
// record of the calibration log with its set and logged values, the
// statistics of its settled window, the first reading after its pulses and
// the expanded uncertainties. Comma-separated, lines ending in CR LF, "."
// decimals in every locale, "n/a" for a value not known; pressures in the
// display unit named in the header (bar for a unit the program does not know).
namespace records {

struct PointRow
{
    int record = 0;
    // As the calibration log holds them.
    double loggedT = pointstats::kUnknown;
    double loggedPBar = pointstats::kUnknown;
    // None when the readings file does not hold the record.
    std::optional<pointstats::PointStats> stats;
    uncertainty::TemperatureBudget temperature;
    uncertainty::PressureBudget pressure;
};

// The uncertainties of a point from its window's statistics.
void addUncertainties(PointRow& row, const uncertainty::InstrumentTable& table);

// "bar", "kPa" or "psi", and the factor the file's pressures are given in.
QString pointsUnitWord(double unitFactor);
double pointsUnitFactor(double unitFactor);
// Decimals of a pressure in the file: 5 in bar, 3 in kPa, 4 in psi.
int pointsPressureDecimals(double unitFactor);

QByteArray pointsFileHeader(double unitFactor);
QByteArray pointsFile(const std::vector<PointRow>& rows, double unitFactor);

// A number with `decimals` decimals, "n/a" when not known, never "-0.0".
QString fixedOrNa(double value, int decimals);

} // namespace records
