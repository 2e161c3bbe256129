// A whole calibration through the real window against the simulated box while
// the box misbehaves in every way it can, at random but reproducibly; every
// record of both logs is then held against what the box really was.
//
// BAROTERM_SOAK_MINUTES=N runs calibration after calibration for N minutes
// (default: one calibration, about two minutes); BAROTERM_SOAK_SEED picks the
// faults; BAROTERM_SOAK_TRACE=FILE keeps the box's trace of every frame;
// Faults may swallow any set point, which the window then sends again;
// BAROTERM_SOAK_LOSE_WRITES=0 spares the set points (see FaultSchedule);
// BAROTERM_SOAK_OUTAGES=0 keeps the box from going away.
#include "faultschedule.h"
#include "outagewatch.h"
#include "resourcesinit.h"
#include "runharness.h"
#include "runwatch.h"
#include "setpointretries.h"
#include "testenv.h"
#include "workerthread.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

using boxsim::Device;

namespace {

constexpr quint32 kDefaultSeed = 20240917;

// Ends the process when the soak has not finished in time, even if the GUI
// thread is stuck where no event loop runs.
class Watchdog
{
public:
    Watchdog(int seconds, const boxsim::BoxSimulator* box)
        : m_thread([this, seconds, box] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (m_cv.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; }))
                  return;
              std::fprintf(stderr,
                           "soak watchdog: no end after %d s; the box had seen %d pulse commands, "
                           "%d temperature and %d O2 requests\n",
                           seconds, int(box->pulseTruth().size()),
                           int(box->frames(Device::Temperature).size()),
                           int(box->frames(Device::O2).size()));
              std::fflush(stderr);
              std::abort();
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_thread;
};

struct Plan
{
    Grid grid;
    bool cls = false;
    bool camera = false;
    int pulsesPerPoint = 1;
};

// The short soak runs the first plan; the long one goes round all of them.
Plan planFor(int run)
{
    Plan plan;
    plan.grid.referencePoint = true;
    plan.grid.refP = 1.0;
    plan.grid.refT = 22.0;
    switch (run % 6) {
    case 0: // both axes, 3 x 3
        plan.grid.useT = plan.grid.useP = true;
        break;
    case 1: // pressure only, camera hand-shake, two pulses a point
        plan.grid.useP = true;
        plan.grid.pFrom = 0.5;
        plan.grid.pTo = 3.5;
        plan.grid.pStep = 1.5;
        plan.cls = true;
        plan.camera = true;
        plan.pulsesPerPoint = 2;
        break;
    case 2: // temperature only, downwards
        plan.grid.useT = true;
        plan.grid.tFrom = 24;
        plan.grid.tTo = 22;
        plan.camera = true;
        break;
    case 4: // whole-multiple spans of steps that are not binary fractions
        plan.grid.useT = plan.grid.useP = true;
        plan.grid.tFrom = 22;
        plan.grid.tTo = 22.6;
        plan.grid.tStep = 0.3;
        plan.grid.pFrom = 0;
        plan.grid.pTo = 0.9;
        plan.grid.pStep = 0.3;
        break;
    case 5: // the same, pressure only and downwards, camera hand-shake
        plan.grid.useP = true;
        plan.grid.pFrom = 2.31;
        plan.grid.pTo = 1.1;
        plan.grid.pStep = 0.11;
        plan.cls = true;
        plan.camera = true;
        break;
    default: // both axes off the whole degree, two pulses a point
        plan.grid.useT = plan.grid.useP = true;
        plan.grid.tFrom = 21.5;
        plan.grid.tTo = 23.5;
        plan.grid.pFrom = 0;
        plan.grid.pTo = 3;
        plan.grid.pStep = 1.5;
        plan.cls = true;
        plan.pulsesPerPoint = 2;
        break;
    }
    return plan;
}

