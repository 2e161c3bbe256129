#include "runsession.h"

#include "boxcommands.h"
#include "boxlink.h"
#include "flowpollers.h"
#include "flowprotocol.h"
#include "logfiles.h"
#include "modbusframes.h"
#include "pulsesequence.h"
#include "units.h"
#include "workerthread.h"

#include <QDeadlineTimer>
#include <QFile>

#include <csignal>

namespace {

// A stop ends a wait within this.
constexpr int kStopCheckMs = 20;
// How often the watch looks at the readings' age and retries a lost poller.
constexpr int kWatchMs = 500;

// The set-point boxes of the window: the temperature one, and the pressure
// one in the run's unit.
constexpr runner::SpinRange kSetTemperatureRange{-25.0, 90.0, 1};

run::RunController::FlowChecks flowChecks()
{
    return {flow::reportsSetPoint, flow::flowSettled, flow::kN2Id, flow::kO2Id};
}

} // namespace

RunSession::RunSession(const Setup& setup, Sink standardOutput, Sink standardError, QObject* parent)
    : QObject(parent), m_setup(setup), m_out(std::move(standardOutput)),
      m_err(std::move(standardError)), m_controller(flowChecks())
{
    m_clock.start();
    m_log.setFiles({m_setup.log.log, m_setup.log.rawLog});
    m_log.onFailure([this](const QString& text) {
        // Inside a command: the stop is carried out from the event loop.
        QMetaObject::invokeMethod(
            this, [this, text] { journalFailed(text); }, Qt::QueuedConnection);
    });
    m_watch.setInterval(kWatchMs);
    connect(&m_watch, &QTimer::timeout, this, &RunSession::watchReadings);
    // A retry's hold of the temperature poller is no reason for silence.
    m_retries.setSenders(
        [this](double celsius) {
            m_inRetry = true;
            sendTemperature(celsius, true);
            m_inRetry = false;
        },
        [this](float n2, float o2) {
            m_inRetry = true;
            sendGas(gasmix::Flows{n2, o2});
            m_inRetry = false;
        });
    connect(&m_retries, &SetPointRetries::notice, this, [this](const QString& text, bool warning) {
        if (warning)
            warn(text);
        else
            say(text);
    });
    connect(&m_commands, &CommandRunner::idle, this, [this] {
        if (m_runStarted)
            carryOutCommands();
    });
    // The warnings name the readings as the window's readouts show them.
    m_pulses.setReadings(
        [this] { return std::make_pair(double(m_model.temperature()), shownPressure()); });
    connect(&m_pulses, &PulseSequence::message, this,
            [this](const QString& text, int, PulseSequence::MessageStyle style) {
                if (style == PulseSequence::MessageStyle::Warning)
                    warn(text);
            });
    connect(&m_pulses, &PulseSequence::pulseRefused, this,
            [this] { warn(QStringLiteral("Pulse ERROR: Pulse did not sent!")); });
}

double RunSession::shownPressure() const
{
    return gasmix::pressureText(m_model.airPressureBar(), m_setup.preset.plan.unitFactor)
        .toDouble();
}

RunSession::~RunSession()
{
    stopPollers();
}

void RunSession::start()
{
    if (m_started)
        return;
    m_started = true;
    const QString& box = m_setup.options.box;
    m_temperaturePoller = new WorkerThread(box, this);
    connect(m_temperaturePoller, &WorkerThread::valueChangedT, this, &RunSession::onTemperature);
    connect(m_temperaturePoller, &WorkerThread::connectionLost, this, &RunSession::onBoxLost);
    m_n2Poller = new workerN2(box, this);
    connect(m_n2Poller, &workerN2::valueChangedN2, this, &RunSession::onN2);
    m_o2Poller = new workerO2(box, this);
    connect(m_o2Poller, &workerO2::valueChangedO2, this, &RunSession::onO2);
    for (BoxPoller* poller :
         {static_cast<BoxPoller*>(m_temperaturePoller), static_cast<BoxPoller*>(m_n2Poller),
          static_cast<BoxPoller*>(m_o2Poller)})
        poller->start();
    m_sinceWatch.start();
    m_watch.start();
}

