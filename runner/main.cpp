// baroterm-run: one calibration run from the command line, without a display.
#include "logfiles.h"
#include "runreport.h"
#include "runsession.h"
#include "runsetup.h"
#include "unixsignals.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void write(FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void toStdout(const QByteArray& bytes)
{
    write(stdout, bytes);
}

void toStderr(const QByteArray& bytes)
{
    write(stderr, bytes);
}

// Bad usage or input: one line naming it, and with --json the end event too.
int refuse(const QString& line, bool json)
{
    toStderr(runner::endingLine(runner::Ending::BadUsage, line).toUtf8() + '\n');
    if (json)
        toStdout(runner::jsonLine(runner::endEvent(runner::Ending::BadUsage, line)));
    return runner::exitStatus(runner::Ending::BadUsage);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("baroterm-run"));

    const runner::CommandLine commandLine = runner::parseCommandLine(app.arguments());
    const bool json = app.arguments().contains(QLatin1String("--json"));
    switch (commandLine.action) {
    case runner::CommandLine::Action::Help:
    case runner::CommandLine::Action::Version:
        toStdout(commandLine.text.toUtf8());
        return 0;
    case runner::CommandLine::Action::Refuse:
        toStderr(QStringLiteral("Try 'baroterm-run --help'.\n").toUtf8());
        return refuse(commandLine.text, json);
    case runner::CommandLine::Action::Run:
        break;
    }

    RunSession::Setup setup;
    setup.options = commandLine.options;
    const runner::PresetCheck preset = runner::readPresetPlan(setup.options.preset);
    if (!preset.ok)
        return refuse(preset.error, json);
    setup.preset = preset.preset;
    if (setup.options.cameraFeedback)
        setup.preset.cameraFeedback = *setup.options.cameraFeedback;
    if (const std::optional<QString> error =
            runner::applyReference(setup.options.reference, setup.preset))
        return refuse(*error, json);
    if (const std::optional<QString> error =
            runner::checkLog(setup.options.log, setup.options.overwrite, &setup.log))
        return refuse(*error, json);
    for (const QString& note : setup.preset.notes)
        toStderr(note.toUtf8() + '\n');

    const records::LogStatus created =
        records::createLogFiles({setup.log.log, setup.log.rawLog}, setup.log.layout,
                                setup.options.color, setup.preset.plan.unitFactor);
    if (created != records::LogStatus::Ok)
        return refuse(QStringLiteral("--log: \"%1\" cannot be created")
                          .arg(created == records::LogStatus::CantOpenRawLog ? setup.log.rawLog
                                                                             : setup.log.log),
                      json);

    setup.summary = runner::summarise(setup.preset, setup.options, setup.log);
    const QString plan = runner::planText(setup.preset, setup.summary);
    if (json) {
        toStdout(runner::jsonLine(runner::planEvent(setup.preset, setup.summary)));
        toStderr(plan.toUtf8());
    } else {
        toStdout(plan.toUtf8());
    }

    RunSession session(setup, toStdout, toStderr);
    UnixSignals signalSource;
    QObject::connect(&signalSource, &UnixSignals::received, &session, &RunSession::interrupt);
    QObject::connect(&session, &RunSession::finished, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    session.start();
    return app.exec();
}
