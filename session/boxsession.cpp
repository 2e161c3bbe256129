#include "boxsession.h"

#include "boxcommands.h"
#include "boxlink.h"
#include "flowpollers.h"
#include "flowprotocol.h"
#include "inputranges.h"
#include "instrumenttable.h"
#include "logfiles.h"
#include "modbusframes.h"
#include "runfiles.h"
#include "units.h"
#include "workerthread.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <memory>

namespace {

// A stop ends a wait within this.
constexpr int kStopCheckMs = 20;
constexpr int kWarningMs = 4000;
constexpr int kPollerStopMs = 2000;
// A test's speed-up of the commands' waits goes no further than this.
constexpr double kLargestCommandSpeedUp = 4.0;

run::RunController::FlowChecks flowChecks()
{
    return {flow::reportsSetPoint, flow::flowSettled, flow::kN2Id, flow::kO2Id};
}

// How the readings file says a run ended.
QString endText(run::EndReason reason, bool closing)
{
    if (closing)
        return QStringLiteral("Run ended: the program closes");
    switch (reason) {
    case run::EndReason::Stopped:
        break;
    case run::EndReason::GridDone:
        return QStringLiteral("Run done");
    case run::EndReason::ReferenceDone:
        return QStringLiteral("Run done with the reference point");
    case run::EndReason::TakeBackFailed:
        return QStringLiteral("Run ended: a record without images could not be taken back");
    }
    return QStringLiteral("Run stopped");
}

} // namespace

BoxSession::BoxSession(QObject* parent) : QObject(parent), m_controller(flowChecks())
{
    m_clock.start();
    m_retries.setObjectName(QStringLiteral("setPointRetries"));
    // A retry holds the temperature poller for itself, not for the run.
    m_retries.setSenders(
        [this](double celsius) {
            m_inRetry = true;
            sendTemperatureNow(celsius, true);
            m_inRetry = false;
        },
        [this](float n2, float o2) {
            m_inRetry = true;
            sendGasNow(gasmix::Flows{n2, o2});
            m_inRetry = false;
        });
    connect(&m_retries, &SetPointRetries::notice, this, [this](const QString& text, bool warning) {
        if (warning)
            recordEvent(history::EventKind::Warning, text);
        emit setPointNotice(text, warning);
    });
    // A program that ends after the commands under way learns here that they are.
    connect(&m_commands, &CommandRunner::idle, this, [this] {
        if (m_programEnding)
            carryOutRunCommands();
    });
    m_pulses.setReadings([this] { return shownReadings(); });
    connect(&m_pulses, &PulseSequence::message, this,
            [this](const QString& text, int ms, PulseSequence::MessageStyle style) {
                if (style == PulseSequence::MessageStyle::Warning)
                    recordEvent(history::EventKind::Warning, text);
                emit message(text, ms, style);
            });
    connect(&m_pulses, &PulseSequence::pulseRefused, this, &BoxSession::pulseRefused);
}

BoxSession::~BoxSession()
{
    waitForReport();
    stopPollers();
}

void BoxSession::speedUp(double scale)
{
    if (hasPollers() || scale <= 0)
        return;
    m_speedUp = scale;
    m_controller.setTiming(run::Timing().scaled(scale));
    // The waits around a command keep some tens of milliseconds, so that the
    // readings on their way still arrive before the change.
    m_commands.setWaitScale(std::min(scale, kLargestCommandSpeedUp));
}

