#pragma once

// What a finished run left, checked against the simulated box.

#include "boxsimulator.h"

#include <QList>
#include <QString>
#include <QStringList>

// Lines of a file without their CR LF (which is checked).
QStringList logLines(const QString& path, bool* allCrLf = nullptr);

// Temperature set points sent to register 0x03EA, in degrees C, in order.
QList<double> temperatureSetPoints(const boxsim::BoxSimulator& box);

// Compares every record of a CSV calibration log (bar, color checked) with the
// box's state at the pulse that followed it; empty when all match.
QString checkRecordsAgainstTruth(const boxsim::BoxSimulator& box, const QStringList& logLines);
