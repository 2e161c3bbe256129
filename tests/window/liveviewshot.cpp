// Renders the live view during a short run against the simulated box into a
// PNG for the README:
//   cmake --build build --target baroterm-liveview-shot
//   build/tests/window/baroterm-liveview-shot docs/liveview.png
// Not a test: nothing runs it in CI.
#include "liveview.h"
#include "resourcesinit.h"
#include "runharness.h"
#include "testenv.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testenv::isolateSettings();
    registerBarotermResources();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("liveview.png");

    QTemporaryDir dir;
    BoxFixture f;
    boxsim::Options options = BoxFixture::fastOptions();
    options.timeScale = 6; // slow enough for the temperature to show its approach
    options.initialTemperatureC = 21.2;
    if (!f.startBox(options))
        return 1;
    TempSensor* w = f.makeWindow();
    if (!f.connectAndWaitForReading())
        return 1;
    w->waitProcessingEvents(4000);
    Grid grid;
    grid.useT = true;
    grid.tFrom = 22;
    grid.tTo = 24;
    grid.tStep = 1;
    grid.useP = true;
    grid.pFrom = 0;
    grid.pTo = 2;
    grid.pStep = 1;
    grid.referencePoint = true;
    grid.refT = 23;
    grid.refP = 1;
    planGrid(f, grid);
    chooseLog(f, dir.filePath(QStringLiteral("shot.csv")));
    w->findChild<QAction*>(QStringLiteral("actionLive_View"))->trigger();
    LiveView* view = w->liveViewWindow();
    view->resize(1100, 760);

    // One pulse turned away on the way, for a warning mark.
    int pulses = 0;
    QObject::connect(w->statusBar(), &QStatusBar::messageChanged, [&](const QString& text) {
        if (!text.startsWith(QLatin1String("Pulse ")))
            return;
        ++pulses;
        boxsim::Faults faults;
        faults.refuse = pulses == 3;
        f.box->setFaults(boxsim::Pulse, faults);
    });
    findIn<QToolButton>(w, "autoStartButton")->setChecked(true);
    // Mid-run: the third temperature under way.
    if (!BoxFixture::waitUntil([&] { return pulses >= 8; }, 600000))
        return 1;
    w->waitProcessingEvents(6000);
    view->refresh();
    if (!view->grab().save(out))
        return 1;
    std::printf("%s\n", qPrintable(out));
    return 0;
}