void BoxSession::connectTo(const QString& address)
{
    m_address = address;
    if (!m_temperaturePoller) {
        m_temperaturePoller = new WorkerThread(address, this);
        connect(m_temperaturePoller, &QThread::finished, m_temperaturePoller,
                &QObject::deleteLater);
        connect(m_temperaturePoller, &WorkerThread::valueChangedT, this,
                &BoxSession::onTemperature);
        connect(m_temperaturePoller, &WorkerThread::connectionLost, this,
                &BoxSession::onConnectionLost);
        connect(m_temperaturePoller, &WorkerThread::debugSignal, this, &BoxSession::debugText);
        m_temperaturePoller->speedUp(m_speedUp);
        m_temperaturePoller->start(QThread::InheritPriority);

        m_o2Poller = new workerO2(address, this);
        connect(m_o2Poller, &QThread::finished, m_o2Poller, &QObject::deleteLater);
        connect(m_o2Poller, &workerO2::valueChangedO2, this, &BoxSession::onO2);
        m_o2Poller->speedUp(m_speedUp);
        m_o2Poller->start(QThread::InheritPriority);

        m_n2Poller = new workerN2(address, this);
        connect(m_n2Poller, &QThread::finished, m_n2Poller, &QObject::deleteLater);
        connect(m_n2Poller, &workerN2::debugSignal, this, &BoxSession::debugText);
        connect(m_n2Poller, &workerN2::valueChangedN2, this, &BoxSession::onN2);
        m_n2Poller->speedUp(m_speedUp);
        m_n2Poller->start(QThread::InheritPriority);
        return;
    }
    // Counted pauses: a command under way keeps its pollers paused until it
    // is done, even when the address changes meanwhile.
    const QList<BoxPoller*> pollers{m_temperaturePoller, m_n2Poller, m_o2Poller};
    for (BoxPoller* poller : pollers)
        m_commands.pausePoller(poller);
    for (BoxPoller* poller : pollers)
        if (poller)
            poller->setHostAddress(address);
    for (BoxPoller* poller : pollers)
        m_commands.resumePoller(poller);
}

QString BoxSession::temperaturePollerAddress() const
{
    return m_temperaturePoller ? m_temperaturePoller->hostAddress() : m_address;
}

void BoxSession::stopPollers()
{
    for (BoxPoller* poller :
         {static_cast<BoxPoller*>(m_o2Poller), static_cast<BoxPoller*>(m_n2Poller),
          static_cast<BoxPoller*>(m_temperaturePoller)}) {
        if (!poller)
            continue;
        poller->stopPolling();
        poller->wait(kPollerStopMs);
    }
}

bool BoxSession::temperaturePollerHeldByRun() const
{
    return m_commands.pauseCount(m_temperaturePoller) > 0 && !m_inRetry;
}

void BoxSession::setShownSetPoints(double celsius, double pressure)
{
    m_temperatureSetPoint = celsius;
    m_pressureSetPoint = pressure;
}

void BoxSession::setGasOff(bool off)
{
    m_model.setGasOff(off);
}

gasmix::Flows BoxSession::flowsForSetPoint() const
{
    return gasmix::flowsForPressure(m_pressureSetPoint, m_unitFactor, m_model.gasOff());
}

std::pair<double, double> BoxSession::shownReadings() const
{
    // As the readouts show them: one decimal, "n/a" read as 0.
    const double celsius =
        QString::number(double(m_model.lastTemperatureReading()), 'f', 1).toDouble();
    const double pressure = gasmix::pressureText(m_model.airPressureBar(), m_unitFactor).toDouble();
    return {celsius, pressure};
}

void BoxSession::recordEvent(history::EventKind kind, const QString& text)
{
    m_history.addEvent(QDateTime::currentMSecsSinceEpoch(), kind, text);
    if (kind != history::EventKind::Record)
        traceEvent(pointstats::Kind::Warning, 0, text);
}

void BoxSession::openReadings(const RunSetup& setup)
{
    m_reachedTraced = false;
    m_tracedTemperature.reset();
    m_tracedFlows.reset();
    records::RunIdentity identity;
    identity.program = setup.program;
    identity.run = m_log.journalContents();
    const bool resumed = setup.resume || setup.resumed;
    if (resumed)
        identity.resumedAtPoint = setup.plan.firstPoint;
    const QString path = records::readingsPathFor(m_log.files().log);
    const qint64 atMs = QDateTime::currentMSecsSinceEpoch();
    if (!(resumed ? m_readings.resume(path, identity, atMs)
                  : m_readings.create(path, identity, atMs))) {
        warn(QStringLiteral("Warning: no readings file for this run: %1")
                 .arg(m_readings.errorString()),
             kWarningMs);
        return;
    }
    // A report of an earlier run in these files must not pass for this one's.
    if (!resumed) {
        QFile::remove(records::pointsPathFor(m_log.files().log));
        QFile::remove(records::reportPathFor(m_log.files().log));
    }
    // The record a resume took back is tried again in this run.
    int takenBack = setup.takenBackAtResume;
    if (setup.resume && setup.resume->action != records::ResumeDecision::Continue)
        takenBack = setup.resume->lastRecord;
    if (takenBack > 0)
        traceEvent(pointstats::Kind::TakenBack, takenBack);
}

