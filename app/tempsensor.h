#pragma once

#include "access.h"
#include "boxsession.h"
#include "gasmix.h"
#include "loglock.h"
#include "sharedialog.h"
#include "ui_tempsensor.h"
#include "webforms.h"

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

// The main window: a view of one box's session. It owns the form, the settings
// store, the dialogs and the session, forwards the operator's actions to the
// session and shows what it reports. All its slots run on the GUI thread.
namespace monitor {
class MonitorServer;
class SessionSource;
} // namespace monitor

// Where a choice of "Share Live View..." serves; none when it names no address.
std::optional<monitor::Endpoint> shareEndpoint(const ShareChoice& choice);

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
    // BAROTERM_WEBFORM_PORT, for demos); tests set another, and a shorter
    // limit on a silent server's answer.
    void setWebFormPort(quint16 port) { webFormPort = port; }
    void setWebFormTransferLimitMs(int ms) { webFormTransferLimitMs = ms; }
    QString currentBoxAddress() const { return boxAddress; }
    // The live view's record and window; the view is made when first opened.
    const history::ReadingHistory& readingHistory() const { return session->history(); }
    LiveView* liveViewWindow() const;

    // The live view's page: from the command line when given, otherwise as
    // "Share Live View..." keeps it. A failure to listen is a warning.
    void startSharing(const std::optional<monitor::Endpoint>& commandLine,
                      const QString& keyFile = QString());
    bool liveViewShared() const;
    // The page's address for a choice, with its key; empty when off.
    QString sharedPageAddress(const ShareChoice& choice);

    // The run as planned in the widgets.
    BoxSession::RunSetup runSetup() const;

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
    // The set points, the unit and the pulse timing as the window shows them,
    // for the session's commands.
    void tellShownSetPoints();
    BoxSession::PulseSettings pulseSettings() const;
    void tellPulseSettings();
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
    // A red warning of the window's own, kept in the live view's record.
    void showWarningStatus(const QString& text, int ms);
    // A red warning (the session keeps its own in the record).
    void paintWarningStatus(const QString& text, int ms);
    void showSessionMessage(const QString& text, int ms, PulseSequence::MessageStyle style);
    // The window opened by "Live View...".
    void showLiveView();
    // "Share Live View...".
    void shareLiveView();
    // "Instrument Table..." and "Run Report..." in the settings menu.
    void setUpReportActions();
    void chooseInstrumentTable();
    // The instrument table the settings name, for a run starting now; the
    // typical values, with a red warning, when it can no longer be read.
    void useInstrumentTable(BoxSession::RunSetup& setup);
    void showRunReport();
    void reportWritten(const QString& report);

    static const char* const kWarningStatusStyle;

    Ui::BarotermClass ui;

    // Settings and units.
    std::unique_ptr<QSettings> settings;
    double pressureUnitFactor = 1.0;
    double previousUnitFactor = 1.0;

    // Connection.
    QString boxAddress;
    bool connectionOk = true;
    bool connectionMessageOpen = false; // "Connection problem" is on screen
    bool addressAccepted = false;       // boxAddress came from the address dialog
    bool controlsEnabled = false;       // the last setControlsEnabled()

    // The box: pollers, commands, the run, its logs and what was read. A
    // child of the window, so that tests find its parts by name.
    BoxSession* session = nullptr;

    // The socket of getPressure(), which nothing calls.
    QPointer<QTcpSocket> pollSocket;

    // Pulse timing, told to the session whenever it changes.
    QString pulseWidthText;
    qint32 pulsesPerPoint = 1;
    qint32 waitBeforePulse = 0;
    qint32 extraWaitForZeroP = 0;
    qint32 delayBetweenPulses = 0;

    // Sweep plan.
    bool pressureSweepOn = false;
    bool temperatureSweepOn = false;
    double tStart = 0, tEnd = 0, tDelta = 0;
    float pStart = 0, pEnd = 0, pDelta = 0;
    // Points of each axis as the "Steps:" previews show them.
    qint16 tPoints = 1, pPoints = 1;
    double refP = 1.0; // display unit
    double refT = 20.0;

    // Records and presets.
    // Held from the moment a log is picked: no other run may write it meanwhile.
    records::LogLock logLock;
    // The next Start goes on with the interrupted run these files hold.
    std::optional<records::ResumeDecision> pendingResume;
    QString logFilter;
    QString presetPath;

    // Dialogs and status bar.
    FindDialog* findDialog = nullptr;
    quint16 webFormPort = 80;
    int webFormTransferLimitMs = netconfig::kTransferLimitMs;
    // changeIP() is reading the box's settings: its action stays off.
    bool readingNetworkSettings = false;
    ClickableLabel* linkLabel = nullptr;
    std::unique_ptr<QMovie> activityMovie;
    QLabel* statusLabel1 = nullptr;
    QLabel* statusLabel2 = nullptr;

    QPointer<LiveView> liveView;

    // The live view's page.
    ShareChoice storedShare() const;
    void applyShare(const ShareChoice& choice);
    ShareChoice shared; // in effect
    QString monitorKeyFile;
    std::unique_ptr<monitor::SessionSource> monitorSource;
    std::unique_ptr<monitor::MonitorServer> monitorServer;
};
