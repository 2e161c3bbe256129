// The pulse sequence of one point, the generator's answers and the pulse
// timing settings.
#include "tempsensor.h"

#include "operatordialogs.h"

namespace {

const char* const kNormalStatusStyle = "QStatusBar{padding-left:8px;background:rgba(0,0,0,0);"
                                       "color:rgb(0,0,0);font-weight:normal;}";

} // namespace

const char* const TempSensor::kWarningStatusStyle =
    "QStatusBar{padding-left:8px;background:rgba(0,0,0,0);color:rgb(255,0,0);font-weight:bold;}";

void TempSensor::showWarningStatus(const QString& text, int ms)
{
    statusBar()->setStyleSheet(QString::fromLatin1(kWarningStatusStyle));
    statusBar()->showMessage(text, ms);
    recordEvent(history::EventKind::Warning, text);
}

void TempSensor::pausePollers()
{
    commands.pausePoller(tempWorker);
    pauseFlowPollers();
}

void TempSensor::resumePollers()
{
    commands.resumePoller(tempWorker);
    resumeFlowPollers();
}

void TempSensor::doPulse()
{
    commands.submit(QStringLiteral("pulse sequence"), [this] {
        runPulseSequence();
        return lastSequencePulsesSent > 0;
    });
}

void TempSensor::showPulseMessage(const QString& text, int ms, PulseSequence::MessageStyle style)
{
    switch (style) {
    case PulseSequence::MessageStyle::Warning:
        showWarningStatus(text, ms);
        return;
    case PulseSequence::MessageStyle::Normal:
        statusBar()->setStyleSheet(QString::fromLatin1(kNormalStatusStyle));
        break;
    case PulseSequence::MessageStyle::Keep:
        break;
    }
    statusBar()->showMessage(text, ms);
}

void TempSensor::runPulseSequence()
{
    // A stop during the sequence ends it: no pulse goes out after it.
    const int stopsAtStart = stopCount;
    PulseSequence::Settings pulses;
    pulses.cameraFeedback = ui.actionSet_Camera_Feedback->isChecked();
    pulses.widthText = pulseWidthText;
    pulses.pulses = pulsesPerPoint;
    pulses.waitBeforeS = waitBeforePulse + (pulseExtraWaitAtZero ? extraWaitForZeroP : 0);
    pulses.delayBetweenS = delayBetweenPulses;
    PulseSequence::Hooks hooks;
    hooks.stopped = [this, stopsAtStart] {
        return stopCount != stopsAtStart || commands.cancelled();
    };
    hooks.pausePollers = [this] { pausePollers(); };
    hooks.resumePollers = [this] { resumePollers(); };
    hooks.pulsing = [this] { pulseStage = progress::PulseStage::Pulsing; };
    if (journalPulses) {
        hooks.announce = [this] { return runLog.announced(); };
        hooks.pulseSent = [this] { runLog.pulseNoted(); };
    }
    pulseStage = progress::PulseStage::WaitingBeforePulse;
    lastSequencePulsesSent = pulseSequence->run(boxAddress, pulses, hooks);
    pulseStage = progress::PulseStage::None;
    if (journalPulses && lastSequencePulsesSent > 0)
        runLog.done();
}

// The pulse sequence reads the generator's answers; the slot keeps its place.
void TempSensor::readPulseFeedbackData() {}

void TempSensor::setPulseWidth()
{
    bool ok = false;
    const int width = OperatorDialogs::instance().getInt(
        this, tr("Set Pulse Width"), tr("Pulse width, ms:"), pulseWidthText.toInt(), 1, 999, 1, &ok,
        Qt::WindowFlags());
    if (ok)
        pulseWidthText = QStringLiteral("%1").arg(width, 3, 10, QLatin1Char('0'));
}

void TempSensor::pulsePerPoint()
{
    OperatorDialogs& dialogs = OperatorDialogs::instance();
    pulsesPerPoint =
        dialogs.getInt(this, tr("Set N-pulses per data point"), tr("Pulses per data point:"),
                       pulsesPerPoint, 1, 99, 1, nullptr, Qt::WindowFlags());
    delayBetweenPulses = dialogs.getInt(this, tr("Set delay between these pulses (sec)"),
                                        tr("Delay between pulses (sec):"), delayBetweenPulses, 0,
                                        99, 1, nullptr, Qt::WindowFlags());
}

void TempSensor::setWaitBeforePulse()
{
    waitBeforePulse = OperatorDialogs::instance().getInt(this, tr("Set Timeout"), tr("Timeout, s:"),
                                                         waitBeforePulse, 0, 99999, 1, nullptr,
                                                         Qt::WindowFlags());
}

void TempSensor::setExtraWaitForZeroP()
{
    extraWaitForZeroP = OperatorDialogs::instance().getInt(this, tr("Set Extra Timeout"),
                                                           tr("Timeout, s:"), extraWaitForZeroP, 0,
                                                           99999, 1, nullptr, Qt::WindowFlags());
}
