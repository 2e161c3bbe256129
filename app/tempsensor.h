#pragma once

#include "boxmodel.h"
#include "commandrunner.h"
#include "flowpollers.h"
#include "gasmix.h"
#include "journaledlog.h"
#include "loglock.h"
#include "modbusframes.h"
#include "pulsesequence.h"
#include "readinghistory.h"
#include "runcontroller.h"
#include "runprogress.h"
#include "setpointretries.h"
#include "ui_tempsensor.h"
#include "workerthread.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class ClickableLabel;
class FindDialog;
class LiveView;
class QCloseEvent;
class QLabel;
class QMovie;
class QSettings;
class QTcpSocket;

// The main window. It owns every other object of the program: the form, the
// settings store, the instrument command queue, the three pollers,
// the dialogs and the pulse timer. All its slots run on the GUI thread.
class TempSensor : public QMainWindow
{
    Q_OBJECT

public:
    explicit TempSensor(QWidget* parent = nullptr);
    ~TempSensor() override;

    // Enables or disables every instrument control (not the log and gas-flow
    // boxes while a run is active).
    void setControlsEnabled(bool on);
    // Runs the GUI event loop for `ms` milliseconds; any slot may run inside.
    void waitProcessingEvents(int ms);

    double unitFactor() const { return pressureUnitFactor; }
    // The serial device server's web forms are on port 80 (or the port of
    // BAROTERM_WEBFORM_PORT, for demos); tests set another.
    void setWebFormPort(quint16 port) { webFormPort = port; }
    QString currentBoxAddress() const { return boxAddress; }
    // The live view's record and window; the view is made when first opened.
    const history::ReadingHistory& readingHistory() const { return readings; }
    LiveView* liveViewWindow() const;

    // The order of these slots is the window's meta-object table.
public slots:
    void openWebLink();
    void pulsePerPoint();
    void setWaitBeforePulse();
    void setExtraWaitForZeroP();
    void closeEvent(QCloseEvent* event) override;
    void readTemperatureData();   // kept for the slot table: empty, the poller reads
    void readPulseFeedbackData(); // kept for the slot table: empty, the sequence reads
    void initTempCtrl();
    void setTemperature();
    void readSetTemperatureData();
    void getPressure(); // kept for the slot table: nothing calls it
    void setPressure(float slpm, uchar id);
    void setGas(uint gas); // kept for the slot table: empty, nothing calls it
    void readPressureDataN2();
    void readPressureSet();
    void readInitTemperatureCtrl();
    void readGas(); // kept for the slot table: empty, nothing calls it
    void turnGas(bool off);
    void updateTemp(float t);
    void updateCurN2(float setPoint, float massFlow);
    void updateCurO2(float setPoint, float massFlow);
    // Kept for the slot table: the O2 poller never emits valueChangedO2_().
    void updateCurO2_(QString text);
    void setGas();
    void setO2(); // kept for the slot table: empty, nothing calls it
    void initO2();
    void useAutoP(bool on);
    void useAutoT(bool on);
    void calcStepsT(double unused);
    void calcStepsP(double unused);
    void autoStartCalibration(bool on);
    void chooseLogFile();
    void autoCheck();
    void doPulse();
    void setUnits();
    void setIPAddress();
    void setPulseWidth();
    void tempCheckConnection();
    void setLogFile(bool on);
    void alwaysontop(bool on);
    void about();
    void help();
    void changeIP();
    void connectionDebug(QString text);
    void TimerHandlerFunction(); // kept for the slot table: empty, nothing calls it
    void setRP(bool unused);
    void savePresets();
    void loadPresets();

private:
    void loadSettings();
    void applyUnitRanges();
    void colourReadouts();
    void pauseFlowPollers();
    void resumeFlowPollers();
    void stopPollers();
    void pausePollers();
    void resumePollers();
    // The instrument commands. The slots of the same names queue these on
    // `commands`; the run's steps, already running there, call them directly.
    void runInitialisation();
    void runFlowInitialisation();
    // Sends `celsius`, or the value of setT when none is given. A retry leaves
    // the temperature shown to the readings.
    void runSetTemperature(std::optional<double> celsius = std::nullopt, bool retry = false);
    void runSetGas(const gasmix::Flows& flows);
    void runPulseSequence();
    // The flows the set point and gas button stand for now.
    gasmix::Flows flowsAsShown() const;
    // The gas button and the N2 button as gas is turned on or off.
    void showGasState(bool off);
    void showGasStyle(bool off);
    void saveSettings();
    void enableRunLockedActions();
    // Ends a web-form exchange under way (a close): nothing more is sent.
    void cancelNetworkExchange();
    // The run's widgets locked (on) or given back, and the run-locked actions.
    void showRunControls(bool on);
    // The end of a run as the operator sees it: Start again, logging closed.
    void showRunEnded();
    // Carries out the run controller's commands until it has none; a call
    // while a command is under way returns at once and the loop below it
    // picks up what the new event led to.
    void carryOutRunCommands();
    run::CommandResult carryOut(const run::Command& command);
    // Ends early when the run is stopped or the window closes.
    void waitUnlessStopped(int ms, int stopsBefore);
    // False when logging is on and the record could not be written.
    bool writeCalibrationRecord();
    // The layout, colour choice and unit the logs are written in now.
    records::LogFormat logFormat() const;
    // No log for this run: "Write Log" unchecked, with a warning when given.
    void refuseLogFile(const QString& warning);
    // A log file with a run journal beside it: the operator is offered the
    // interrupted run. True when the file is taken care of (resumed, or
    // refused); false when it is to be made anew.
    bool offerResume(const records::LogFileNames& names);
    // The journal's plan in the window's widgets.
    void showJournalPlan(const records::JournalPlan& plan);
    // The journal could not be written: warned about, and the run stopped.
    void journalFailed(const QString& text);
    // What the journal of a run started now keeps.
    records::JournalContents journalContents() const;
    void showWarningStatus(const QString& text, int ms);
    void showPulseMessage(const QString& text, int ms, PulseSequence::MessageStyle style);
    // The live view: the box's state as one sample of the record, events,
    // and the window opened by "Live View...".
    void recordReading();
    void recordEvent(history::EventKind kind, const QString& text);
    void showLiveView();