void BoxSession::trace(pointstats::TraceLine line)
{
    if (!m_readings.isOpen() || m_readings.add(std::move(line)))
        return;
    // A full disk must not end the run: its logs matter more.
    const QString why = m_readings.errorString();
    m_readings.close();
    warn(QStringLiteral("Warning: the readings file could not be written, the run goes on "
                        "without it: %1")
             .arg(why),
         kWarningMs);
}

void BoxSession::traceEvent(pointstats::Kind kind, int record, const QString& text)
{
    pointstats::TraceLine line;
    line.atMs = QDateTime::currentMSecsSinceEpoch();
    line.kind = kind;
    line.record = record;
    line.text = text;
    trace(std::move(line));
}

void BoxSession::traceSetPoints(std::optional<double> celsius, std::optional<gasmix::Flows> flows)
{
    // The same set points sent again are no new point: its settling goes on.
    if (celsius && celsius != m_tracedTemperature) {
        m_tracedTemperature = celsius;
        m_reachedTraced = false;
        traceEvent(pointstats::Kind::SetPoint, 0,
                   QStringLiteral("Temperature set point %1 C").arg(*celsius, 0, 'f', 1));
    }
    if (flows &&
        (!m_tracedFlows || m_tracedFlows->n2 != flows->n2 || m_tracedFlows->o2 != flows->o2)) {
        m_tracedFlows = flows;
        m_reachedTraced = false;
        traceEvent(pointstats::Kind::SetPoint, 0,
                   QStringLiteral("Gas set points N2 %1 O2 %2 slpm")
                       .arg(double(flows->n2), 0, 'f', 3)
                       .arg(double(flows->o2), 0, 'f', 3));
    }
}

void BoxSession::traceReached()
{
    if (m_reachedTraced || !m_readings.isOpen())
        return;
    m_reachedTraced = true;
    traceEvent(pointstats::Kind::Reached);
}

void BoxSession::finishReadings(const QString& how)
{
    if (!m_readings.isOpen())
        return;
    traceEvent(pointstats::Kind::Stop, 0, how);
    m_readings.close();
    // Made on a thread of their own: the files of a long run take a while to
    // read, and the window must not stand still meanwhile. It touches files
    // alone, and nothing it does waits on this thread.
    const QString log = m_log.files().log;
    const uncertainty::InstrumentTable table = m_run.instruments;
    const QString tableName = m_run.instrumentsName;
    const auto failure = std::make_shared<QString>();
    QThread* worker = QThread::create([log, table, tableName, failure] {
        QString why;
        if (!records::writeRunFiles(log, table, tableName, &why))
            *failure = why;
    });
    worker->setParent(this);
    m_reportWorker = worker;
    connect(worker, &QThread::finished, this, [this, worker, log, failure] {
        if (m_reportWorker == worker)
            m_reportWorker = nullptr;
        worker->deleteLater();
        if (failure->isEmpty()) {
            m_lastReport = records::reportPathFor(log);
            emit reportWritten(m_lastReport);
        } else {
            warn(QStringLiteral("Warning: the points file and the report could not be written: %1")
                     .arg(*failure),
                 kWarningMs);
        }
        checkFinished();
    });
    worker->start();
}

void BoxSession::waitForReport()
{
    if (m_reportWorker)
        m_reportWorker->wait();
}

void BoxSession::recordReading()
{
    history::Sample sample;
    sample.atMs = QDateTime::currentMSecsSinceEpoch();
    sample.v[history::Temperature] =
        m_temperatureRead ? m_model.lastTemperatureReading() : history::kUnknown;
    sample.v[history::TemperatureSet] = float(m_temperatureSetPoint);
    const float pressure = m_model.airPressureBar();
    sample.v[history::Pressure] = pressure < 0 ? history::kUnknown : pressure;
    // With the gas off no pressure is asked for.
    sample.v[history::PressureSet] = m_model.gasOff()
                                         ? history::kUnknown
                                         : float(units::toBar(m_pressureSetPoint, m_unitFactor));
    sample.v[history::N2] = m_lastN2;
    sample.v[history::O2] = m_lastO2;
    m_history.addSample(sample);
    if (m_readings.isOpen()) {
        pointstats::TraceLine line;
        line.atMs = sample.atMs;
        line.values = sample.v;
        trace(std::move(line));
    }
}

