// baroterm-bench: runs the real main window headless against the box simulator
// and prints one figure per line ("name value"), so two builds compare with diff.

#include "barotermversion.h"
#include "benchdialogs.h"
#include "boxprocess.h"
#include "procstats.h"
#include "resourcesinit.h"
#include "runfloor.h"
#include "tempsensor.h"
#include "windowdriver.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>

#ifndef BAROTERM_WATCHERS_PATH
#define BAROTERM_WATCHERS_PATH "baroterm-bench-watchers"
#endif
#ifndef BAROTERM_BOXSIM_PATH
#define BAROTERM_BOXSIM_PATH "baroterm-boxsim"
#endif

namespace {

using windowdriver::Plan;
using windowdriver::RunOutcome;
using windowdriver::Sample;

struct Options
{
    bool idle = false;
    bool grid = false;
    bool longRun = false;
    int idleSeconds = 60;
    bool liveView = false;
    int monitorClients = 0; // event streams on the shared page during the grids
    int statusRate = 50;    // /api/status requests a second meanwhile
    double timeScale = 1000;
    QString host = QStringLiteral("127.77.0.1");
    QString boxsim = QStringLiteral(BAROTERM_BOXSIM_PATH);
};

[[noreturn]] void usageError(const QString& message)
{
    std::fprintf(stderr, "baroterm-bench: %s (see --help)\n", qPrintable(message));
    std::exit(2);
}

Options parseOptions(int& argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs Baroterm's main window headless against baroterm-boxsim (started as a child "
        "process) and prints one figure per line."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption scenario(
        QStringLiteral("scenario"),
        QStringLiteral("idle, grid, long or all (default all; about 14 minutes)."),
        QStringLiteral("name"), QStringLiteral("all"));
    const QCommandLineOption idleSeconds(
        QStringLiteral("idle-seconds"), QStringLiteral("Length of the idle scenario (default 60)."),
        QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption timeScale(
        QStringLiteral("time-scale"),
        QStringLiteral("Simulator time scale; high so the instruments settle at once "
                       "(default 1000)."),
        QStringLiteral("x"), QStringLiteral("1000"));
    const QCommandLineOption host(
        QStringLiteral("host"),
        QStringLiteral("Loopback address for the simulator, not 127.0.0.1 (default 127.77.0.1)."),
        QStringLiteral("address"), QStringLiteral("127.77.0.1"));
    const QCommandLineOption boxsim(QStringLiteral("boxsim"),
                                    QStringLiteral("The simulator program (default: the one "
                                                   "built with this benchmark)."),
                                    QStringLiteral("path"), QStringLiteral(BAROTERM_BOXSIM_PATH));
    const QCommandLineOption liveView(
        QStringLiteral("live-view"),
        QStringLiteral("Opens the live view once connected, so its drawing is measured too."));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version."));
    const QCommandLineOption monitorClients(
        QStringLiteral("monitor-clients"),
        QStringLiteral("Shares the live view on the simulator's address and, during the grids, "
                       "keeps this many event streams on it and asks /api/status (see "
                       "--status-rate), from a process of their own."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption statusRate(
        QStringLiteral("status-rate"),
        QStringLiteral("With --monitor-clients: /api/status requests a second (default 50; 0: "
                       "none, the event streams alone)."),
        QStringLiteral("n"), QStringLiteral("50"));
    parser.addOptions({help, version, scenario, idleSeconds, timeScale, host, boxsim, liveView,
                       monitorClients, statusRate});
    if (!parser.parse(arguments))
        usageError(parser.errorText());
    if (parser.isSet(help)) {
        // The help text names the program through the application object.
        QCoreApplication application(argc, argv);
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::exit(0);
    }
    if (parser.isSet(version)) {
        std::fputs("baroterm-bench " BAROTERM_VERSION "\n", stdout);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty())
        usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    Options options;
    const QString which = parser.value(scenario);
    options.idle = which == QLatin1String("idle") || which == QLatin1String("all");
    options.grid = which == QLatin1String("grid") || which == QLatin1String("all");
    options.longRun = which == QLatin1String("long") || which == QLatin1String("all");
    if (!options.idle && !options.grid && !options.longRun)
        usageError(QStringLiteral("unknown scenario \"%1\"").arg(which));
    bool ok = false;
    options.idleSeconds = parser.value(idleSeconds).toInt(&ok);
    if (!ok || options.idleSeconds < 1 || options.idleSeconds > 3600)
        usageError(QStringLiteral("--idle-seconds needs 1 to 3600"));
    options.timeScale = parser.value(timeScale).toDouble(&ok);
    if (!ok || options.timeScale < 1)
        usageError(QStringLiteral("--time-scale needs a number of at least 1"));
    options.host = parser.value(host);
    const QHostAddress address(options.host);
    if (!address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol ||
        address == QHostAddress(QHostAddress::LocalHost))
        usageError(QStringLiteral("--host needs a 127.x.y.z address other than 127.0.0.1"));
    options.boxsim = parser.value(boxsim);
    options.liveView = parser.isSet(liveView);
    options.monitorClients = parser.value(monitorClients).toInt(&ok);
    if (!ok || options.monitorClients < 0 || options.monitorClients > 30)
        usageError(QStringLiteral("--monitor-clients needs 0 to 30"));
    options.statusRate = parser.value(statusRate).toInt(&ok);
    if (!ok || options.statusRate < 0 || options.statusRate > 200)
        usageError(QStringLiteral("--status-rate needs 0 to 200"));
    return options;
}

// Prints figures as they come and keeps them for the verdicts at the end.
class Report
{
public:
    void figure(const QString& name, double value, int decimals = 0)
    {
        m_values.insert(name, value);
        std::printf("%s %.*f\n", qPrintable(name), decimals, value);
        std::fflush(stdout);
    }
    void comment(const QString& text)
    {
        std::printf("# %s\n", qPrintable(text));
        std::fflush(stdout);
    }
    bool has(const QString& name) const { return m_values.contains(name); }
    double value(const QString& name) const { return m_values.value(name); }

    // One verdict line for a figure that was measured.
    void target(const QString& name, const char* relation, double limit)
    {
        if (!has(name))
            return;
        const double v = value(name);
        const bool met = QByteArray(relation) == "<=" ? v <= limit : v < limit;
        comment(QStringLiteral("target %1 %2 %3: %4 (%5)")
                    .arg(name, QString::fromLatin1(relation))
                    .arg(limit)
                    .arg(met ? QStringLiteral("met") : QStringLiteral("MISSED"))
                    .arg(v));
    }

private:
    QMap<QString, double> m_values;
};

template <typename T> double median(QVector<T> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? double(values[n / 2]) : (double(values[n / 2 - 1]) + double(values[n / 2])) / 2;
}

QString cpuModel()
{
    QFile file(QStringLiteral("/proc/cpuinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("model name"))
            return QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
    }
    return QString();
}

void reportCpu(Report& report, const QString& name, double cpuS, double wallS)
{
    report.figure(name + QStringLiteral(".cpu_s"), cpuS, 3);
    report.figure(name + QStringLiteral(".cpu_s_per_min"), wallS > 0 ? cpuS / wallS * 60 : 0, 3);
    report.figure(name + QStringLiteral(".cpu_pct"), wallS > 0 ? cpuS / wallS * 100 : 0, 2);
}

void runIdle(Report& report, int seconds)
{
    const double cpuBefore = procstats::cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    windowdriver::idleFor(seconds * 1000);
    const double wallS = double(wall.nsecsElapsed()) / 1e9;
    report.figure(QStringLiteral("idle.wall_s"), wallS, 1);
    reportCpu(report, QStringLiteral("idle"), procstats::cpuSeconds() - cpuBefore, wallS);
}

// Growth between the first and the last points of a run, taken at the pulses.
void reportGrowth(Report& report, const QString& name, const RunOutcome& run)
{
    const QVector<Sample>& samples = run.atPulses;
    const int n = qMin(50, samples.size() / 2);
    QVector<qint64> rssFirst, rssLast;
    QVector<int> fdsFirst, fdsLast;
    for (int i = 0; i < n; ++i) {
        rssFirst.append(samples[i].rssKb);
        fdsFirst.append(samples[i].fds);
        rssLast.append(samples[samples.size() - n + i].rssKb);
        fdsLast.append(samples[samples.size() - n + i].fds);
    }
    const QString p = name + QLatin1Char('.');
    report.figure(p + QStringLiteral("rss_start_kb"), double(run.atStart.rssKb));
    report.figure(p + QStringLiteral("rss_end_kb"), double(run.atEnd.rssKb));
    report.figure(p + QStringLiteral("rss_first50_kb"), median(rssFirst));
    report.figure(p + QStringLiteral("rss_last50_kb"), median(rssLast));
    report.figure(p + QStringLiteral("rss_growth_kb"), median(rssLast) - median(rssFirst));
    report.figure(p + QStringLiteral("fds_start"), run.atStart.fds);
    report.figure(p + QStringLiteral("fds_end"), run.atEnd.fds);
    const int fdsFirst50 =
        fdsFirst.isEmpty() ? 0 : *std::max_element(fdsFirst.begin(), fdsFirst.end());
    const int fdsLast50 = fdsLast.isEmpty() ? 0 : *std::max_element(fdsLast.begin(), fdsLast.end());
    report.figure(p + QStringLiteral("fds_first50_max"), fdsFirst50);
    report.figure(p + QStringLiteral("fds_last50_max"), fdsLast50);
    report.figure(p + QStringLiteral("fds_growth"), fdsLast50 - fdsFirst50);
}

// The shared page's watchers during a grid, as a child process.
class Watchers
{
public:
    Watchers(const QString& host, quint16 port, int clients, int statusRate)
    {
        if (clients <= 0)
            return;
        m_process.start(
            QStringLiteral(BAROTERM_WATCHERS_PATH),
            {host, QString::number(port), QString::number(clients), QString::number(statusRate)});
        m_process.waitForStarted();
    }
    // Their figures, prefixed "<name>.monitor.".
    void report(Report& report, const QString& name)
    {
        if (m_process.state() != QProcess::Running)
            return;
        m_process.terminate(); // by its own process id
        m_process.waitForFinished(5000);
        for (const QByteArray& line : m_process.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 2)
                report.figure(name + QStringLiteral(".monitor.") + QString::fromLatin1(parts[0]),
                              parts[1].toDouble(), 2);
        }
    }

private:
    QProcess m_process;
};

bool runGrid(Report& report, const QString& name, TempSensor* window, BenchDialogs& dialogs,
             const Plan& plan, const QString& logPath, bool growth, Watchers* watchers = nullptr)
{
    windowdriver::planGrid(window, plan);
    const runfloor::Grid points = windowdriver::plannedPoints(window);
    const runfloor::Floor floor = runfloor::forGrid(points);
    const int expected = qMax(points.temperaturePoints, 1) * points.pressurePoints;
    if (floor.steps == 0) {
        report.comment(name + QStringLiteral(": no floor for this grid"));
        return false;
    }
    if (!windowdriver::chooseLog(window, dialogs, logPath)) {
        report.comment(name + QStringLiteral(": the log could not be chosen"));
        return false;
    }
    // Let the gas and the readings settle from whatever came before.
    windowdriver::idleFor(1500);

    const qint64 limitMs = floor.totalMs() * 2 + 60000;
    const RunOutcome run = windowdriver::runToEnd(window, limitMs);
    if (watchers)
        watchers->report(report, name);
    const int records = windowdriver::recordsIn(logPath);
    const double floorS = double(floor.totalMs()) / 1000;

    const QString p = name + QLatin1Char('.');
    report.figure(p + QStringLiteral("points_expected"), expected);
    report.figure(p + QStringLiteral("points"), records);
    report.figure(p + QStringLiteral("finished"), run.finished ? 1 : 0);
    report.figure(p + QStringLiteral("wall_s"), run.wallS, 2);
    report.figure(p + QStringLiteral("floor_s"), floorS, 2);
    report.figure(p + QStringLiteral("floor_waits_s"), double(floor.waitsMs) / 1000, 2);
    report.figure(p + QStringLiteral("floor_steps"), floor.steps);
    report.figure(p + QStringLiteral("ratio"), run.wallS / floorS, 3);
    report.figure(p + QStringLiteral("wall_per_point_s"), records > 0 ? run.wallS / records : 0, 3);
    // Beyond the fixed waits, what each step spent waiting for its reading.
    report.figure(p + QStringLiteral("beyond_waits_per_step_s"),
                  (run.wallS - double(floor.waitsMs) / 1000) / floor.steps, 3);
    QVector<qint64> gaps;
    for (int i = 1; i < run.atPulses.size(); ++i)
        gaps.append(run.atPulses[i].atMs - run.atPulses[i - 1].atMs);
    // Mostly neighbouring pressures: 2.7 s of waits plus the wait for a reading.
    report.figure(p + QStringLiteral("pulse_gap_median_s"), median(gaps) / 1000, 3);
    report.figure(p + QStringLiteral("pulse_gap_max_s"),
                  gaps.isEmpty() ? 0 : double(*std::max_element(gaps.begin(), gaps.end())) / 1000,
                  3);
    reportCpu(report, name, run.cpuS, run.wallS);
    if (growth)
        reportGrowth(report, name, run);
    return run.finished && records == expected;
}

} // namespace

int main(int argc, char* argv[])
{
    const double execToMainMs = procstats::msSinceProcessStart();
    const Options options = parseOptions(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // Settings and logs of this run only: the user's own settings stay untouched.
    QTemporaryDir workDir;
    if (!workDir.isValid()) {
        std::fprintf(stderr, "baroterm-bench: no temporary folder\n");
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(workDir.path()));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, workDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, workDir.path());

    Report report;
    BenchDialogs dialogs;
    BoxProcess box;
    QString boxError;
    double askedFromStartMs = -1;
    double askedFromMainMs = -1;
    double paintedFromMainMs = -1;
    QElapsedTimer sinceMain;
    QElapsedTimer sinceAddress;

    dialogs.answerAddress = [&]() -> QString {
        askedFromMainMs = double(sinceMain.nsecsElapsed()) / 1e6;
        askedFromStartMs = procstats::msSinceProcessStart();
        // Behind a real dialog the window would paint now.
        QCoreApplication::processEvents();
        paintedFromMainMs = double(sinceMain.nsecsElapsed()) / 1e6;
        BoxProcess::Settings settings;
        settings.program = options.boxsim;
        settings.host = options.host;
        settings.timeScale = options.timeScale;
        if (!box.start(settings, &boxError))
            return QString();
        sinceAddress.start();
        return options.host;
    };

    // From here on as the program's own start: the window, shown, asking for the address.
    sinceMain.start();
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling); // always on in Qt 6
#endif
    registerBarotermResources();
    QApplication application(argc, argv);
    auto window = std::make_unique<TempSensor>();
    window->show();
    window->setIPAddress();
    dialogs.answerAddress = nullptr;

    QElapsedTimer total;
    total.start();
    report.comment(
        QStringLiteral("machine: %1 cores, %2").arg(QThread::idealThreadCount()).arg(cpuModel()));
    report.comment(QStringLiteral("simulator: %1 on %2, time scale %3")
                       .arg(options.boxsim, options.host)
                       .arg(options.timeScale));
    report.figure(QStringLiteral("machine.cores"), QThread::idealThreadCount());
    report.figure(QStringLiteral("startup.exec_to_main_ms"), execToMainMs, 0);
    report.figure(QStringLiteral("startup.window_ready_ms"), askedFromStartMs, 0);
    report.figure(QStringLiteral("startup.main_to_ready_ms"), askedFromMainMs, 1);
    report.figure(QStringLiteral("startup.main_to_painted_ms"), paintedFromMainMs, 1);
    if (!box.isRunning()) {
        std::fprintf(stderr, "baroterm-bench: %s\n", qPrintable(boxError));
        return 1;
    }
    if (!windowdriver::waitUntil([&window] { return windowdriver::hasReading(window.get()); },
                                 10000)) {
        std::fprintf(stderr, "baroterm-bench: no temperature reading from the simulator\n");
        return 1;
    }
    report.figure(QStringLiteral("connect.first_reading_ms"),
                  double(sinceAddress.nsecsElapsed()) / 1e6, 1);
    if (options.liveView) {
        window->findChild<QAction*>(QStringLiteral("actionLive_View"))->trigger();
        report.comment(QStringLiteral("live view open"));
    }
    quint16 monitorPort = 0;
    if (options.monitorClients > 0) {
        QTcpServer probe;
        probe.listen(QHostAddress(options.host), 0);
        monitorPort = probe.serverPort();
        probe.close();
        monitor::Endpoint endpoint;
        endpoint.address = QHostAddress(options.host);
        endpoint.port = monitorPort;
        window->startSharing(endpoint);
        if (!window->liveViewShared()) {
            std::fprintf(stderr, "baroterm-bench: the live view could not be shared\n");
            return 1;
        }
        report.comment(QStringLiteral("live view shared on %1 port %2, %3 event streams during "
                                      "the grids")
                           .arg(options.host)
                           .arg(monitorPort)
                           .arg(options.monitorClients));
    }
    // The connection's own commands (gas off) settle before anything is measured.
    windowdriver::idleFor(2000);

    bool ok = true;
    if (options.idle)
        runIdle(report, options.idleSeconds);
    if (options.grid) {
        // 3 temperatures x 11 pressures; 22 degrees is where the sample starts.
        Plan plan;
        plan.temperatureAxis = true;
        plan.tFrom = 22;
        plan.tTo = 24;
        plan.tStep = 1;
        plan.pressureAxis = true;
        plan.pFrom = 0.5;
        plan.pTo = 3.0;
        plan.pStep = 0.25;
        Watchers watchers(options.host, monitorPort, options.monitorClients, options.statusRate);
        ok = runGrid(report, QStringLiteral("grid"), window.get(), dialogs, plan,
                     workDir.filePath(QStringLiteral("grid.csv")), false, &watchers) &&
             ok;
    }
    if (options.longRun) {
        // 200 pressures on one temperature: the quickest way to many points.
        Plan plan;
        plan.pressureAxis = true;
        plan.pFrom = 0.5;
        plan.pTo = 4.48;
        plan.pStep = 0.02;
        ok = runGrid(report, QStringLiteral("long"), window.get(), dialogs, plan,
                     workDir.filePath(QStringLiteral("long.csv")), true) &&
             ok;
    }

    report.figure(QStringLiteral("peak_rss_kb"), double(procstats::peakRssKb()));
    report.figure(QStringLiteral("dialogs.unexpected"), dialogs.unexpectedCount());
    for (const QString& question : dialogs.unexpected())
        report.comment(QStringLiteral("unexpected dialog: ") + question);
    report.figure(QStringLiteral("bench.total_s"), double(total.nsecsElapsed()) / 1e9, 1);

    report.target(QStringLiteral("startup.window_ready_ms"), "<=", 300);
    report.target(QStringLiteral("idle.cpu_pct"), "<", 2);
    report.target(QStringLiteral("grid.ratio"), "<=", 1.10);
    report.target(QStringLiteral("grid.cpu_pct"), "<", 2);
    report.target(QStringLiteral("grid.monitor.status_p99_ms"), "<=", 20);
    report.target(QStringLiteral("long.cpu_pct"), "<", 2);
    // Flat: a leak of a few kB per point shows within 150 points; noise is a few pages.
    report.target(QStringLiteral("long.rss_growth_kb"), "<=", 256);
    report.target(QStringLiteral("long.fds_growth"), "<=", 0);
    report.target(QStringLiteral("peak_rss_kb"), "<", 80 * 1024);

    window.reset();
    box.stop();
    return ok ? 0 : 1;
}
