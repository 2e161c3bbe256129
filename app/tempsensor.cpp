#include "tempsensor.h"

#include "monitorserver.h"
#include "sessionsource.h"

#include "settingskeys.h"

#include "appinfo.h"
#include "boxlink.h"
#include "clickablelabel.h"
#include "flowprotocol.h"
#include "operatordialogs.h"
#include "units.h"
#include "webforms.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QSettings>
#include <QTcpSocket>
#include <QUrl>
#include <QWindow>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const char* const kReadoutRestStyle = "background-color: rgb(250, 250, 250)";
const char* const kProgressChunkStyle =
    " QProgressBar::chunk:horizontal { background: qlineargradient(x1: 0, y1: 0.5, x2: 1, y2: "
    "0.5, stop: 0 yellow,  stop: 1 white); margin-right: 2px;  }";
const char* const kLogNameStyle = "color:black;background-color:QLinearGradient( x1: 0, y1: 0, "
                                  "x2: 0, y2: 1, stop: 0 #ffffff, stop: 1 #f1f4f1);";

std::unique_ptr<QSettings> openSettings()
{
#ifdef Q_OS_WIN
    return std::make_unique<QSettings>(QString::fromLatin1(appinfo::kRegistryPath),
                                       QSettings::NativeFormat);
#else
    // Elsewhere the per-user native store under the same organisation and name.
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromLatin1(appinfo::kSettingsOrganisation),
                                       QString::fromLatin1(appinfo::kSettingsApplication));
#endif
}

// Status-bar time of a lost set point's line; the warning stays until the next
// slow retry.
constexpr int kSetPointNoticeMs = 3000;
constexpr int kSetPointWarningMs = 10000;

QString defaultPresetPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\");
#else
    return QDir::homePath() + QLatin1Char('/');
#endif
}

} // namespace