void RunSession::stopPollers()
{
    for (BoxPoller* poller :
         {static_cast<BoxPoller*>(m_o2Poller), static_cast<BoxPoller*>(m_n2Poller),
          static_cast<BoxPoller*>(m_temperaturePoller)}) {
        if (!poller)
            continue;
        poller->stopPolling();
        poller->wait(2000);
    }
}

void RunSession::onTemperature(float celsius)
{
    m_model.temperatureRead(celsius);
    m_silentMs = 0;
    m_retries.hold(false); // the box answers
    if (m_ended)
        return;
    if (!m_runStarted) {
        if (!m_stopping)
            beginRun();
        return;
    }
    m_controller.temperatureReading(celsius, now());
    carryOutCommands();
}

void RunSession::onN2(float setPoint, float massFlow)
{
    m_model.n2Shown(gasmix::flowText(massFlow));
    m_retries.flowReading(setpoint::Controller::N2, setPoint);
    m_controller.flowReading(run::FlowController::N2, setPoint, massFlow, now());
}

void RunSession::onO2(float setPoint, float massFlow)
{
    m_model.o2Shown(gasmix::flowText(massFlow));
    m_retries.flowReading(setpoint::Controller::O2, setPoint);
    m_controller.flowReading(run::FlowController::O2, setPoint, massFlow, now());
}

void RunSession::onBoxLost()
{
    // The poller tries again on its own; until readings come back nothing
    // read before may stand behind a record, and set points wait.
    m_controller.boxLost(now());
    m_retries.hold(true);
    // Before the first reading the end's own line says so.
    if (m_runStarted && !m_ended)
        warn(QStringLiteral("Can't connect to calibration box: %1").arg(m_setup.options.box));
}

void RunSession::watchReadings()
{
    const qint64 sinceWatch = m_sinceWatch.restart();
    if (m_ended)
        return;
    // The silence clock stands still while a command of the run holds the
    // temperature poller (a pulse sequence may hold it long); a set point sent
    // again holds it only for itself.
    if (m_commands.pauseCount(m_temperaturePoller) == 0 || m_inRetry)
        m_silentMs += sinceWatch;
    if (!m_runStarted) {
        if (!m_stopping && m_silentMs >= m_setup.firstReadingMs) {
            m_ending = runner::Ending::NoFirstReading;
            m_endDetail = QStringLiteral("box %1").arg(m_setup.options.box);
            finish();
        }
        return;
    }
    if (!m_stopping && m_silentMs >= m_setup.silenceMs)
        stopRun(runner::Ending::BoxLost, QStringLiteral("box %1").arg(m_setup.options.box));
}

void RunSession::beginRun()
{
    m_runStarted = true;
    if (m_setup.options.init) {
        say(QStringLiteral("Initialising the controllers..."));
        m_commands.submit(QStringLiteral("initialise"), [this] {
            m_commands.pausePoller(m_temperaturePoller);
            boxcommands::initialiseTemperature(m_commands, m_setup.options.box);
            m_commands.pausePoller(m_n2Poller);
            m_commands.pausePoller(m_o2Poller);
            boxcommands::initialiseFlows(m_commands, m_setup.options.box);
            m_controller.setPointsSent(std::nullopt, now());
            m_commands.resumePoller(m_o2Poller);
            m_commands.resumePoller(m_n2Poller);
            m_commands.resumePoller(m_temperaturePoller);
            return true;
        });
        if (m_stopping) {
            finish();
            return;
        }
        say(QStringLiteral("Initialization completed"));
    }
    m_runClock.start();
    if (!m_setup.resumed) {
        if (!m_log.begin(runner::journalContents(m_setup)))
            return; // journalFailed() ends the run
    } else {
        m_log.resumed(*m_setup.resumed, {m_setup.log.log, m_setup.log.rawLog},
                      m_setup.decision.nextRecordNumber);
    }
    m_controllerStarted = m_controller.start(m_setup.preset.plan);
    if (!m_controllerStarted) {
        m_ending = runner::Ending::BadUsage;
        m_endDetail = QStringLiteral("the run could not start");
        finish();
        return;
    }
    carryOutCommands();
}

