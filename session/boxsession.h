#pragma once

#include "boxmodel.h"
#include "commandrunner.h"
#include "gasmix.h"
#include "journaledlog.h"
#include "pulsesequence.h"
#include "readinghistory.h"
#include "readingsfile.h"
#include "runcontroller.h"
#include "runprogress.h"
#include "setpointretries.h"
#include "uncertainty.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <functional>
#include <optional>

class BoxPoller;
class QThread;
class WorkerThread;
class workerN2;
class workerO2;

// One calibration box: its three pollers, the command queue, the set-point
// retries, the pulse sequence, the run controller, the run's logs and journal,
// what was read and how the run goes. The window and baroterm-run are its
// front-ends: they call its operations and show what its signals report, and
// a run is carried out here alone. It lives on one thread; every wait runs
// that thread's event loop, so an operation may be called inside another's
// wait: it then only tells the run, which goes on from there.
class BoxSession : public QObject
{
    Q_OBJECT

public:
    // The pulse timing of a point (waitBeforeS without the extra wait at 0 bar).
    struct PulseSettings
    {
        bool cameraFeedback = false;
        QString widthText = QStringLiteral("010");
        int pulses = 1;
        int waitBeforeS = 0;
        int extraWaitAtZeroS = 0;
        int delayBetweenS = 0;
    };

    // Everything a run is made of, built once by a front-end.
    struct RunSetup
    {
        run::Plan plan; // plan.writeLog: records go to the logs set with log()
        PulseSettings pulses;
        records::LogFormat logFormat;
        // With a log, one of: a new run's journal, begun at the start; an
        // interrupted run's decision, carried out on the logs before anything
        // goes to the box; or a journal already carried out.
        records::JournalContents journal;
        std::optional<records::ResumeDecision> resume;
        std::optional<records::RunJournal> resumed;
        int resumedNextRecord = 1;
        // The program ends with the run: the set points of its end get only a
        // bounded few more tries, then finished() comes.
        bool programEndsWithRun = false;
        // A logged run's readings file names who ran it ("baroterm-run 2.4.8f");
        // its points file and report take the uncertainties from this table.
        QString program;
        uncertainty::InstrumentTable instruments;
        QString instrumentsName;
        // A run resumed from a journal already carried out: the record its
        // resume took back (0: none).
        int takenBackAtResume = 0;
    };

    // What a stop does with the run's journal: the operator's stop leaves
    // nothing to resume; a termination keeps it.
    enum class JournalAtStop
    {
        Remove,
        Keep
    };

    explicit BoxSession(QObject* parent = nullptr);
    ~BoxSession() override;

    // Tests only, before the first connection: the run's rests, the polls and
    // (up to four times) the commands' waits `scale` times shorter, so that a
    // run against a fast simulator takes less time. Frames and their order
    // stay as they are.
    void speedUp(double scale);

    // The first address makes and starts the three pollers; a later one moves
    // them there (a command under way keeps its pollers until it is done).
    void connectTo(const QString& address);
    QString address() const { return m_address; }
    bool hasPollers() const { return !m_temperaturePoller.isNull(); }
    // The address the temperature poller holds: the one a lost box had.
    QString temperaturePollerAddress() const;
    // Stops the pollers, each given up to 2 s to end.
    void stopPollers();

    // What the front-end shows as set points: the temperature (degrees C) and
    // the pressure (display unit) the gas mixes for, and the unit.
    void setShownSetPoints(double celsius, double pressure);
    double temperatureSetPoint() const { return m_temperatureSetPoint; }
    double pressureSetPoint() const { return m_pressureSetPoint; }
    void setUnitFactor(double unitFactor) { m_unitFactor = unitFactor; }
    void setPulseSettings(const PulseSettings& settings) { m_pulseSettings = settings; }
    const PulseSettings& pulseSettings() const { return m_pulseSettings; }
    // The gas state the next gas command mixes for.
    void setGasOff(bool off);
    gasmix::Flows flowsForSetPoint() const;