// Counted apart from the program's own rule: the end of a span that is a
// whole multiple of the step is a point.
int gridPoints(const Grid& g)
{
    const int t = g.useT ? int(std::fabs(g.tTo - g.tFrom) / g.tStep + 1e-6) + 1 : 1;
    const int p = g.useP ? int(std::fabs(g.pTo - g.pFrom) / g.pStep + 1e-6) + 1 : 1;
    return t * p;
}

int soakMinutes()
{
    return qEnvironmentVariableIntValue("BAROTERM_SOAK_MINUTES");
}

// A run that is due to end but does not is a hang: give up well after.
int budgetSeconds()
{
    return (soakMinutes() > 0 ? soakMinutes() * 60 + 600 : 390) * testenv::timingSlack();
}

QString describe(BoxFixture& f, const FaultSchedule& faults)
{
    TempSensor* w = f.window.get();
    const BoxState box = boxState(*f.box);
    return QStringLiteral("window: T %1 (set %2), P %3 (set %4); box%12: T %5 (set %6), P %7 bar; "
                          "faults: temperature %8, n2 %9, o2 %10, pulse %11")
        .arg(findIn<QLineEdit>(w, "curT")->text())
        .arg(findIn<QDoubleSpinBox>(w, "setT")->value())
        .arg(findIn<QLineEdit>(w, "curP")->text())
        .arg(findIn<QDoubleSpinBox>(w, "setPValue")->value())
        .arg(box.temperatureC)
        .arg(f.box->temperatureSetPointC())
        .arg(box.airPressureBar)
        .arg(faults.current(Device::Temperature), faults.current(Device::N2),
             faults.current(Device::O2), faults.current(Device::Pulse),
             faults.boxAway() ? QStringLiteral(" (away)") : QString());
}

} // namespace

class SoakTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void calibrationUnderFaults();
};

void SoakTest::initTestCase()
{
    testenv::isolateSettings();
    registerBarotermResources();
}

