#include "windowdriver.h"

#include "benchdialogs.h"
#include "procstats.h"
#include "sweep.h"
#include "tempsensor.h"

#include <QAction>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <limits>

namespace windowdriver {

namespace {

// How soon the end of a run is noticed.
constexpr int kRunEndCheckMs = 20;

template <typename T> T* child(TempSensor* window, const char* name)
{
    T* widget = window->findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("the window has no %s", name);
    return widget;
}

} // namespace

Sample sampleNow()
{
    return Sample{procstats::rssKb(), procstats::openFds(), 0};
}

void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        idleFor(20);
    }
    return true;
}

bool hasReading(TempSensor* window)
{
    const QString text = child<QLineEdit>(window, "curT")->text();
    return !text.isEmpty() && text != QLatin1String("n/a");
}

void planGrid(TempSensor* window, const Plan& plan)
{
    auto set = [window](const char* name, double value) {
        child<QDoubleSpinBox>(window, name)->setValue(value);
    };
    child<QGroupBox>(window, "useT")->setChecked(plan.temperatureAxis);
    child<QGroupBox>(window, "useP")->setChecked(plan.pressureAxis);
    // Steps first: a range set before its step could be clamped by the old one.
    set("autoTdeltaEdit", plan.tStep);
    set("autoTminEdit", plan.tFrom);
    set("autoTmaxEdit", plan.tTo);
    set("autoPdeltaEdit", plan.pStep);
    set("autoPminEdit", plan.pFrom);
    set("autoPmaxEdit", plan.pTo);
    child<QCheckBox>(window, "rpBox")->setChecked(false);
    child<QAction>(window, "actionSet_Camera_Feedback")->setChecked(false);
}

runfloor::Grid plannedPoints(TempSensor* window)
{
    auto value = [window](const char* name) {
        return child<QDoubleSpinBox>(window, name)->value();
    };
    runfloor::Grid grid;
    if (child<QGroupBox>(window, "useT")->isChecked()) {
        const sweep::TemperatureAxis t = sweep::planTemperature(
            value("autoTminEdit"), value("autoTmaxEdit"), value("autoTdeltaEdit"));
        grid.temperaturePoints = t.points;
    }
    if (child<QGroupBox>(window, "useP")->isChecked()) {
        const sweep::PressureAxis p =
            sweep::planPressure(value("autoPminEdit"), value("autoPmaxEdit"),
                                value("autoPdeltaEdit"), window->unitFactor());
        grid.pressurePoints = p.points;
    }
    return grid;
}

bool chooseLog(TempSensor* window, BenchDialogs& dialogs, const QString& path)
{
    dialogs.nextLogPath = path;
    auto* box = child<QGroupBox>(window, "groupBox_4");
    box->setChecked(false);
    box->setChecked(true);
    return box->isChecked() && child<QLineEdit>(window, "logNameEdit")->text() == path;
}

int recordsIn(const QString& logPath)
{
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const int lines = int(file.readAll().count('\n'));
    return qMax(lines - 1, 0);
}

RunOutcome runToEnd(TempSensor* window, qint64 timeoutMs)
{
    RunOutcome outcome;
    auto* start = child<QToolButton>(window, "autoStartButton");

    QEventLoop loop;
    QElapsedTimer wall;
    bool stopped = false;
    // The window gives the Start button back without a toggled() signal when
    // a run ends by itself, so the button's state is watched instead.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&stopped, &loop, start] {
        if (start->isChecked())
            return;
        stopped = true;
        loop.quit();
    });
    // The pollers are all paused while a pulse is announced, so every sample
    // sees the program in the same state.
    const auto pulseConnection =
        QObject::connect(window->statusBar(), &QStatusBar::messageChanged, &loop,
                         [&outcome, &wall](const QString& message) {
                             if (!message.startsWith(QLatin1String("Pulse ")))
                                 return;
                             Sample sample = sampleNow();
                             sample.atMs = wall.elapsed();
                             outcome.atPulses.append(sample);
                         });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);

    outcome.atStart = sampleNow();
    const double cpuBefore = procstats::cpuSeconds();
    wall.start();
    deadline.start(int(qMin<qint64>(timeoutMs, std::numeric_limits<int>::max())));
    start->setChecked(true);
    watch.start(kRunEndCheckMs);
    if (start->isChecked())
        loop.exec();
    else
        stopped = true;
    outcome.wallS = double(wall.nsecsElapsed()) / 1e9;
    outcome.cpuS = procstats::cpuSeconds() - cpuBefore;
    outcome.atEnd = sampleNow();
    outcome.finished = stopped;

    QObject::disconnect(pulseConnection);
    if (!stopped)
        start->setChecked(false);
    return outcome;
}

} // namespace windowdriver