TempSensor::TempSensor(QWidget* parent) : QMainWindow(parent), session(new BoxSession(this))
{
    connect(session, &BoxSession::temperatureRead, this, &TempSensor::updateTemp);
    connect(session, &BoxSession::checkSignal, this, &TempSensor::autoCheck);
    connect(session, &BoxSession::n2Read, this, &TempSensor::updateCurN2);
    connect(session, &BoxSession::o2Read, this, &TempSensor::updateCurO2);
    connect(session, &BoxSession::connectionLost, this, &TempSensor::tempCheckConnection);
    connect(session, &BoxSession::debugText, this, &TempSensor::connectionDebug);
    connect(session, &BoxSession::setPointNotice, this, [this](const QString& text, bool warning) {
        if (warning)
            paintWarningStatus(text, kSetPointWarningMs);
        else
            statusBar()->showMessage(text, kSetPointNoticeMs);
    });
    connect(session, &BoxSession::message, this, &TempSensor::showSessionMessage);
    connect(session, &BoxSession::pulseRefused, this, [this] {
        OperatorDialogs::instance().warning(this, tr("Pulse ERROR"), tr("Pulse did not sent!"),
                                            QMessageBox::Ok, QMessageBox::NoButton);
    });
    // What a run moves, the boxes show.
    connect(session, &BoxSession::temperatureSetPointShown, this,
            [this](double celsius) { ui.setT->setValue(celsius); });
    connect(session, &BoxSession::pressureSetPointShown, this,
            [this](double value) { ui.setPValue->setValue(value); });
    connect(session, &BoxSession::gasSwitched, this, [this](bool off) {
        showGasState(off);
        showGasStyle(off);
    });
    connect(session, &BoxSession::journalFailed, this, &TempSensor::journalFailed);
    connect(session, &BoxSession::runEnded, this, [this] { showRunEnded(); });
    // The close's commands are done: the process ends.
    connect(session, &BoxSession::finished, this, [this] {
        session->stopPollers();
        OperatorDialogs::instance().exitProcess(0);
    });
    pulseWidthText = QStringLiteral("010");
    connectionOk = true;
    boxAddress = tr("192.168.1.251");
    webFormPort = netconfig::webFormPort();

    ui.setupUi(this);
    // The session's commands send what the boxes show.
    connect(ui.setT, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            [this] { tellShownSetPoints(); });
    connect(ui.setPValue, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            [this] { tellShownSetPoints(); });
    connect(ui.actionSet_Camera_Feedback, &QAction::toggled, this, [this] { tellPulseSettings(); });
    session->setGasOff(ui.gasButton->isChecked());
    session->model().setLogging(ui.groupBox_4->isChecked());

    for (QWidget* readout : {static_cast<QWidget*>(ui.curT), static_cast<QWidget*>(ui.curP),
                             static_cast<QWidget*>(ui.logNameEdit),
                             static_cast<QWidget*>(ui.curPN2_), static_cast<QWidget*>(ui.curPO2_)})
        readout->setStyleSheet(QString::fromLatin1(kReadoutRestStyle));

    pressureSweepOn = temperatureSweepOn = false;
    tStart = tEnd = tDelta = 0;
    pStart = pEnd = pDelta = 0;

    calcStepsT(0.0);
    calcStepsP(0.0);

    presetPath.clear();
    waitBeforePulse = extraWaitForZeroP = delayBetweenPulses = 0;
    pulsesPerPoint = 1;

    settings = openSettings();
    settings->sync();

    statusLabel1 = new QLabel(this);
    statusLabel2 = new QLabel(this);
    statusBar()->addWidget(statusLabel2, 0);
    statusBar()->addWidget(statusLabel1, 0);

    linkLabel = new ClickableLabel(QString(), this);
    QFont linkFont(QStringLiteral("Arial"), 7, 50, false);
    linkLabel->setFont(linkFont);
    QPalette linkPalette = linkLabel->palette();
    const QBrush grey(Qt::darkGray, Qt::SolidPattern);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        linkPalette.setBrush(group, QPalette::WindowText, grey);
    linkLabel->setPalette(linkPalette);
    linkLabel->setText(QString::fromLatin1(appinfo::kWebHost));
    linkLabel->setToolTip(tr("Click to open") + QLatin1Char(' ') +
                          QString::fromLatin1(appinfo::kWebDomain));
    connect(linkLabel, SIGNAL(clicked()), this, SLOT(openWebLink()));
    statusBar()->addPermanentWidget(linkLabel, 0);

    for (QProgressBar* bar : {ui.progressBarT, ui.progressBarP})
        bar->setStyleSheet(bar->property("defaultStyleSheet").toString() +
                           QString::fromLatin1(kProgressChunkStyle));
    for (QProgressBar* bar : {ui.progressBarT, ui.progressBarP}) {
        bar->setTextVisible(false);
        bar->setTextDirection(QProgressBar::TopToBottom);
    }

    activityMovie = std::make_unique<QMovie>(QStringLiteral(":/Baroterm/images/4-1.gif"));
    ui.label_3->setMovie(activityMovie.get());
    activityMovie->start();
    activityMovie->stop();

    ui.actioninitTempCtrl->setEnabled(false);
    // Not a slot of the form: the window's slot table stays as it is.
    connect(ui.actionLive_View, &QAction::triggered, this, [this] { showLiveView(); });
    connect(ui.actionShare_Live_View, &QAction::triggered, this, [this] { shareLiveView(); });

    setControlsEnabled(false);

    // Return in the temperature field starts the same command as "Set T".
    if (QLineEdit* setTEdit = ui.setT->findChild<QLineEdit*>())
        connect(setTEdit, SIGNAL(returnPressed()), this, SLOT(setTemperature()));

    ui.logNameEdit->setStyleSheet(QString::fromLatin1(kLogNameStyle));

    setWindowTitle(QStringLiteral("Kelvra Baroterm v.%1 %2")
                       .arg(QString::fromLatin1(appinfo::kVersion))
                       .arg(QString::fromLatin1(appinfo::kTitleSuffix)));

    setUpReportActions();
    loadSettings();
}

TempSensor::~TempSensor()
{
    // The program's own close ends the process before this; a window that is
    // destroyed (in tests) must not leave a poller thread running.
    session->stopPollers();
}

void TempSensor::loadSettings()
{
    pressureUnitFactor = units::sanitizedFactor(
        settings->value(QLatin1String(settingskeys::kLastUnit), "1").toDouble());
    previousUnitFactor = pressureUnitFactor;
    applyUnitRanges();

    ui.setT->setValue(
        settings->value(QLatin1String(settingskeys::kLastManualT), "22.0").toDouble());

    ui.autoPminEdit->setValue(
        settings->value(QLatin1String(settingskeys::kLastPMin), "0.0").toDouble());
    ui.autoPmaxEdit->setValue(
        settings->value(QLatin1String(settingskeys::kLastPMax), "4.0").toDouble());
    ui.autoPdeltaEdit->setValue(
        settings->value(QLatin1String(settingskeys::kLastPDelta), "0.1").toDouble());

    ui.autoTminEdit->setValue(
        settings->value(QLatin1String(settingskeys::kLastTMin), "22.0").toDouble());
    ui.autoTmaxEdit->setValue(
        settings->value(QLatin1String(settingskeys::kLastTMax), "24.0").toDouble());
    ui.autoTdeltaEdit->setValue(
        settings->value(QLatin1String(settingskeys::kLastTDelta), "1.0").toDouble());

    presetPath = settings->value(QLatin1String(settingskeys::kLastPresetPath), defaultPresetPath())
                     .toString();
    tellShownSetPoints();
    tellPulseSettings();
}