void SoakTest::calibrationUnderFaults()
{
    const int minutes = soakMinutes();
    bool seedGiven = false;
    const quint32 seed = quint32(qEnvironmentVariableIntValue("BAROTERM_SOAK_SEED", &seedGiven));
    const quint32 baseSeed = seedGiven ? seed : kDefaultSeed;
    const int slack = testenv::timingSlack();
    QTemporaryDir dir;

    BoxFixture f;
    boxsim::Options options = BoxFixture::fastOptions();
    options.randomFaults = true;
    options.randomFaultSeed = baseSeed;
    // Every frame of the box with its time, to see what led to a finding.
    options.logFile = qEnvironmentVariable("BAROTERM_SOAK_TRACE");
    QVERIFY(f.startBox(options));
    Watchdog watchdog(budgetSeconds(), f.box.get());

    TempSensor* w = f.makeWindow();
    QVERIFY(f.connectAndWaitForReading(20000 * slack));

    FaultSchedule faults(f.box.get(), baseSeed);
    faults.setRandomMixSeed(baseSeed);
    bool outagesGiven = false;
    const int outagesOn = qEnvironmentVariableIntValue("BAROTERM_SOAK_OUTAGES", &outagesGiven);
    faults.setOutages(!outagesGiven || outagesOn != 0);
    auto* temperaturePoller = w->findChild<WorkerThread*>();
    QVERIFY(temperaturePoller);
    OutageWatch outageWatch(faults, temperaturePoller, slack);

    // Every question the window asks during the soak, answered by its title.
    QString logPath;
    QString logFilter;
    Plan plan;
    RunWatch* watching = nullptr;
    f.dialogs.setHandler([&](const ScriptedDialogs::Question& q) {
        outageWatch.questionAsked(q.title, f.dialogs.openQuestions());
        ScriptedDialogs::Answer a;
        if (q.kind == QLatin1String("save")) {
            a.value = logPath;
            a.selectedFilter = logFilter;
        } else if (q.title == QLatin1String("Set P.ref")) {
            a.value = plan.grid.refP;
        } else if (q.title == QLatin1String("Set T.ref")) {
            a.value = plan.grid.refT;
        } else if (q.title == QLatin1String("Set N-pulses per data point")) {
            a.value = plan.pulsesPerPoint;
        } else if (q.title == QLatin1String("Set delay between these pulses (sec)")) {
            a.value = 0;
        } else if (q.title == QLatin1String("Pulse ERROR") && watching) {
            watching->pulseErrorShown();
        } else if (q.title == QLatin1String("Connection problem")) {
            // Read for a while, the window's readings and commands going on.
            a.processEventsMs = faults.operatorReadingMs();
        }
        return a;
    });

    faults.guardSetPoint(findIn<QDoubleSpinBox>(w, "setT"));
    bool loseWritesGiven = false;
    const int loseWrites =
        qEnvironmentVariableIntValue("BAROTERM_SOAK_LOSE_WRITES", &loseWritesGiven);
    faults.setGuards(loseWritesGiven && loseWrites == 0);
    const auto* retries = w->findChild<SetPointRetries*>(QStringLiteral("setPointRetries"));
    QVERIFY(retries);
    // Set points found lost and sent again, per controller.
    auto retryFigures = [retries] {
        QStringList figures;
        for (setpoint::Controller which : {setpoint::Controller::Temperature,
                                           setpoint::Controller::N2, setpoint::Controller::O2})
            figures << QStringLiteral("%1 %2 lost, %3 sent again")
                           .arg(setpoint::SetPointKeeper::controllerName(which))
                           .arg(retries->keeper(which).losses())
                           .arg(retries->retriesSent(which));
        return figures.join(QStringLiteral("; "));
    };
    faults.start();

    QElapsedTimer elapsed;
    elapsed.start();
    RunFigures figures;
    QStringList problems;
    int runs = 0;
    bool hung = false;
    do {
        // BAROTERM_SOAK_FIRST_PLAN starts the round at another plan.
        plan = planFor(runs + qEnvironmentVariableIntValue("BAROTERM_SOAK_FIRST_PLAN"));
        planGrid(f, plan.grid);
        findIn<QAction>(w, "actionSet_Camera_Feedback")->setChecked(plan.camera);
        QMetaObject::invokeMethod(w, "pulsePerPoint", Qt::DirectConnection);

        RunSetup setup;
        const QString stem = dir.filePath(QStringLiteral("run%1").arg(runs + 1));
        setup.logPath = stem + (plan.cls ? ".cls" : ".csv");
        setup.rawLogPath = stem + "_SLPM.csv";
        setup.cls = plan.cls;
        setup.pulseCommand = plan.camera ? "$010" : "#010";
        setup.pulsesPerPoint = plan.pulsesPerPoint;
        setup.gridPoints = gridPoints(plan.grid);
        logPath = setup.logPath;
        logFilter = plan.cls ? "*.cls" : "*.csv";
        chooseLog(f, logPath, logFilter);
        QVERIFY2(findIn<QLineEdit>(w, "logNameEdit")->text() == logPath,
                 qPrintable(findIn<QLineEdit>(w, "logNameEdit")->text()));

        RunWatch watch(f, faults, setup);
        watching = &watch;
        // About 10 s a point, and 10 s more for each pulse left unanswered.
        const int perPoint = 15 + 12 * plan.pulsesPerPoint;
        // Points are repeated when none of their pulses went out: allow a few,
        // and half as much again for the box's outages.
        const int runLimitMs = (60 + perPoint * (gridPoints(plan.grid) + 4)) * 1500 * slack;
        QElapsedTimer runClock;
        runClock.start();
        if (!runToEnd(f, runLimitMs)) {
            problems << QStringLiteral("run %1 did not end within %2 s: %3\nlast messages:\n%4")
                            .arg(runs + 1)
                            .arg(runLimitMs / 1000)
                            .arg(describe(f, faults), watch.recentMessages());
            hung = true;
            break;
        }
        // Answers still on their way belong to this run.
        BoxFixture::waitUntil([] { return false; }, 1500);
        faults.holdFlowWrites(false);
        watching = nullptr;
        const QStringList found = watch.check(&figures);
        for (const QString& problem : found)
            problems
                << QStringLiteral("run %1 (seed %2): %3").arg(runs + 1).arg(baseSeed).arg(problem);
        if (!found.isEmpty())
            problems << QStringLiteral("run %1 pulse commands: %2\nlast messages:\n%3")
                            .arg(runs + 1)
                            .arg(watch.pulseLog(), watch.recentMessages());
        qInfo("run %d: %lld s, %d records so far, the box away %d times so far; set points so "
              "far: %s",
              runs + 1, runClock.elapsed() / 1000, figures.records, int(faults.outages().size()),
              qPrintable(retryFigures()));
        ++runs;
        // A wrong record leaves nothing broken behind: the long soak goes on to
        // collect the others.
    } while (!hung && minutes > 0 && elapsed.elapsed() < minutes * 60000LL);
    faults.stop();
    OutageFigures outages;
    for (const QString& problem : outageWatch.check(&outages))
        problems << QStringLiteral("seed %1: %2").arg(baseSeed).arg(problem);

    // The figures of the soak.
    qInfo("soak: seed %u, %d run(s) in %lld s, %d records checked, %d pulse commands "
          "(%d reached the box, %d lost, %d of them while the box was away; %d refused by the "
          "generator, %d of them in points kept), %d points repeated (%d with refused pulses; "
          "%d stray pulses)",
          baseSeed, runs, elapsed.elapsed() / 1000, figures.records, figures.pulseCommands,
          figures.pulsesDelivered, figures.pulsesLost, figures.pulsesLostAway,
          figures.generatorRefusals, figures.refusalsInKeptPoints, figures.pointsRepeated,
          figures.pointsRefused, figures.strayPulses);
    qInfo("outages: the box away %d times for %.1f s in all, %d noticed by the temperature "
          "poller, %d \"Connection problem\" answered",
          outages.injected, outages.awayMs / 1000.0, outages.noticed, outages.questions);
    const QMap<QString, int> applied = faults.applied();
    QStringList scheduled;
    for (auto it = applied.begin(); it != applied.end(); ++it)
        scheduled << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    qInfo("scheduled faults: %s", qPrintable(scheduled.join(QStringLiteral(", "))));
    qInfo("set points (writes %s): %s",
          loseWritesGiven && loseWrites == 0 ? "spared" : "may be lost",
          qPrintable(retryFigures()));
    for (Device device : {Device::Temperature, Device::N2, Device::O2, Device::Pulse}) {
        QMap<QString, int> mix;
        for (const QByteArray& what : f.box->injectedFaults(device))
            ++mix[QString::fromLatin1(what.split(':').first())];
        QStringList kinds;
        for (auto it = mix.begin(); it != mix.end(); ++it)
            kinds << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
        qInfo("random mix, %s: %s",
              device == Device::Temperature ? "temperature"
              : device == Device::N2        ? "n2"
              : device == Device::O2        ? "o2"
                                            : "pulse",
              qPrintable(kinds.join(QStringLiteral(", "))));
    }

    // QtTest cuts long failure texts short: every problem goes to the log first.
    for (const QString& problem : problems.mid(0, 100))
        qWarning("%s", qPrintable(problem));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0)));
    QVERIFY(figures.records > 0);
}

int main(int argc, char** argv)
{
    // QtTest gives up on a test function after five minutes; the soak's own
    // watchdog bounds it instead.
    qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((budgetSeconds() + 60) * 1000));
    QApplication app(argc, argv);
    SoakTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_soak.moc"