void RunSession::interrupt(int signalNumber)
{
    const runner::Ending ending =
        signalNumber == SIGINT ? runner::Ending::Interrupted : runner::Ending::Terminated;
    ++m_signals;
    if (m_ended)
        return;
    if (m_signals > 1 || m_stopping) {
        // A second signal: no temperature any more, only the gas off.
        ++m_stopCount;
        m_controller.close();
        m_commands.cancelPending();
        QMetaObject::invokeMethod(this, &RunSession::carryOutCommands, Qt::QueuedConnection);
        return;
    }
    stopRun(ending, QString());
}

void RunSession::stopRun(runner::Ending ending, const QString& detail)
{
    m_stopping = true;
    m_ending = ending;
    m_endDetail = detail;
    if (!m_runStarted) {
        // Nothing was sent yet.
        finish();
        return;
    }
    ++m_stopCount;
    m_controller.stop();
    m_commands.cancelPending();
    // Carried out from the event loop: a signal may come inside a command's wait.
    QMetaObject::invokeMethod(this, &RunSession::carryOutCommands, Qt::QueuedConnection);
}

void RunSession::carryOutCommands()
{
    if (m_ended || m_stepPending)
        return;
    if (m_controller.command()) {
        m_stepPending = true;
        m_commands.submit(
            QStringLiteral("run step"),
            [this] {
                if (const std::optional<run::Command> command = m_controller.command())
                    m_controller.commandDone(carryOut(*command));
                return true;
            },
            [this](const CommandRunner::Outcome& outcome) {
                m_stepPending = false;
                if (outcome.ran)
                    carryOutCommands();
            });
        return;
    }
    if (!m_controllerStarted)
        return; // initialising: beginRun() goes on when that is done
    const run::Phase phase = m_controller.phase();
    if (!m_controller.runActive() && (phase == run::Phase::Done || phase == run::Phase::Stopped ||
                                      phase == run::Phase::Closed || phase == run::Phase::Idle)) {
        // The process ends: a lost set point gets only a bounded few more tries.
        if (!m_retriesClosing) {
            m_retriesClosing = true;
            m_retries.closing();
        }
        // Otherwise the command under way (or a last retry) ends first; the
        // queue's idle() comes back here.
        if (!m_commands.busy() && !m_retries.closeRetryPending())
            finish();
    }
}

void RunSession::waitUnlessStopped(int ms, int stopsBefore)
{
    QDeadlineTimer deadline(qMax(ms, 0), Qt::PreciseTimer);
    do {
        boxlink::processEventsFor(int(qMin<qint64>(deadline.remainingTime(), kStopCheckMs)));
    } while (!deadline.hasExpired() && m_stopCount == stopsBefore);
}

run::CommandResult RunSession::carryOut(const run::Command& command)
{
    const int stopsBefore = m_stopCount;
    const double factor = m_setup.preset.plan.unitFactor;
    run::CommandResult result;
    switch (command.kind) {
    case run::Command::SetTemperature: {
        const double celsius = runner::spinBoxValue(command.value, kSetTemperatureRange);
        if (command.ms > 0)
            waitUnlessStopped(command.ms, stopsBefore);
        // After a stop no set point may move.
        if (m_stopCount == stopsBefore) {
            m_temperatureSetPoint = celsius;
            sendTemperature(celsius);
        }
        break;
    }
    case run::Command::SetPressure:
        m_pressureSetPoint =
            runner::spinBoxValue(command.value, runner::pressureRange(factor, false));
        if (command.send) {
            const gasmix::Flows flows =
                gasmix::flowsForPressure(m_pressureSetPoint, factor, m_model.gasOff());
            sendGas(flows);
            result.flowsSent = flows;
        }
        break;
    case run::Command::GasOn:
    case run::Command::GasOff: {
        m_model.setGasOff(command.kind == run::Command::GasOff);
        const gasmix::Flows flows =
            gasmix::flowsForPressure(m_pressureSetPoint, factor, m_model.gasOff());
        sendGas(flows);
        result.flowsSent = flows;
        break;
    }
    case run::Command::Wait:
        if (command.pauseTemperaturePoller)
            m_commands.pausePoller(m_temperaturePoller);
        waitUnlessStopped(command.ms, stopsBefore);
        if (command.pauseTemperaturePoller)
            m_commands.resumePoller(m_temperaturePoller);
        break;
    case run::Command::WriteRecord:
        result.ok = writeRecord();
        result.recordNumber = m_log.lastNumber();
        break;
    case run::Command::PulseSequence:
        result.pulsesSent = runPulses(command.extraWaitAtZeroPressure, stopsBefore);
        result.pulsesRefused = m_pulses.refusedPulses();
        // A point is reported once its images are taken.
        if (result.pulsesSent > 0 && m_unreportedRecord) {
            reportPoint(*m_unreportedRecord);
            m_unreportedRecord.reset();
        }
        break;
    case run::Command::TakeBackRecord:
        result.ok = takeBackRecord();
        break;
    case run::Command::ShowStatus:
        if (command.warning)
            warn(command.text);
        break;
    case run::Command::RunEnded:
        if (command.reason == run::EndReason::TakeBackFailed && !m_stopping) {
            m_ending = runner::Ending::Failed;
            m_endDetail = QStringLiteral("record %1 has no images and could not be taken back")
                              .arg(records::formatRecordNumber(m_log.lastNumber()));
        }
        m_stopping = true;
        // The process ends after the run's last set points: a lost one gets
        // only a bounded few more tries.
        if (!m_retriesClosing) {
            m_retriesClosing = true;
            m_retries.closing();
        }
        break;
    }
    result.atMs = now();
    return result;
}