void BoxSession::onTemperature(float celsius)
{
    m_retries.hold(false); // the box answers again
    m_model.temperatureRead(celsius);
    m_temperatureRead = true;
    m_answering[size_t(setpoint::Controller::Temperature)] = true;
    recordReading();
    emit temperatureRead(celsius);
    emit checkSignal();
    m_controller.temperatureReading(m_model.lastTemperatureReading(), now());
    carryOutRunCommands();
}

void BoxSession::onN2(float setPoint, float massFlow)
{
    m_model.n2Shown(gasmix::flowText(massFlow));
    m_retries.flowReading(setpoint::Controller::N2, setPoint);
    m_controller.flowReading(run::FlowController::N2, setPoint, massFlow, now());
    m_lastN2 = massFlow;
    m_answering[size_t(setpoint::Controller::N2)] = true;
    recordReading();
    emit n2Read(setPoint, massFlow);
}

void BoxSession::onO2(float setPoint, float massFlow)
{
    m_retries.flowReading(setpoint::Controller::O2, setPoint);
    m_controller.flowReading(run::FlowController::O2, setPoint, massFlow, now());
    m_model.o2Shown(gasmix::flowText(massFlow));
    m_lastO2 = massFlow;
    m_answering[size_t(setpoint::Controller::O2)] = true;
    recordReading();
    emit o2Read(setPoint, massFlow);
}

void BoxSession::onConnectionLost()
{
    const QString address = temperaturePollerAddress();
    recordEvent(history::EventKind::ConnectionLost,
                QStringLiteral("Can't connect to calibration box: %1").arg(address));
    // The poller tries again on its own; until readings come back nothing read
    // before may stand behind a record, and set points wait.
    m_controller.boxLost(now());
    m_answering.fill(false);
    m_retries.hold(true);
    emit connectionLost(address);
}

void BoxSession::pausePollers()
{
    m_commands.pausePoller(m_temperaturePoller);
    m_commands.pausePoller(m_n2Poller);
    m_commands.pausePoller(m_o2Poller);
}

void BoxSession::resumePollers()
{
    m_commands.resumePoller(m_temperaturePoller);
    m_commands.resumePoller(m_n2Poller);
    m_commands.resumePoller(m_o2Poller);
}

void BoxSession::initialise(const std::function<void()>& begin, const std::function<void()>& end)
{
    m_commands.submit(QStringLiteral("initialise"), [this, begin, end] {
        if (begin)
            begin();
        m_commands.pausePoller(m_temperaturePoller);
        boxcommands::initialiseTemperature(m_commands, m_address);
        initialiseFlowsNow();
        if (end)
            end();
        m_commands.resumePoller(m_temperaturePoller);
        return true;
    });
}

void BoxSession::initialiseFlows()
{
    m_commands.submit(QStringLiteral("initialise flows"), [this] {
        initialiseFlowsNow();
        return true;
    });
}

void BoxSession::initialiseFlowsNow()
{
    m_commands.pausePoller(m_n2Poller);
    m_commands.pausePoller(m_o2Poller);
    boxcommands::initialiseFlows(m_commands, m_address);
    // Re-initialised controllers: nothing read before counts.
    m_controller.setPointsSent(std::nullopt, now());
    m_commands.resumePoller(m_n2Poller);
    m_commands.resumePoller(m_o2Poller);
}

void BoxSession::setTemperature()
{
    m_commands.submit(QStringLiteral("set temperature"), [this] {
        sendTemperatureNow(m_temperatureSetPoint, false);
        return true;
    });
}

void BoxSession::setGas()
{
    // The flows as asked for now, even when sent after a command under way.
    const gasmix::Flows flows = flowsForSetPoint();
    m_commands.submit(QStringLiteral("set gas"), [this, flows] {
        sendGasNow(flows);
        return true;
    });
}

void BoxSession::setFlow(float slpm, uchar id)
{
    boxcommands::setFlow(m_commands, m_address, slpm, id);
}

void BoxSession::manualPulse()
{
    m_commands.submit(QStringLiteral("pulse sequence"),
                      [this] { return runPulses(false, false) > 0; });
}

void BoxSession::sendTemperatureNow(double celsius, bool retry)
{
    // A retry's echo leaves what a record holds to the readings.
    boxcommands::sendTemperature(
        m_commands, m_address, modbus::encodeTenths(celsius), m_temperaturePoller.data(),
        [this, retry](float echoed) {
            if (!retry)
                m_model.temperatureEchoed(echoed);
        },
        &m_retries);
}