    static const char* const kWarningStatusStyle;

    Ui::BarotermClass ui;

    // Settings and units.
    std::unique_ptr<QSettings> settings;
    double pressureUnitFactor = 1.0;
    double previousUnitFactor = 1.0;

    // Connection.
    QString boxAddress;
    // Pollers delete themselves when their thread ends, hence the guarded pointers.
    QPointer<WorkerThread> tempWorker;
    QPointer<workerN2> n2Worker;
    QPointer<workerO2> o2Worker;
    bool connectionOk = true;
    bool connectionMessageOpen = false; // "Connection problem" is on screen
    bool addressAccepted = false;       // boxAddress came from the address dialog
    bool controlsEnabled = false;       // the last setControlsEnabled()

    // Readings.
    // Gas and logging state and the readings the window shows.
    BoxModel model;
    // The run controller's clock for readings and commands.
    QElapsedTimer readingClock;

    // The command sockets belong to `commands`, made anew by each command;
    // the pulse generator's to `pulseSequence`.
    QPointer<QTcpSocket> pollSocket;

    // Pulses.
    PulseSequence* pulseSequence = nullptr;
    QString pulseWidthText;
    qint32 pulsesPerPoint = 1;
    qint32 waitBeforePulse = 0;
    qint32 extraWaitForZeroP = 0;
    qint32 delayBetweenPulses = 0;
    // Commands of the last whole sequence that reached the generator.
    int lastSequencePulsesSent = 0;
    // The run's pulse at 0 bar of a pressure grid waits the extra delay too.
    bool pulseExtraWaitAtZero = false;

    // Sweep plan and run.
    bool pressureSweepOn = false;
    bool temperatureSweepOn = false;
    double tStart = 0, tEnd = 0, tDelta = 0;
    float pStart = 0, pEnd = 0, pDelta = 0;
    // Points of each axis as the "Steps:" previews show them.
    qint16 tPoints = 1, pPoints = 1;
    double refP = 1.0; // display unit
    double refT = 20.0;
    // Every decision of a run; the window carries out its commands.
    run::RunController runController;
    // The box's command queue: every instrument command and every run step
    // goes through it, one at a time.
    CommandRunner commands;
    // Set points their controllers did not get go out again through it.
    SetPointRetries setPointRetries{commands, this};
    // A run step is queued or running there.
    bool runStepPending = false;
    // Stops of a run (the operator's Stop, a close): a command under way
    // that sees it change ends as soon as it can and moves nothing more.
    int stopCount = 0;
    // A close: the controller's last commands, then the process ends.
    bool closing = false;
    bool walkingAtClose = false;
    bool exitAfterCommands = false;
    // The flows the last gas command sent, as the pressure box showed them.
    std::optional<gasmix::Flows> flowsLastSent;

    // Records and presets.
    records::JournaledLog runLog;
    // Held from the moment a log is picked: no other run may write it meanwhile.
    records::LogLock logLock;
    // The next Start goes on with the interrupted run these files hold.
    std::optional<records::ResumeDecision> pendingResume;
    // The run's pulse sequence (not a manual pulse) notes its pulses in the journal.
    bool journalPulses = false;
    QString logFilter;
    QString presetPath;

    // Dialogs and status bar.
    FindDialog* findDialog = nullptr;
    quint16 webFormPort = 80;
    // changeIP() is reading the box's settings: its action stays off.
    bool readingNetworkSettings = false;
    ClickableLabel* linkLabel = nullptr;
    std::unique_ptr<QMovie> activityMovie;
    QLabel* statusLabel1 = nullptr;
    QLabel* statusLabel2 = nullptr;

    // Live view: everything read since the first connection, the run's
    // progress, the last flow readings and where a pulse sequence is.
    history::ReadingHistory readings;
    progress::RunTracker runTracker;
    float lastN2Reading = history::kUnknown;
    float lastO2Reading = history::kUnknown;
    bool temperatureRead = false;
    progress::PulseStage pulseStage = progress::PulseStage::None;
    QPointer<LiveView> liveView;
};
