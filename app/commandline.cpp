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

    Outcome outcome;
    if (!parser.parse(arguments)) {
        outcome.openWindow = false;
        outcome.exitCode = 2;
        outcome.standardError =
            QStringLiteral("baroterm: %1\nTry 'baroterm --help'.\n").arg(parser.errorText());
        return outcome;
    }
    if (parser.isSet(help)) {
        outcome.openWindow = false;
        outcome.standardOutput = parser.helpText();
    } else if (parser.isSet(version)) {
        outcome.openWindow = false;
        outcome.standardOutput =
            QStringLiteral("baroterm %1\n").arg(QString::fromLatin1(appinfo::kVersion));
    }
    return outcome;
}

} // namespace commandline