gasmix::Flows BoxSession::sendGasNow(const gasmix::Flows& flows)
{
    boxcommands::sendGas(
        m_commands, m_address, flows.n2, flows.o2, m_n2Poller.data(), m_o2Poller.data(),
        [&] { m_controller.setPointsSent(flows, now()); }, &m_retries);
    return flows;
}

int BoxSession::runPulses(bool journal, bool extraWaitAtZero)
{
    // A stop during the sequence ends it: no pulse goes out after it.
    const int stopsAtStart = m_stopCount;
    PulseSequence::Settings settings;
    settings.cameraFeedback = m_pulseSettings.cameraFeedback;
    settings.widthText = m_pulseSettings.widthText;
    settings.pulses = m_pulseSettings.pulses;
    settings.waitBeforeS =
        m_pulseSettings.waitBeforeS + (extraWaitAtZero ? m_pulseSettings.extraWaitAtZeroS : 0);
    settings.delayBetweenS = m_pulseSettings.delayBetweenS;
    PulseSequence::Hooks hooks;
    hooks.stopped = [this, stopsAtStart] {
        return m_stopCount != stopsAtStart || m_commands.cancelled();
    };
    hooks.pausePollers = [this] { pausePollers(); };
    hooks.resumePollers = [this] { resumePollers(); };
    hooks.pulsing = [this] { m_pulseStage = progress::PulseStage::Pulsing; };
    if (journal) {
        hooks.announce = [this] { return m_log.announced(); };
        hooks.pulseSent = [this] { m_log.pulseNoted(); };
    }
    // The readings file marks the sequence of a record: the pollers pause here.
    const int record = journal && m_recordBeforePulses ? m_recordBeforePulses->number : 0;
    if (record > 0) {
        traceEvent(pointstats::Kind::PulsesBegin, record);
        hooks.pulseWritten = [this, record](int pulse, pulse::Status answer) {
            pointstats::TraceLine line;
            line.atMs = QDateTime::currentMSecsSinceEpoch();
            line.kind = pointstats::Kind::Pulse;
            line.record = record;
            line.pulse = pulse;
            line.outcome = answer == pulse::Status::RR1 ? pointstats::PulseOutcome::Refused
                                                        : pointstats::PulseOutcome::Sent;
            trace(line);
            if (answer == pulse::Status::KE2) {
                line.outcome = pointstats::PulseOutcome::Answered;
                trace(line);
            }
        };
    }
    m_pulseStage = progress::PulseStage::WaitingBeforePulse;
    const int sent = m_pulses.run(m_address, settings, hooks);
    m_pulseStage = progress::PulseStage::None;
    if (record > 0)
        traceEvent(pointstats::Kind::PulsesEnd, record);
    if (journal && sent > 0)
        m_log.done();
    return sent;
}

bool BoxSession::startRun(const RunSetup& setup, QString* error)
{
    if (error)
        error->clear();
    if (!m_controller.canStart())
        return false; // the last run is still ending, or the program closes
    // The last run's report is made from files this run may write anew.
    waitForReport();
    m_log.log().restartNumbering();
    const bool logging = setup.plan.writeLog;
    if (logging) {
        // A failure while the logs are prepared is this call's answer.
        m_log.onFailure({});
        // The logs are prepared before anything goes to the box; logs that
        // can't be are given up with nothing sent.
        QString why;
        bool prepared = true;
        if (setup.resume)
            prepared =
                m_log.resume(records::resumeFilesFor(m_log.files().log), *setup.resume, &why);
        else if (setup.resumed)
            m_log.resumed(*setup.resumed, m_log.files(), setup.resumedNextRecord);
        else
            prepared = m_log.begin(setup.journal);
        if (!prepared) {
            if (error)
                *error = why.isEmpty() ? m_log.failure() : why;
            return false;
        }
        // Out of the event loop: the front-end stops the run just started.
        m_log.onFailure([this](const QString& text) {
            QMetaObject::invokeMethod(
                this, [this, text] { emit journalFailed(text); }, Qt::QueuedConnection);
        });
    }
    m_run = setup;
    if (m_run.instrumentsName.isEmpty()) {
        m_run.instruments = records::typicalInstrumentTable();
        m_run.instrumentsName = records::typicalInstrumentTableName();
    }
    m_unitFactor = setup.plan.unitFactor;
    m_pulseSettings = setup.pulses;
    m_journalAtStop = JournalAtStop::Remove;
    m_journalKept = false;
    m_temperatureSentInRun.reset();
    m_recordBeforePulses.reset();
    m_pulses.forgetPendingAnswer();
    if (logging)
        openReadings(m_run);
    m_controller.start(setup.plan);
    carryOutRunCommands();
    return true;
}

