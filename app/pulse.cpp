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

void TempSensor::paintWarningStatus(const QString& text, int ms)
{
    statusBar()->setStyleSheet(QString::fromLatin1(kWarningStatusStyle));
    statusBar()->showMessage(text, ms);
}

void TempSensor::showWarningStatus(const QString& text, int ms)
{
    paintWarningStatus(text, ms);
    session->recordEvent(history::EventKind::Warning, text);
}

void TempSensor::doPulse()
{
    session->manualPulse();
}

void TempSensor::showSessionMessage(const QString& text, int ms, PulseSequence::MessageStyle style)
{
    switch (style) {
    case PulseSequence::MessageStyle::Warning:
        paintWarningStatus(text, ms);
        return;
    case PulseSequence::MessageStyle::Normal:
        statusBar()->setStyleSheet(QString::fromLatin1(kNormalStatusStyle));
        break;
    case PulseSequence::MessageStyle::Keep:
        break;
    }
    statusBar()->showMessage(text, ms);
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
    tellPulseSettings();
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
    tellPulseSettings();
}

void TempSensor::setWaitBeforePulse()
{
    waitBeforePulse = OperatorDialogs::instance().getInt(this, tr("Set Timeout"), tr("Timeout, s:"),
                                                         waitBeforePulse, 0, 99999, 1, nullptr,
                                                         Qt::WindowFlags());
    tellPulseSettings();
}

void TempSensor::setExtraWaitForZeroP()
{
    extraWaitForZeroP = OperatorDialogs::instance().getInt(this, tr("Set Extra Timeout"),
                                                           tr("Timeout, s:"), extraWaitForZeroP, 0,
                                                           99999, 1, nullptr, Qt::WindowFlags());
    tellPulseSettings();
}
