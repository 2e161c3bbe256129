#pragma once

// Plans and runs calibrations through the real window's controls.

#include "boxfixture.h"
#include "runchecks.h"

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

// The shared checks, for the fixture's box.
inline QList<double> temperatureSetPoints(const BoxFixture& f)
{
    return temperatureSetPoints(*f.box);
}
inline QString checkRecordsAgainstTruth(const BoxFixture& f, const QStringList& logLines)
{
    return checkRecordsAgainstTruth(*f.box, logLines);
}