void BoxSession::stop(JournalAtStop journal)
{
    m_journalAtStop = journal;
    m_pulses.forgetPendingAnswer();
    ++m_stopCount;
    m_controller.stop();
    // The Stop's own commands go before anything queued.
    m_commands.cancelPending();
    carryOutRunCommands();
}

void BoxSession::close(bool walking)
{
    // A command under way below this ends as soon as it can; the run
    // controller's closing commands follow it, then finished().
    ++m_stopCount;
    m_closing = true;
    m_walkingAtClose = walking;
    m_programEnding = true;
    m_pulses.forgetPendingAnswer();
    m_retries.closing();
    m_controller.close();
    m_commands.cancelPending();
    carryOutRunCommands();
}

void BoxSession::carryOutRunCommands()
{
    // Every command runs the event loop: a reading, a Stop or a close inside
    // one only tells the controller. The controller's commands are carried out
    // one per step on the box's queue, each step queueing the next, so an
    // operator's command asked for meanwhile runs between two of them.
    m_tracker.observe(m_controller, QDateTime::currentMSecsSinceEpoch());
    if (m_controller.phase() == run::Phase::AtPoint)
        traceReached();
    if (m_stepPending)
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
                // A cancelled step is asked for again by whoever cancelled it.
                if (outcome.ran)
                    carryOutRunCommands();
            });
        return;
    }
    checkFinished();
}

void BoxSession::checkFinished()
{
    // The end waits for a set point of its own that is still to go out again.
    if (!m_programEnding || m_finished || m_commands.busy() || m_retries.closeRetryPending() ||
        m_controller.command() || m_controller.runActive() || m_reportWorker)
        return;
    m_finished = true;
    emit finished();
}

void BoxSession::waitUnlessStopped(int ms, int stopsBefore)
{
    QDeadlineTimer deadline(qMax(ms, 0), Qt::PreciseTimer);
    do {
        boxlink::processEventsFor(int(qMin<qint64>(deadline.remainingTime(), kStopCheckMs)));
    } while (!deadline.hasExpired() && m_stopCount == stopsBefore);
}

void BoxSession::showTemperatureSetPoint(double celsius)
{
    m_temperatureSetPoint = inputs::spinBoxValue(celsius, inputs::kTemperatureRange);
    emit temperatureSetPointShown(m_temperatureSetPoint);
}

void BoxSession::showPressureSetPoint(double value)
{
    m_pressureSetPoint = inputs::spinBoxValue(value, inputs::pressureRange(m_unitFactor, false));
    emit pressureSetPointShown(m_pressureSetPoint);
}

void BoxSession::switchGas(bool off)
{
    m_model.setGasOff(off);
    emit gasSwitched(off);
}

void BoxSession::warn(const QString& text, int ms)
{
    recordEvent(history::EventKind::Warning, text);
    emit message(text, ms, PulseSequence::MessageStyle::Warning);
}

