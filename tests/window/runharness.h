#pragma once

// Plans and runs calibrations through the real window's controls.

#include "boxfixture.h"

#include <QString>
#include <QStringList>

struct Grid
{
    bool useT = false;
    double tFrom = 22, tTo = 24, tStep = 1;
    bool useP = false;
    double pFrom = 0, pTo = 4, pStep = 2; // bar
    bool referencePoint = false;
    double refP = 1.0, refT = 22.0;
};

// Sets the sweep boxes of the window (in bar).
void planGrid(BoxFixture& f, const Grid& grid);
// Checks "Write Log" and answers the file dialog with `path` and `filter`.
void chooseLog(BoxFixture& f, const QString& path, const QString& filter = "*.csv");
// Starts the run and waits until the window has stopped it by itself.
bool runToEnd(BoxFixture& f, int timeoutMs);
bool isRunning(BoxFixture& f);

// Lines of a file without their CR LF (which is checked).
QStringList logLines(const QString& path, bool* allCrLf = nullptr);

// Temperature set points sent to register 0x03EA, in degrees C, in order.
QList<double> temperatureSetPoints(const BoxFixture& f);

// Compares every record of a CSV calibration log (bar, color checked) with the
// box's state at the pulse that followed it; empty when all match.
QString checkRecordsAgainstTruth(const BoxFixture& f, const QStringList& logLines);
