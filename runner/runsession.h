#pragma once

#include "boxmodel.h"
#include "commandrunner.h"
#include "gasmix.h"
#include "journaledlog.h"
#include "loglock.h"
#include "pulsesequence.h"
#include "runcontroller.h"
#include "runreport.h"
#include "runsetup.h"
#include "setpointretries.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class WorkerThread;
class workerN2;
class workerO2;

// One calibration run without a window: the three pollers feed the run
// controller, and its commands go to the box one at a time through the
// command queue, as the window carries them out. Output goes through two
// sinks so that tests can read it.
class RunSession : public QObject
{
    Q_OBJECT

public:
    struct Setup
    {
        runner::Options options;
        runner::PresetPlan preset;
        runner::LogChoice log;
        runner::PlanSummary summary;
        // A box that gives no temperature reading this long after start, or
        // this long during the run (its poller not paused by a command), is lost.
        int firstReadingMs = 10000;
        int silenceMs = 60000;
        // A resumed run: the logs are repaired and the journal open on them;
        // otherwise a new journal is begun at the start.
        std::optional<records::RunJournal> resumed;
        records::ResumeDecision decision;
        // The log taken for this process from the checks on: no other run
        // may write it meanwhile.
        std::shared_ptr<records::LogLock> lock;
    };
    using Sink = std::function<void(const QByteArray&)>;

    RunSession(const Setup& setup, Sink standardOutput, Sink standardError,
               QObject* parent = nullptr);
    ~RunSession() override;

    // Starts the pollers; the run starts at the first temperature reading.
    void start();
    // SIGINT (the operator's Stop) or SIGTERM: the stop branch of the run; a
    // second one skips to gas off.
    void interrupt(int signalNumber);

    bool hasEnded() const { return m_ended; }
    int exitStatus() const { return runner::exitStatus(m_ending); }

signals:
    void finished(int exitStatus);

private:
    void onTemperature(float celsius);
    void onN2(float setPoint, float massFlow);
    void onO2(float setPoint, float massFlow);
    void onBoxLost();
    void watchReadings();
    void beginRun();
    void stopRun(runner::Ending ending, const QString& detail);
    void carryOutCommands();
    run::CommandResult carryOut(const run::Command& command);
    void waitUnlessStopped(int ms, int stopsBefore);
    void sendGas(const gasmix::Flows& flows);
    // A retry's echo leaves what a record holds to the readings.
    void sendTemperature(double celsius, bool retry = false);
    records::LogFormat logFormat() const;
    bool writeRecord();
    bool takeBackRecord();
    int runPulses(bool extraWaitAtZero, int stopsBefore);
    void reportPoint(const records::RecordValues& values);
    void warn(const QString& text);
    void journalFailed(const QString& text);
    void say(const QString& text); // a line for a person
    void finish();
    void stopPollers();
    double shownPressure() const; // display unit, 0 for "n/a"
    qint64 now() const { return m_clock.elapsed(); }

    Setup m_setup;
    Sink m_out;
    Sink m_err;
    CommandRunner m_commands;
    // Lost set points go out again; at the end at most a bounded few more.
    SetPointRetries m_retries{m_commands};
    bool m_retriesClosing = false;
    run::RunController m_controller;
    QPointer<WorkerThread> m_temperaturePoller;
    QPointer<workerN2> m_n2Poller;
    QPointer<workerO2> m_o2Poller;
    QElapsedTimer m_clock;      // the readings' clock
    QElapsedTimer m_runClock;   // since the run started
    QElapsedTimer m_sinceWatch; // since the watch last looked
    qint64 m_silentMs = 0;      // without a temperature reading, not counting holds
    bool m_inRetry = false;     // a lost set point is being sent again
    QTimer m_watch;
    PulseSequence m_pulses;

    bool m_started = false;
    bool m_runStarted = false; // the first reading came
    bool m_controllerStarted = false;
    bool m_stepPending = false;
    bool m_stopping = false;
    bool m_ended = false;
    int m_stopCount = 0;
    int m_signals = 0;
    runner::Ending m_ending = runner::Ending::Completed;
    QString m_endDetail;

    // What the window's readouts would show, and what a record holds.
    BoxModel m_model;
    std::optional<double> m_temperatureSetPoint; // sent, as the set-point box shows it
    double m_pressureSetPoint = 0;               // display unit, as the pressure box shows it

    records::JournaledLog m_log;
    // The last record written, reported once its pulses went out.
    std::optional<records::RecordValues> m_unreportedRecord;
    QSet<int> m_reportedRecords;
};

namespace runner {

// Everything checked before the box is touched, in the order the program
// checks it: the preset, the reference point, the log's name, then both log
// files created with their headers. On a refusal returns the one line naming
// it (and creates nothing unless the logs themselves failed).
std::optional<QString> prepareRun(const Options& options, RunSession::Setup* setup);

// A run that never started (no reading from the box) leaves no logs behind:
// both files go when they hold nothing but their headers. True when removed.
bool removeUnusedLogs(const RunSession::Setup& setup);

// What the journal of a new run starts with.
records::JournalContents journalContents(const RunSession::Setup& setup);

// --resume: the journal and both logs read, the resume decided and carried
// out on the files (the logs repaired, a take-back noted), all before the box
// is touched. On a refusal (or nothing to resume) returns the one line naming
// it, and nothing is written. The box is the journal's unless --box was given.
std::optional<QString> prepareResume(const Options& options, RunSession::Setup* setup);

} // namespace runner
