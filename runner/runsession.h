#pragma once

#include "boxsession.h"
#include "loglock.h"
#include "runreport.h"
#include "runsetup.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

// baroterm-run's side of one calibration run: the options, as a run set-up,
// to the box's session; the session's reports to output lines and an exit
// status. Output goes through two sinks so that tests can read it.
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
        // this long during the run (its poller not held by a run command), is lost.
        int firstReadingMs = 10000;
        int silenceMs = 60000;
        // A resumed run: the logs are repaired and the journal open on them;
        // otherwise a new journal is begun at the start.
        std::optional<records::RunJournal> resumed;
        records::ResumeDecision decision;
        // The log taken for this process from the checks on: no other run
        // may write it meanwhile.
        std::shared_ptr<records::LogLock> lock;
        // The uncertainties of the points file and the report come from it.
        uncertainty::InstrumentTable instruments;
        QString instrumentsName;
        // Tests only: the session's rests, polls and command waits this many
        // times shorter (see BoxSession::speedUp).
        double speedUp = 1.0;
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
    const BoxSession& box() const { return m_box; }
    // The run as this command line plans it, for the session.
    BoxSession::RunSetup runSetup() const;

signals:
    void finished(int exitStatus);

private:
    void onTemperature();
    void onBoxLost(const QString& address);
    void watchReadings();
    void beginRun();
    void stopRun(runner::Ending ending, const QString& detail);
    void reportPoint(const records::RecordValues& values);
    void warn(const QString& text);
    void journalFailed(const QString& text);
    void say(const QString& text); // a line for a person
    void finish();

    Setup m_setup;
    Sink m_out;
    Sink m_err;
    BoxSession m_box;
    QElapsedTimer m_runClock;   // since the run started
    QElapsedTimer m_sinceWatch; // since the watch last looked
    qint64 m_silentMs = 0;      // without a temperature reading, not counting holds
    QTimer m_watch;

    bool m_started = false;
    bool m_runStarted = false; // the first reading came
    bool m_controllerStarted = false;
    bool m_stopping = false;
    bool m_ended = false;
    int m_signals = 0;
    runner::Ending m_ending = runner::Ending::Completed;
    QString m_endDetail;
    // Records whose point was reported, so that a take-back of one is too.
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
