#include "commandline.h"

#include "appinfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace commandline {

namespace {

const char* const kHelpNames[] = {"-h", "--help", "-?", "--help-all"};
const char* const kVersionNames[] = {"-v", "--version"};

} // namespace

bool asksForHelpOrVersion(const QStringList& arguments)
{
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--"))
            return false; // what follows is no option
        for (const char* name : kHelpNames)
            if (arguments.at(i) == QLatin1String(name))
                return true;
        for (const char* name : kVersionNames)
            if (arguments.at(i) == QLatin1String(name))
                return true;
    }
    return false;
}

Outcome evaluate(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Drives the calibration box for pressure- and temperature-sensitive paint: "
                       "live readings, manual control and automatic calibration runs."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption monitorAt(
        QStringLiteral("monitor"),
        QStringLiteral("Serve the live view as a read-only web page over plain HTTP at "
                       "[ADDRESS:]PORT (address 127.0.0.1 unless given; an IPv6 address in "
                       "brackets), instead of what \"Share Live View...\" keeps. Any address but "
                       "the loopback asks an access key."),
        QStringLiteral("[address:]port"));
    const QCommandLineOption monitorKeyFile(
        QStringLiteral("monitor-key-file"),
        QStringLiteral("The page's access key is kept in this file, made with a new key when "
                       "missing; with it a loopback address asks the key too."),
        QStringLiteral("file"));
    parser.addOptions({monitorAt, monitorKeyFile});

    Outcome outcome;
    const auto refuse = [&outcome](const QString& error) {
        outcome.openWindow = false;
        outcome.exitCode = 2;
        outcome.standardError = QStringLiteral("baroterm: %1\nTry 'baroterm --help'.\n").arg(error);
        return outcome;
    };
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (parser.isSet(help)) {
        outcome.openWindow = false;
        outcome.standardOutput = parser.helpText();
    } else if (parser.isSet(version)) {
        outcome.openWindow = false;
        outcome.standardOutput =
            QStringLiteral("baroterm %1\n").arg(QString::fromLatin1(appinfo::kVersion));
        return outcome;
    }
    const QString monitorError = monitor::readMonitorOptions(parser, &outcome.monitor);
    if (!monitorError.isEmpty())
        return refuse(monitorError);
    return outcome;
}

} // namespace commandline
