#include "runsession.h"

#include "barotermversion.h"
#include "logfiles.h"

#include <QFile>

#include <csignal>

namespace {

// How often the watch looks at the readings' age.
constexpr int kWatchMs = 500;

} // namespace

RunSession::RunSession(const Setup& setup, Sink standardOutput, Sink standardError, QObject* parent)
    : QObject(parent), m_setup(setup), m_out(std::move(standardOutput)),
      m_err(std::move(standardError))
{
    m_box.speedUp(m_setup.speedUp);
    m_box.log().setFiles({m_setup.log.log, m_setup.log.rawLog});
    m_box.setUnitFactor(m_setup.preset.plan.unitFactor);
    m_watch.setInterval(kWatchMs);
    connect(&m_watch, &QTimer::timeout, this, &RunSession::watchReadings);
    connect(&m_box, &BoxSession::temperatureRead, this, &RunSession::onTemperature);
    connect(&m_box, &BoxSession::connectionLost, this, &RunSession::onBoxLost);
    connect(&m_box, &BoxSession::setPointNotice, this, [this](const QString& text, bool warning) {
        if (warning)
            warn(text);
        else
            say(text);
    });
    connect(&m_box, &BoxSession::message, this,
            [this](const QString& text, int, PulseSequence::MessageStyle style) {
                if (style == PulseSequence::MessageStyle::Warning)
                    warn(text);
            });
    connect(&m_box, &BoxSession::pulseRefused, this,
            [this] { warn(QStringLiteral("Pulse ERROR: Pulse did not sent!")); });
    connect(&m_box, &BoxSession::recordFailed, this, &RunSession::warn);
    // A point is reported once its images are taken.
    connect(&m_box, &BoxSession::pointDone, this,
            [this](const std::optional<records::RecordValues>& record) {
                if (record)
                    reportPoint(*record);
            });
    connect(&m_box, &BoxSession::recordTakenBack, this, [this](int number, bool byStop) {
        // A stop's take-back is the stop's own doing.
        if (!byStop && !m_stopping)
            warn(QStringLiteral("Record %1 taken back: no pulse reached the generator.")
                     .arg(records::formatRecordNumber(number)));
        if (m_reportedRecords.remove(number) && m_setup.options.json)
            m_out(runner::jsonLine(runner::takenBackEvent(number)));
    });
    connect(&m_box, &BoxSession::journalFailed, this, &RunSession::journalFailed);
    connect(&m_box, &BoxSession::runEnded, this, [this](run::EndReason reason) {
        if (reason == run::EndReason::TakeBackFailed && !m_stopping) {
            m_ending = runner::Ending::Failed;
            m_endDetail = QStringLiteral("record %1 has no images and could not be taken back")
                              .arg(records::formatRecordNumber(m_box.log().lastNumber()));
        }
        m_stopping = true;
    });
    connect(&m_box, &BoxSession::finished, this, &RunSession::finish);
}

RunSession::~RunSession()
{
    m_box.stopPollers();
}

void RunSession::start()
{
    if (m_started)
        return;
    m_started = true;
    m_box.connectTo(m_setup.options.box);
    m_sinceWatch.start();
    m_watch.start();
}

void RunSession::onTemperature()
{
    m_silentMs = 0;
    if (m_ended || m_runStarted || m_stopping)
        return;
    beginRun();
}

void RunSession::onBoxLost(const QString& address)
{
    // Before the first reading the end's own line says so.
    if (m_runStarted && !m_ended)
        warn(QStringLiteral("Can't connect to calibration box: %1").arg(address));
}