void RunSession::reportPoint(const records::RecordValues& values)
{
    const run::Plan& plan = m_setup.preset.plan;
    runner::PointReport point;
    point.record = values.number;
    point.tSet = m_temperatureSetPoint;
    // The reference point comes after the walk; its pressure is set even without an axis.
    if (plan.pressureAxisOn || (plan.referencePointOn && !m_controller.walking()))
        point.pSet = m_pressureSetPoint;
    point.t = records::formatTemperature(values.temperature).toDouble();
    if (values.pressureBar != gasmix::kNoPressure)
        point.p = double(values.pressureBar) * plan.unitFactor;
    point.unit = m_setup.summary.unit;
    point.elapsedS = m_runClock.elapsed() / 1000.0;
    point.done = values.number;
    point.total = m_setup.summary.records;
    // The pace of this process: a resumed run did its first points elsewhere.
    const int recordsHeld = m_setup.summary.recordsHeld.value_or(0);
    point.remainingS = runner::remainingSeconds(point.elapsedS, point.done - recordsHeld,
                                                point.total - point.done);
    m_reportedRecords.insert(values.number);
    if (m_setup.options.json) {
        m_out(runner::jsonLine(runner::pointEvent(point)));
        m_err(runner::pointLine(point).toUtf8());
    } else {
        m_out(runner::pointLine(point).toUtf8());
    }
}

void RunSession::warn(const QString& text)
{
    if (m_setup.options.json)
        m_out(runner::jsonLine(runner::warningEvent(text)));
    m_err(text.toUtf8() + '\n');
}

void RunSession::journalFailed(const QString& text)
{
    warn(text);
    if (m_ended)
        return;
    if (!m_controllerStarted) {
        m_ending = runner::Ending::Failed;
        m_endDetail = QStringLiteral("the run journal could not be written");
        finish();
        return;
    }
    if (!m_stopping)
        stopRun(runner::Ending::Failed, QStringLiteral("the run journal could not be written"));
}

void RunSession::say(const QString& text)
{
    m_err(text.toUtf8() + '\n');
}

void RunSession::finish()
{
    if (m_ended)
        return;
    m_ended = true;
    m_watch.stop();
    stopPollers();
    // A run through or the operator's stop (SIGINT) leaves nothing to resume,
    // nor does a journal that failed; SIGTERM, a lost box or a record that
    // could not be taken back keep it.
    // Taken before the journal is kept or removed.
    const bool resumable = m_log.journaling();
    if (m_ending == runner::Ending::Completed || m_ending == runner::Ending::Interrupted ||
        m_log.failed()) {
        if (!m_log.finish())
            warn(QStringLiteral("Warning: the run journal could not be removed."));
    } else {
        m_log.keep();
    }
    const QString line = runner::endingLine(m_ending, m_endDetail, resumable);
    if (!line.isEmpty())
        m_err(line.toUtf8() + '\n');
    if (m_setup.options.json)
        m_out(runner::jsonLine(runner::endEvent(m_ending, m_endDetail)));
    emit finished(exitStatus());
}