    // Commands of the operator, each queued on the box's queue.
    // The controllers' parameters; `begin` and `end` run inside the command,
    // `end` before the temperature poller resumes.
    void initialise(const std::function<void()>& begin = {}, const std::function<void()>& end = {});
    void initialiseFlows();
    // The temperature set point shown when the command runs.
    void setTemperature();
    // The flows for the pressure set point and gas state as they are now.
    void setGas();
    void setFlow(float slpm, uchar id);
    void manualPulse();

    // Runs. False when no run can start now (one is still ending, the program
    // closes) or its logs could not be prepared; `error` says why (empty: busy).
    bool startRun(const RunSetup& setup, QString* error = nullptr);
    // The run's stop branch; a command under way ends as soon as it can.
    void stop(JournalAtStop journal = JournalAtStop::Remove);
    // The program closes: the run stops, the instruments are left safe (gas
    // off, and while the grid is walked the "From:" temperature), then
    // finished(). `walking`: the grid was being walked when the close came.
    void close(bool walking);
    bool closing() const { return m_closing; }
    // The program may end now: finished() has come.
    bool hasFinished() const { return m_finished; }

    // The run's logs and journal, for a front-end to choose and prepare them.
    records::JournaledLog& log() { return m_log; }
    const records::JournaledLog& log() const { return m_log; }
    double unitFactor() const { return m_unitFactor; }
    // Set points sent again to `which` since the session began.
    int setPointRetries(setpoint::Controller which) const { return m_retries.retriesSent(which); }
    const PulseSequence::Totals& pulseTotals() const { return m_pulses.totals(); }
    // A controller answers from its first reading on; none does once the box
    // is lost, each again with its next reading.
    bool answering(setpoint::Controller which) const { return m_answering[size_t(which)]; }
    // The operator's choices the box model holds (logging on or off).
    BoxModel& model() { return m_model; }
    // At the end of the last run: the journal was kept for a resume.
    bool journalKept() const { return m_journalKept; }
    // The report the last logged run left, once it is written.
    QString lastReport() const { return m_lastReport; }

    const run::RunController& controller() const { return m_controller; }
    const BoxModel& model() const { return m_model; }
    const history::ReadingHistory& history() const { return m_history; }
    const progress::RunTracker& tracker() const { return m_tracker; }
    progress::PulseStage pulseStage() const { return m_pulseStage; }
    // The controls a run locks stay locked: the grid is walked (at a close,
    // it was when the close came).
    bool walking() const { return m_closing ? m_walkingAtClose : m_controller.walking(); }
    // The temperature set point the current run has sent, if any.
    std::optional<double> temperatureSentInRun() const { return m_temperatureSentInRun; }
    // A command of the run holds the temperature poller: no reading is due.
    bool temperaturePollerHeldByRun() const;
    // Milliseconds on the readings' clock.
    qint64 now() const { return m_clock.elapsed(); }
    // An event for the live view's record and its export.
    void recordEvent(history::EventKind kind, const QString& text);

signals:
    // Readings, after the run has taken them in; checkSignal() follows each
    // temperature reading, right before the run's step it starts.
    void temperatureRead(float celsius);
    void checkSignal();
    void n2Read(float setPoint, float massFlow);
    void o2Read(float setPoint, float massFlow);
    // The temperature poller lost the box (once per loss; it tries again).
    void connectionLost(const QString& address);
    void debugText(const QString& text);

    // Status texts: the pulse sequence's and the run's.
    void message(const QString& text, int ms, PulseSequence::MessageStyle style);
    // A set point its controller did not confirm.
    void setPointNotice(const QString& text, bool warning);
    // "RR1": the generator refused a pulse.
    void pulseRefused();

    // What the run moved: the set points as the boxes show them, the gas.
    void temperatureSetPointShown(double celsius);
    void pressureSetPointShown(double value);
    void gasSwitched(bool off);

