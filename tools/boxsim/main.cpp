// baroterm-boxsim: the calibration box on this machine, until SIGINT or SIGTERM.

#include "barotermversion.h"
#include "boxsimulator.h"
#include "faultoption.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(signalPipe[1], &byte, 1);
    (void)written;
}

// Turns SIGINT and SIGTERM into a normal quit of the event loop, so the
// simulator closes its ports before the process ends.
bool installSignalHandlers(QCoreApplication* app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [notifier] {
        notifier->setEnabled(false);
        char byte;
        const ssize_t got = ::read(signalPipe[0], &byte, 1);
        (void)got;
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}
#else
bool installSignalHandlers(QCoreApplication*)
{
    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    return true;
}
#endif

void fail(const QString& message, int code)
{
    std::fprintf(stderr, "baroterm-boxsim: %s\n", qPrintable(message));
    std::exit(code);
}

double positiveNumber(const QCommandLineParser& parser, const QString& name, bool allowZero)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0 || (!allowZero && value == 0))
        fail(QStringLiteral("--%1 needs a %2 number, not \"%3\"")
                 .arg(name, allowZero ? QStringLiteral("non-negative") : QStringLiteral("positive"),
                      parser.value(name)),
             2);
    return value;
}

quint16 portNumber(const QCommandLineParser& parser, const QString& name, bool allowZero)
{
    bool ok = false;
    const uint value = parser.value(name).toUInt(&ok);
    if (!ok || value > 65535 || (!allowZero && value == 0))
        fail(QStringLiteral("--%1 needs a port number, not \"%2\"").arg(name, parser.value(name)),
             2);
    return quint16(value);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("baroterm-boxsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BAROTERM_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Stands in for the Baroterm calibration box: the temperature controller "
                       "(port 4000), the N2 and O2 flow controllers (4001, 4002), the pulse "
                       "generator (4003) and the serial device server's web forms (HTTP).\n\n") +
        boxsim::faultOptionHelp());
    parser.addHelpOption();
    parser.addVersionOption();
    const boxsim::Options defaults;
    parser.addOptions({
        {QStringLiteral("host"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
         QStringLiteral("address"), defaults.host},
        {QStringLiteral("base-port"),
         QStringLiteral("First device port; the devices use it and the next three (default "
                        "4000)."),
         QStringLiteral("port"), QString::number(defaults.basePort)},
        {QStringLiteral("http-port"),
         QStringLiteral("Port of the web forms (default 80, which needs privileges; 0 picks a "
                        "free one)."),
         QStringLiteral("port"), QString::number(defaults.httpPort)},
        {QStringLiteral("time-scale"),
         QStringLiteral("Runs every simulated time constant and delay this many times faster "
                        "(default 1)."),
         QStringLiteral("factor"), QStringLiteral("1")},
        {QStringLiteral("thermal-tau"),
         QStringLiteral("Time constant of the sample temperature, seconds (default 60)."),
         QStringLiteral("seconds"), QString::number(defaults.thermalTimeConstantS)},
        {QStringLiteral("flow-response"),
         QStringLiteral("Time constant of the mass flows, seconds (default 1)."),
         QStringLiteral("seconds"), QString::number(defaults.flowResponseS)},
        {QStringLiteral("initial-temperature"),
         QStringLiteral("Sample temperature at start, degrees Celsius (default 22)."),
         QStringLiteral("celsius"), QString::number(defaults.initialTemperatureC)},
        {QStringLiteral("camera-delay"),
         QStringLiteral("The camera acknowledges a '$' pulse this long after it (default 200)."),
         QStringLiteral("ms"), QString::number(defaults.cameraDelayMs)},
        {QStringLiteral("no-camera"),
         QStringLiteral("The camera never acknowledges: '$' pulses answer RR2 after 5 s.")},
        {QStringLiteral("fault"), QStringLiteral("Injects a fault (syntax above; repeatable)."),
         QStringLiteral("device:mode")},
        {QStringLiteral("random-faults"),
         QStringLiteral("Seeded random mix of faults on every device (see --seed).")},
        {QStringLiteral("seed"),
         QStringLiteral("Seed of the random fault mix (default 0): same seed, same faults."),
         QStringLiteral("n"), QStringLiteral("0")},
        {QStringLiteral("verbose"), QStringLiteral("Prints one line per frame on stderr.")},
        {QStringLiteral("log"), QStringLiteral("Writes one line per frame into this file."),
         QStringLiteral("file")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument \"%1\" (see --help)")
                 .arg(parser.positionalArguments().first()),
             2);

    boxsim::Options options;
    options.host = parser.value(QStringLiteral("host"));
    options.basePort = portNumber(parser, QStringLiteral("base-port"), false);
    if (int(options.basePort) + 3 > 65535)
        fail(QStringLiteral("--base-port leaves no room for four device ports"), 2);
    options.httpPort = portNumber(parser, QStringLiteral("http-port"), true);
    options.timeScale = positiveNumber(parser, QStringLiteral("time-scale"), false);
    options.thermalTimeConstantS = positiveNumber(parser, QStringLiteral("thermal-tau"), true);
    options.flowResponseS = positiveNumber(parser, QStringLiteral("flow-response"), true);
    bool ok = false;
    options.initialTemperatureC = parser.value(QStringLiteral("initial-temperature")).toDouble(&ok);
    if (!ok)
        fail(QStringLiteral("--initial-temperature needs a number"), 2);
    options.cameraDelayMs = int(positiveNumber(parser, QStringLiteral("camera-delay"), true));
    options.cameraAnswers = !parser.isSet(QStringLiteral("no-camera"));
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    options.logFile = parser.value(QStringLiteral("log"));
    options.randomFaults = parser.isSet(QStringLiteral("random-faults"));
    options.randomFaultSeed = parser.value(QStringLiteral("seed")).toUInt(&ok);
    if (!ok)
        fail(QStringLiteral("--seed needs a non-negative integer"), 2);

    std::array<boxsim::Faults, boxsim::kDeviceCount> faults{};
    for (const QString& text : parser.values(QStringLiteral("fault"))) {
        QString error;
        if (!boxsim::applyFaultOption(text, faults, &error))
            fail(error, 2);
    }

    boxsim::BoxSimulator simulator(options);
    for (int d = 0; d < boxsim::kDeviceCount; ++d)
        simulator.setFaults(boxsim::Device(d), faults[size_t(d)]);
    QString error;
    if (!simulator.start(&error)) {
        if (error.contains(QLatin1String("(http)")))
            error += QStringLiteral("; try --http-port 8080");
        fail(error, 1);
    }
    if (!installSignalHandlers(&app))
        fail(QStringLiteral("cannot install the signal handlers"), 1);

    std::fprintf(stderr,
                 "baroterm-boxsim: calibration box on %s: temperature %u, N2 %u, O2 %u, "
                 "pulse %u, web forms on HTTP port %u.\n"
                 "Enter %s as the box address in Baroterm. Stop with Ctrl+C.\n",
                 qPrintable(simulator.host()), simulator.port(boxsim::Temperature),
                 simulator.port(boxsim::N2), simulator.port(boxsim::O2),
                 simulator.port(boxsim::Pulse), simulator.port(boxsim::Http),
                 qPrintable(simulator.host()));
    if (simulator.port(boxsim::Http) != 80)
        std::fprintf(stderr, "baroterm-boxsim: the program's IP settings dialog uses port 80, "
                             "so it cannot reach these web forms.\n");

    const int code = QCoreApplication::exec();
    simulator.stop();
    std::fprintf(stderr, "baroterm-boxsim: stopped.\n");
    return code;
}