run::CommandResult BoxSession::carryOut(const run::Command& command)
{
    const int stopsBefore = m_stopCount;
    run::CommandResult result;
    switch (command.kind) {
    case run::Command::SetTemperature:
        showTemperatureSetPoint(command.value);
        if (command.ms > 0)
            waitUnlessStopped(command.ms, stopsBefore);
        // After a stop no set point may move.
        if (m_stopCount == stopsBefore) {
            m_temperatureSentInRun = m_temperatureSetPoint;
            sendTemperatureNow(m_temperatureSetPoint, false);
            traceSetPoints(m_temperatureSetPoint, std::nullopt);
        }
        break;
    case run::Command::SetPressure:
        showPressureSetPoint(command.value);
        if (command.send)
            result.flowsSent = sendGasNow(flowsForSetPoint());
        if (result.flowsSent)
            traceSetPoints(std::nullopt, result.flowsSent);
        break;
    case run::Command::GasOn:
        switchGas(false);
        result.flowsSent = sendGasNow(flowsForSetPoint());
        traceSetPoints(std::nullopt, result.flowsSent);
        break;
    case run::Command::GasOff:
        // Without the flow pollers there is no box to switch off at a close.
        if (!m_closing || m_walkingAtClose || (m_n2Poller && m_o2Poller)) {
            switchGas(true);
            result.flowsSent = sendGasNow(flowsForSetPoint());
            traceSetPoints(std::nullopt, result.flowsSent);
        }
        break;
    case run::Command::Wait:
        if (command.pauseTemperaturePoller)
            m_commands.pausePoller(m_temperaturePoller);
        waitUnlessStopped(command.ms, stopsBefore);
        if (command.pauseTemperaturePoller)
            m_commands.resumePoller(m_temperaturePoller);
        break;
    case run::Command::WriteRecord:
        traceReached(); // a reference point is reached when it is recorded
        result.ok = writeRecord();
        result.recordNumber = m_log.lastNumber();
        break;
    case run::Command::PulseSequence:
        result.pulsesSent = runPulses(true, command.extraWaitAtZeroPressure);
        result.pulsesRefused = m_pulses.refusedPulses();
        if (result.pulsesSent > 0) {
            // Without a log the point is recorded in the images alone.
            if (!m_run.plan.writeLog)
                recordEvent(history::EventKind::Record,
                            QStringLiteral("Point @ T:%1 P:%2 pulsed")
                                .arg(double(m_model.temperature()), 0, 'f', 1)
                                .arg(gasmix::pressureText(m_model.airPressureBar(), m_unitFactor)));
            emit pointDone(m_recordBeforePulses);
            m_recordBeforePulses.reset();
        }
        break;
    case run::Command::TakeBackRecord:
        result.ok = takeBackRecord();
        break;
    case run::Command::ShowStatus:
        if (command.warning)
            warn(command.text, command.ms);
        else
            emit message(command.text, command.ms, PulseSequence::MessageStyle::Keep);
        break;
    case run::Command::RunEnded:
        // A close keeps the journal for a resume, as does a termination and a
        // record that could not be taken back; the Stop and a run through
        // leave none, nor does a journal that failed.
        m_journalKept = m_closing || command.reason == run::EndReason::TakeBackFailed ||
                        (m_journalAtStop == JournalAtStop::Keep && !m_log.failed());
        if (m_journalKept)
            m_log.keep();
        else if (!m_log.finish())
            warn(QStringLiteral("Warning: the run journal could not be removed."), kWarningMs);
        m_log.log().restartNumbering();
        m_pulses.forgetPendingAnswer();
        finishReadings(endText(command.reason, m_closing));
        if (m_run.programEndsWithRun && !m_programEnding) {
            m_programEnding = true;
            m_retries.closing();
        }
        emit runEnded(command.reason);
        break;
    }
    result.atMs = now();
    return result;
}

bool BoxSession::writeRecord()
{
    if (!m_run.plan.writeLog) {
        m_log.log().forgetLast();
        return true;
    }
    records::RecordValues values;
    values.pressureBar = m_model.airPressureBar();
    values.temperature = m_model.temperature();
    values.n2Text = m_model.n2Text();
    values.o2Text = m_model.o2Text();
    // On failure neither file holds the record and the numbering stays.
    const records::LogStatus status = m_log.append(m_run.logFormat, values);
    if (status != records::LogStatus::Ok) {
        emit recordFailed(records::logStatusMessage(status));
        return false;
    }
    values.number = m_log.lastNumber();
    m_recordBeforePulses = values;
    recordEvent(history::EventKind::Record,
                QStringLiteral("Record %1 written @ T:%2 P:%3")
                    .arg(values.number)
                    .arg(double(values.temperature), 0, 'f', 1)
                    .arg(gasmix::pressureText(values.pressureBar, m_unitFactor)));
    traceEvent(pointstats::Kind::Record, values.number);
    emit recordWritten(values);
    return true;
}

bool BoxSession::takeBackRecord()
{
    const int number = m_log.lastNumber();
    if (!m_log.takeBack())
        return false;
    m_recordBeforePulses.reset();
    if (m_log.lastNumber() != number) {
        traceEvent(pointstats::Kind::TakenBack, number);
        emit recordTakenBack(number, m_controller.phase() == run::Phase::Stopped ||
                                         m_controller.phase() == run::Phase::Closed);
    }
    return true;
}