    // The run's records: written before the pulses, done once they went out.
    void recordWritten(const records::RecordValues& values);
    // A record could not be written (the run says so and repeats the point).
    void recordFailed(const QString& why);
    void pointDone(const std::optional<records::RecordValues>& record);
    // A record left the logs again; `byStop`: the stop took it back.
    void recordTakenBack(int number, bool byStop);
    // The journal could not be written: the front-end stops the run.
    void journalFailed(const QString& text);
    // A logged run's points file and report are written (after runEnded;
    // finished() waits for them).
    void reportWritten(const QString& report);
    void runEnded(run::EndReason reason);
    // The close's (or the run's last) commands are done: the program may end.
    void finished();

private:
    void onTemperature(float celsius);
    void onN2(float setPoint, float massFlow);
    void onO2(float setPoint, float massFlow);
    void onConnectionLost();
    void recordReading();
    void carryOutRunCommands();
    run::CommandResult carryOut(const run::Command& command);
    void waitUnlessStopped(int ms, int stopsBefore);
    void showTemperatureSetPoint(double celsius);
    void showPressureSetPoint(double value);
    void switchGas(bool off);
    // The whole commands, run inside a command of the queue.
    void sendTemperatureNow(double celsius, bool retry);
    gasmix::Flows sendGasNow(const gasmix::Flows& flows);
    void initialiseFlowsNow();
    int runPulses(bool journal, bool extraWaitAtZero);
    bool writeRecord();
    bool takeBackRecord();
    void warn(const QString& text, int ms);
    void pausePollers();
    void resumePollers();
    std::pair<double, double> shownReadings() const;
    void checkFinished();
    // The run's readings file: opened when a logged run starts, a line for
    // each reading and event while it goes, the points file and the report
    // made from it at the end.
    void openReadings(const RunSetup& setup);
    void trace(pointstats::TraceLine line);
    void traceEvent(pointstats::Kind kind, int record = 0, const QString& text = QString());
    // A point's set points, traced only when they change.
    void traceSetPoints(std::optional<double> celsius, std::optional<gasmix::Flows> flows);
    void traceReached();
    void finishReadings(const QString& how);
    // Until the points file and the report of the last run are written.
    void waitForReport();

    QString m_address;
    QPointer<WorkerThread> m_temperaturePoller;
    QPointer<workerN2> m_n2Poller;
    QPointer<workerO2> m_o2Poller;

    CommandRunner m_commands;
    SetPointRetries m_retries{m_commands, this};
    bool m_inRetry = false;
    PulseSequence m_pulses;
    run::RunController m_controller;
    records::JournaledLog m_log;
    BoxModel m_model;
    history::ReadingHistory m_history;
    progress::RunTracker m_tracker;
    QElapsedTimer m_clock;
    double m_speedUp = 1.0;

    // Set points and settings as the front-end shows them.
    double m_unitFactor = 1.0;
    double m_temperatureSetPoint = 22.0;
    double m_pressureSetPoint = 0.0;
    PulseSettings m_pulseSettings;

    // The run.
    RunSetup m_run;
    bool m_stepPending = false; // a run step is queued or running
    // Stops (a Stop, a close): a command under way that sees it change ends
    // as soon as it can and moves nothing more.
    int m_stopCount = 0;
    JournalAtStop m_journalAtStop = JournalAtStop::Remove;
    bool m_journalKept = false;
    bool m_closing = false;
    bool m_walkingAtClose = false;
    bool m_programEnding = false;
    bool m_finished = false;
    std::optional<double> m_temperatureSentInRun;
    std::optional<records::RecordValues> m_recordBeforePulses;
    records::ReadingsFileAppender m_readings;
    bool m_reachedTraced = false; // the set points traced last were reached
    std::optional<double> m_tracedTemperature;
    std::optional<gasmix::Flows> m_tracedFlows;
    QString m_lastReport;
    QThread* m_reportWorker = nullptr; // writing the last run's points file and report

    // For the live view's record.
    bool m_temperatureRead = false;
    std::array<bool, 3> m_answering{};
    float m_lastN2 = history::kUnknown;
    float m_lastO2 = history::kUnknown;
    progress::PulseStage m_pulseStage = progress::PulseStage::None;
};