void TempSensor::tellShownSetPoints()
{
    session->setUnitFactor(pressureUnitFactor);
    session->setShownSetPoints(ui.setT->value(), ui.setPValue->value());
}

BoxSession::PulseSettings TempSensor::pulseSettings() const
{
    BoxSession::PulseSettings pulses;
    pulses.cameraFeedback = ui.actionSet_Camera_Feedback->isChecked();
    pulses.widthText = pulseWidthText;
    pulses.pulses = pulsesPerPoint;
    pulses.waitBeforeS = waitBeforePulse;
    pulses.extraWaitAtZeroS = extraWaitForZeroP;
    pulses.delayBetweenS = delayBetweenPulses;
    return pulses;
}

void TempSensor::tellPulseSettings()
{
    session->setPulseSettings(pulseSettings());
}

void TempSensor::setControlsEnabled(bool on)
{
    ui.groupBox->setEnabled(on);
    ui.groupBox_2->setEnabled(on);
    ui.groupBox_3->setEnabled(on);
    if (!ui.autoStartButton->isChecked()) {
        ui.groupBox_4->setEnabled(on);
        ui.groupBox_5->setEnabled(on);
    }
    if (on)
        activityMovie->start();
    else
        activityMovie->stop();
    controlsEnabled = on;
    for (QAction* action :
         {ui.actionSet_Pulse_width, ui.actionWait_Before_Pulse, ui.actionSet_Camera_Feedback,
          ui.actionExtra_Wait_for_0_pressure, ui.actionPulses_per_Point, ui.actionSave})
        action->setEnabled(on);
    enableRunLockedActions();
}

void TempSensor::enableRunLockedActions()
{
    // While a run lasts (its reference point included) these would change the
    // plan, the unit of the records, the images or the instruments under it.
    const bool idle = !ui.autoStartButton->isChecked();
    for (QAction* action :
         {ui.actionSet_Pressure_Unit, ui.actionSet_IP_address, ui.actionChange_IP_Settings})
        action->setEnabled(idle);
    if (readingNetworkSettings)
        ui.actionChange_IP_Settings->setEnabled(false);
    for (QAction* action : {ui.actioninitTempCtrl, ui.actionManual_Pulse, ui.actionLoad})
        action->setEnabled(idle && controlsEnabled);
}

void TempSensor::waitProcessingEvents(int ms)
{
    boxlink::processEventsFor(ms);
}

void TempSensor::TimerHandlerFunction() {}

void TempSensor::about()
{
    const QString title = QStringLiteral("About - Kelvra Baroterm %1 %2")
                              .arg(QString::fromLatin1(appinfo::kVersion))
                              .arg(QString::fromLatin1(appinfo::kTitleSuffix));
    const QString text =
        QStringLiteral("<b>Kelvra Baroterm Interface </b><br>Version %1 (%2)<br><br>")
            .arg(QString::fromLatin1(appinfo::kVersion))
            .arg(QStringLiteral(__DATE__)) +
        QString::fromLatin1(appinfo::kPublisherLine) + QStringLiteral("<br>") +
        QStringLiteral("<a href=\"%1\">%2</a>")
            .arg(QString::fromLatin1(appinfo::kWebSite), QString::fromLatin1(appinfo::kWebDomain)) +
        QStringLiteral("<br><br>");
    OperatorDialogs::instance().about(this, title, text);
}

void TempSensor::help()
{
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/help.chm");
    // Without a help file there is nothing to show; the desktop would only
    // report a missing file in a window of its own.
    if (!QFileInfo::exists(path))
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void TempSensor::openWebLink()
{
    QDesktopServices::openUrl(
        QUrl(QString::fromLatin1(appinfo::kCalibrationPage), QUrl::TolerantMode));
}

void TempSensor::alwaysontop(bool on)
{
#ifdef Q_OS_WIN
    SetWindowPos(reinterpret_cast<HWND>(winId()), on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
#else
    // The native window's flags change in place; the widget's own flags would
    // hide and re-show the window.
    if (!windowHandle())
        create();
    QWindow* window = windowHandle();
    window->setFlag(Qt::WindowStaysOnTopHint, on);
#endif
}

void TempSensor::connectionDebug(QString text)
{
    statusBar()->showMessage(text, 1000);
}
