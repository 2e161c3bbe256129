// baroterm-run: one calibration run from the command line, without a display.
#include "logfiles.h"
#include "readingsfile.h"
#include "runreport.h"
#include "runsession.h"
#include "runsetup.h"
#include "unixsignals.h"

#include "access.h"
#include "monitorserver.h"
#include "sessionsource.h"

#include <QCoreApplication>
#include <QSettings>

#include <csignal>
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

// The monitor page of the run, when asked for.
struct Monitor
{
    std::unique_ptr<monitor::SessionSource> source;
    std::unique_ptr<monitor::MonitorServer> server;
};

// Listens before anything goes to the box; the error line when it can't.
std::optional<QString> startMonitor(const runner::Options& options, const BoxSession& box,
                                    Monitor* out)
{
    const monitor::Endpoint endpoint = *options.monitor.endpoint;
    // baroterm-run keeps its own key, apart from the window's.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kelvra"),
                       QStringLiteral("baroterm-run"));
    const monitor::KeyFile key = monitor::accessKeyFor(endpoint, options.monitor.keyFile, settings);
    if (!key.error.isEmpty())
        return QStringLiteral("--monitor-key-file: %1").arg(key.error);
    out->source = std::make_unique<monitor::SessionSource>(box);
    out->server = std::make_unique<monitor::MonitorServer>(*out->source);
    const QString error = out->server->start(endpoint.address, endpoint.port, key.key);
    if (!error.isEmpty())
        return QStringLiteral("--monitor: %1").arg(error);
    toStderr(
        QStringLiteral("Monitor page: %1\n").arg(monitor::pageAddress(endpoint, key.key)).toUtf8());
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("baroterm-run"));
    // From the start: a signal during the checks reaches the session once it runs.
    UnixSignals signalSource;
    // A reader of the output that goes away must not end the run with the
    // instruments left where they are: the writes fail instead.
    std::signal(SIGPIPE, SIG_IGN);

    const runner::CommandLine commandLine = runner::parseCommandLine(app.arguments());
    const bool json = app.arguments().contains(QLatin1String("--json"));
    switch (commandLine.action) {
    case runner::CommandLine::Action::Help:
    case runner::CommandLine::Action::Version:
        toStdout(commandLine.text.toUtf8());
        return 0;
    case runner::CommandLine::Action::Refuse:
        return refuse(commandLine.text, json);
    case runner::CommandLine::Action::Report:
        if (const std::optional<QString> error = runner::remakeReport(commandLine.options))
            return refuse(*error, false);
        toStderr(QStringLiteral("Written %1 and %2\n")
                     .arg(records::pointsPathFor(records::nativePath(commandLine.options.report)),
                          records::reportPathFor(records::nativePath(commandLine.options.report)))
                     .toUtf8());
        return 0;
    case runner::CommandLine::Action::Run:
        break;
    }

    RunSession::Setup setup;
    const bool resume = !commandLine.options.resume.isEmpty();
    if (const std::optional<QString> error =
            resume ? runner::prepareResume(commandLine.options, &setup)
                   : runner::prepareRun(commandLine.options, &setup))
        return refuse(*error, json);
    if (resume) {
        const records::ResumeDecision& decision = setup.decision;
        toStderr(QStringLiteral("Resuming at point %1 of %2, record %3\n")
                     .arg(decision.pointIndex + 1)
                     .arg(decision.totalPoints)
                     .arg(records::formatRecordNumber(decision.nextRecordNumber))
                     .toUtf8());
        const QString images = decision.imagesWarning();
        if (!images.isEmpty()) {
            toStderr(images.toUtf8() + '\n');
            if (json)
                toStdout(runner::jsonLine(runner::warningEvent(images)));
        }
    }
    for (const QString& note : setup.preset.notes)
        toStderr(note.toUtf8() + '\n');
    const QString plan = runner::planText(setup.preset, setup.summary);
    if (json) {
        toStdout(runner::jsonLine(runner::planEvent(setup.preset, setup.summary)));
        toStderr(plan.toUtf8());
    } else {
        toStdout(plan.toUtf8());
    }

    RunSession session(setup, toStdout, toStderr);
    Monitor monitor;
    if (commandLine.options.monitor.endpoint) {
        if (const std::optional<QString> error =
                startMonitor(commandLine.options, session.box(), &monitor)) {
            if (!resume)
                runner::removeUnusedLogs(setup);
            return refuse(*error, json);
        }
    }
    QObject::connect(&signalSource, &UnixSignals::received, &session, &RunSession::interrupt);
    QObject::connect(&session, &RunSession::finished, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    session.start();
    const int status = app.exec();
    if (status == runner::exitStatus(runner::Ending::NoFirstReading) && !resume)
        runner::removeUnusedLogs(setup);
    return status;
}