records::LogFormat RunSession::logFormat() const
{
    return {m_setup.log.layout, m_setup.options.color, m_setup.preset.plan.unitFactor};
}

bool RunSession::writeRecord()
{
    records::RecordValues values;
    values.temperature = m_model.temperature();
    values.n2Text = m_model.n2Text();
    values.o2Text = m_model.o2Text();
    values.pressureBar = m_model.airPressureBar();
    const records::LogStatus status = m_log.append(logFormat(), values);
    if (status != records::LogStatus::Ok) {
        warn(records::logStatusMessage(status));
        return false;
    }
    values.number = m_log.lastNumber();
    m_unreportedRecord = values;
    return true;
}

bool RunSession::takeBackRecord()
{
    const int number = m_log.lastNumber();
    if (!m_log.takeBack())
        return false;
    m_unreportedRecord.reset();
    if (m_log.lastNumber() == number)
        return true;
    // A stop's take-back is the stop's own doing.
    if (!m_stopping)
        warn(QStringLiteral("Record %1 taken back: no pulse reached the generator.")
                 .arg(records::formatRecordNumber(number)));
    if (m_reportedRecords.remove(number) && m_setup.options.json)
        m_out(runner::jsonLine(runner::takenBackEvent(number)));
    return true;
}

int RunSession::runPulses(bool extraWaitAtZero, int stopsBefore)
{
    const runner::PresetPlan& preset = m_setup.preset;
    PulseSequence::Settings settings;
    settings.cameraFeedback = preset.cameraFeedback;
    settings.widthText = preset.pulseWidth;
    settings.pulses = m_setup.options.pulses;
    settings.waitBeforeS =
        preset.waitBeforePulseS + (extraWaitAtZero ? preset.extraWaitAtZeroS : 0);
    settings.delayBetweenS = preset.delayBetweenPulsesS;
    PulseSequence::Hooks hooks;
    hooks.stopped = [this, stopsBefore] {
        return m_stopCount != stopsBefore || m_commands.cancelled();
    };
    hooks.pausePollers = [this] {
        m_commands.pausePoller(m_temperaturePoller);
        m_commands.pausePoller(m_n2Poller);
        m_commands.pausePoller(m_o2Poller);
    };
    hooks.resumePollers = [this] {
        m_commands.resumePoller(m_temperaturePoller);
        m_commands.resumePoller(m_n2Poller);
        m_commands.resumePoller(m_o2Poller);
    };
    hooks.announce = [this] { return m_log.announced(); };
    hooks.pulseSent = [this] { m_log.pulseNoted(); };
    const int sent = m_pulses.run(m_setup.options.box, settings, hooks);
    if (sent > 0)
        m_log.done();
    return sent;
}

void RunSession::sendGas(const gasmix::Flows& flows)
{
    boxcommands::sendGas(
        m_commands, m_setup.options.box, flows.n2, flows.o2, m_n2Poller.data(), m_o2Poller.data(),
        [&] { m_controller.setPointsSent(flows, now()); }, &m_retries);
}

void RunSession::sendTemperature(double celsius, bool retry)
{
    boxcommands::sendTemperature(
        m_commands, m_setup.options.box, modbus::encodeTenths(celsius), m_temperaturePoller.data(),
        [this, retry](float echoed) {
            if (!retry)
                m_model.temperatureEchoed(echoed);
        },
        &m_retries);
}