void RunSession::watchReadings()
{
    const qint64 sinceWatch = m_sinceWatch.restart();
    if (m_ended)
        return;
    // The silence clock stands still while a command of the run holds the
    // temperature poller (a pulse sequence may hold it long); a set point sent
    // again holds it only for itself.
    if (!m_box.temperaturePollerHeldByRun())
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

BoxSession::RunSetup RunSession::runSetup() const
{
    const runner::PresetPlan& preset = m_setup.preset;
    BoxSession::RunSetup setup;
    setup.plan = preset.plan;
    setup.pulses.cameraFeedback = preset.cameraFeedback;
    setup.pulses.widthText = preset.pulseWidth;
    setup.pulses.pulses = m_setup.options.pulses;
    setup.pulses.waitBeforeS = preset.waitBeforePulseS;
    setup.pulses.extraWaitAtZeroS = preset.extraWaitAtZeroS;
    setup.pulses.delayBetweenS = preset.delayBetweenPulsesS;
    setup.logFormat = {m_setup.log.layout, m_setup.options.color, preset.plan.unitFactor};
    if (m_setup.resumed) {
        setup.resumed = m_setup.resumed;
        setup.resumedNextRecord = m_setup.decision.nextRecordNumber;
    } else {
        setup.journal = runner::journalContents(m_setup);
    }
    setup.programEndsWithRun = true;
    setup.program = QStringLiteral("baroterm-run %1").arg(QLatin1String(BAROTERM_VERSION));
    setup.instruments = m_setup.instruments;
    setup.instrumentsName = m_setup.instrumentsName;
    if (m_setup.resumed && m_setup.decision.action != records::ResumeDecision::Continue)
        setup.takenBackAtResume = m_setup.decision.lastRecord;
    return setup;
}

void RunSession::beginRun()
{
    m_runStarted = true;
    if (m_setup.options.init) {
        say(QStringLiteral("Initialising the controllers..."));
        m_box.initialise();
        if (m_stopping) {
            finish();
            return;
        }
        say(QStringLiteral("Initialization completed"));
    }
    m_runClock.start();
    QString error;
    m_controllerStarted = m_box.startRun(runSetup(), &error);
    if (!m_controllerStarted) {
        if (error.isEmpty()) {
            m_ending = runner::Ending::BadUsage;
            m_endDetail = QStringLiteral("the run could not start");
        } else {
            warn(error);
            m_ending = runner::Ending::Failed;
            m_endDetail = QStringLiteral("the run journal could not be written");
        }
        finish();
    }
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
        if (m_controllerStarted)
            m_box.close(false);
        return;
    }
    stopRun(ending, QString());
}

void RunSession::stopRun(runner::Ending ending, const QString& detail)
{
    m_stopping = true;
    m_ending = ending;
    m_endDetail = detail;
    if (!m_controllerStarted) {
        // Nothing was sent yet, or only the initialisation, which ends first.
        if (!m_runStarted)
            finish();
        return;
    }
    // SIGINT is the operator's Stop: nothing is left to resume.
    m_box.stop(ending == runner::Ending::Interrupted ? BoxSession::JournalAtStop::Remove
                                                     : BoxSession::JournalAtStop::Keep);
}

void RunSession::reportPoint(const records::RecordValues& values)
{
    const run::Plan& plan = m_setup.preset.plan;
    runner::PointReport point;
    point.record = values.number;
    point.tSet = m_box.temperatureSentInRun();
    // The reference point comes after the walk; its pressure is set even without an axis.
    if (plan.pressureAxisOn || (plan.referencePointOn && !m_box.controller().walking()))
        point.pSet = m_box.pressureSetPoint();
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
    m_box.stopPollers();
    const QString line =
        runner::endingLine(m_ending, m_endDetail, m_controllerStarted && m_box.journalKept());
    if (!line.isEmpty())
        m_err(line.toUtf8() + '\n');
    if (m_setup.options.json)
        m_out(runner::jsonLine(runner::endEvent(m_ending, m_endDetail)));
    emit finished(exitStatus());
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
    if (std::optional<QString> error =
            instrumentTable(options, &setup->instruments, &setup->instrumentsName))
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
    if (std::optional<QString> error =
            instrumentTable(options, &setup->instruments, &setup->instrumentsName))
        return error;
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