namespace runner {

namespace {

// Taken before anything is written or truncated; where no lock can be taken
// at all the log's own errors speak.
std::optional<QString> lockLog(const QString& log, RunSession::Setup* setup)
{
    auto lock = std::make_shared<records::LogLock>();
    if (lock->acquire(log) == records::LogLock::State::Busy)
        return QStringLiteral("%1 is being written by another run (process %2)")
            .arg(log,
                 lock->holder() ? QString::number(*lock->holder()) : QStringLiteral("unknown"));
    setup->lock = lock;
    return std::nullopt;
}

} // namespace

std::optional<QString> prepareRun(const Options& options, RunSession::Setup* setup)
{
    setup->options = options;
    const PresetCheck preset = readPresetPlan(options.preset);
    if (!preset.ok)
        return preset.error;
    setup->preset = preset.preset;
    if (options.cameraFeedback)
        setup->preset.cameraFeedback = *options.cameraFeedback;
    if (std::optional<QString> error = applyReference(options.reference, setup->preset))
        return error;
    LogChoice named;
    if (std::optional<QString> error = checkLog(options.log, true, &named))
        return error;
    if (std::optional<QString> error = lockLog(named.log, setup))
        return error;
    if (std::optional<QString> error = checkLog(options.log, options.overwrite, &setup->log))
        return error;
    records::RunLog log;
    log.setFiles({setup->log.log, setup->log.rawLog});
    const records::LogStatus created =
        log.create({setup->log.layout, options.color, setup->preset.plan.unitFactor});
    if (created != records::LogStatus::Ok)
        return QStringLiteral("--log: \"%1\" cannot be created")
            .arg(created == records::LogStatus::CantOpenRawLog ? setup->log.rawLog
                                                               : setup->log.log);
    setup->summary = summarise(setup->preset, options, setup->log);
    return std::nullopt;
}

bool removeUnusedLogs(const RunSession::Setup& setup)
{
    const double factor = setup.preset.plan.unitFactor;
    const QList<QPair<QString, QByteArray>> files = {
        {setup.log.log,
         records::calibrationLogHeader(setup.log.layout, setup.options.color, factor)},
        {setup.log.rawLog, records::rawLogHeader(factor)},
    };
    for (const auto& file : files) {
        QFile f(file.first);
        if (!f.open(QIODevice::ReadOnly) || f.size() != file.second.size() ||
            f.readAll() != file.second)
            return false;
    }
    return QFile::remove(setup.log.log) && QFile::remove(setup.log.rawLog);
}

records::JournalContents journalContents(const RunSession::Setup& setup)
{
    records::JournalContents contents;
    contents.plan = journalPlanOf(setup.preset, setup.options, setup.log.layout);
    contents.boxAddress = setup.options.box;
    contents.logs = {setup.log.log, setup.log.rawLog};
    return contents;
}

std::optional<QString> prepareResume(const Options& options, RunSession::Setup* setup)
{
    setup->options = options;
    const records::ResumeFiles files = records::resumeFilesFor(options.resume);
    if (std::optional<QString> error = lockLog(files.logs.log, setup))
        return error;
    if (!QFile::exists(files.journal))
        return QStringLiteral("--resume: \"%1\" has no run journal: nothing to resume")
            .arg(options.resume);
    const records::ResumeDecision decision = records::decideResume(files);
    if (decision.kind == records::ResumeDecision::Refuse)
        return QStringLiteral("--resume: %1").arg(decision.message);
    QFile journalFile(files.journal);
    journalFile.open(QIODevice::ReadOnly);
    const std::optional<records::JournalContents> journal =
        records::journalFromBytes(journalFile.readAll());
    if (!journal)
        return QStringLiteral("--resume: \"%1\" cannot be read").arg(files.journal);
    if (std::optional<QString> error =
            presetFromJournal(journal->plan, &setup->preset, &setup->options))
        return error;
    if (setup->options.box.isEmpty())
        setup->options.box = journal->boxAddress;
    run::Plan& plan = setup->preset.plan;
    plan.firstPoint = decision.pointIndex;
    // Every point recorded: the run only ends (gas off, back to "From:").
    if (decision.kind == records::ResumeDecision::Complete)
        plan.referencePointOn = false;
    setup->log.layout = journal->plan.layout;
    setup->log.log = files.logs.log;
    setup->log.rawLog = files.logs.rawLog;
    setup->decision = decision;
    setup->summary = summarise(setup->preset, setup->options, setup->log);
    setup->summary.recordsHeld = setup->decision.nextRecordNumber - 1;
    records::RunJournal resumed;
    QString error;
    if (!records::applyResume(files, decision, resumed, &error))
        return QStringLiteral("--resume: %1").arg(error);
    setup->resumed = resumed;
    return std::nullopt;
}

} // namespace runner
