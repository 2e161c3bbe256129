// The pulse sequence of one point, the generator's answers and the pulse
// timing settings.
#include "tempsensor.h"

#include "boxlink.h"
#include "operatordialogs.h"
#include "pulseprotocol.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

namespace {

const char* const kNormalStatusStyle = "QStatusBar{padding-left:8px;background:rgba(0,0,0,0);"
                                       "color:rgb(0,0,0);font-weight:normal;}";

// The generator itself answers "RR2" 5 s after a pulse the camera ignores;
// past this nothing is coming.
constexpr int kPulseAnswerLimitMs = 10000;

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

void TempSensor::runPulseSequence()
{
    if (!cameraReady) {
        lastSequencePulsesSent = 0;
        return;
    }
    pulseStage = progress::PulseStage::WaitingBeforePulse;
    statusBar()->showMessage(tr("Delay before pulse %1 sec").arg(waitBeforePulse),
                             waitBeforePulse * 1000);
    pausePollers();
    // A stop during the sequence ends it: no pulse goes out after it.
    const int stopsAtStart = stopCount;
    auto stopped = [this, stopsAtStart] {
        return stopCount != stopsAtStart || commands.cancelled();
    };

    int waitSeconds = waitBeforePulse;
    if (pulseExtraWaitAtZero)
        waitSeconds += extraWaitForZeroP;
    if (waitSeconds > 0) {
        pulseTimer.setSingleShot(true);
        pulseTimer.start(waitSeconds * 1000);
        timerExpired = false;
        int remaining = waitSeconds * 1000;
        do {
            statusBar()->showMessage(
                tr("Delay before pulse %1 s").arg(remaining / 1000.0, 0, 'f', 1), remaining);
            boxlink::tick();
            remaining -= boxlink::kTickMs;
        } while (!timerExpired && !stopped());
        pulseTimer.stop();
    }

    const QByteArray command =
        pulse::command(ui.actionSet_Camera_Feedback->isChecked(), pulseWidthText);
    const int widthMs = pulseWidthText.toInt();
    pulseStage = progress::PulseStage::Pulsing;
    int sent = 0;
    for (int i = 0; i < pulsesPerPoint && !stopped(); ++i) {
        statusBar()->setStyleSheet(QString::fromLatin1(kNormalStatusStyle));
        cameraReady = false;
        pulseAnswer.clear();
        if (command.startsWith('#'))
            statusBar()->showMessage(tr("Pulse %1 ms sent").arg(widthMs), 2000);
        else
            statusBar()->showMessage(tr("Pulse %1 ms sent, waiting camera...").arg(widthMs), 4900);

        // A connection that failed or that the generator dropped leaves the
        // socket open but unconnected; it would never connect again.
        if (pulseSocket->isOpen() && pulseSocket->state() == QAbstractSocket::UnconnectedState)
            pulseSocket->close();
        boxlink::connectToBox(pulseSocket, boxAddress, boxlink::kPulsePort);
        bool written = false;
        if (boxlink::waitConnected(pulseSocket, boxlink::kPulseCommand.connectMs, stopped))
            written = pulseSocket->write(command) == command.size();
        else
            pulseSocket->abort(); // and closed before the next pulse
        pulseAnswerBytes = 0;

        // A pulse that could not be sent has no answer to wait for, and a
        // generator that stays silent must not hold the run forever.
        QDeadlineTimer answerLimit(written ? kPulseAnswerLimitMs : 0);
        while (!cameraReady && !stopped()) {
            // The device server hung up before the generator said a word: a
            // busy port accepts and closes at once, so the command most
            // likely never reached the generator.
            if (written && pulseAnswerBytes == 0 &&
                pulseSocket->state() == QAbstractSocket::UnconnectedState) {
                written = false;
                answerLimit = QDeadlineTimer(0);
            }
            if (answerLimit.hasExpired()) {
                showWarningStatus(
                    written ? tr("Warning: No answer from the pulse generator @ T:%1 P:%2")
                                  .arg(ui.curT->text().toDouble(), 0, 'f', 1)
                                  .arg(ui.curP->text().toDouble(), 0, 'f', 1)
                            : tr("Warning: Can't reach the pulse generator, pulse not sent."),
                    4000);
                cameraReady = true;
                // A late answer must not pass for the next pulse's.
                pulseSocket->abort();
                pulseSocket->close();
                pulseAnswer.clear();
                break;
            }
            boxlink::tick();
        }
        sent += written ? 1 : 0;
        if (stopped()) {
            // An answer that comes after the stop belongs to no sequence.
            pulseSocket->abort();
            pulseSocket->close();
            pulseAnswer.clear();
            cameraReady = true;
            break;
        }

        if (i < pulsesPerPoint - 1) {
            pulseTimer.setSingleShot(true);
            pulseTimer.start(delayBetweenPulses * 1000);
            timerExpired = false;
            int remaining = delayBetweenPulses * 1000;
            do {
                statusBar()->showMessage(
                    tr("Delay after %2 pulse: %1 s").arg(remaining / 1000.0, 0, 'f', 1).arg(i + 1),
                    remaining);
                boxlink::tick();
                remaining -= boxlink::kTickMs;
            } while (!timerExpired && !stopped());
            pulseTimer.stop();
        }
    }
    lastSequencePulsesSent = sent;
    pulseStage = progress::PulseStage::None;
    resumePollers();
}

void TempSensor::readPulseFeedbackData()
{
    // The answer may come in pieces; decide once it is whole.
    const QByteArray bytes = pulseSocket->readAll();
    pulseAnswerBytes += bytes.size();
    if (!pulseAnswer.add(bytes))
        return;
    const QString text = pulseAnswer.text();
    pulseAnswer.clear();

    switch (pulse::classify(text)) {
    case pulse::Status::KE1:
        ++pulseAnswerCount;
        cameraReady = true;
        statusBar()->showMessage(tr("OK"), 2000);
        break;
    case pulse::Status::KE2:
        ++pulseAnswerCount;
        cameraReady = true;
        statusBar()->showMessage(tr("Camera answer received"), 2000);
        break;
    case pulse::Status::RR1:
        OperatorDialogs::instance().warning(this, tr("Pulse ERROR"), tr("Pulse did not sent!"),
                                            QMessageBox::Ok, QMessageBox::NoButton);
        ++pulseAnswerCount;
        cameraReady = true;
        break;
    case pulse::Status::RR2:
        showWarningStatus(tr("Warning: Camera did not answer after 5 seconds @ T:%1 P:%2")
                              .arg(ui.curT->text().toDouble(), 0, 'f', 1)
                              .arg(ui.curP->text().toDouble(), 0, 'f', 1),
                          4000);
        ++pulseAnswerCount;
        cameraReady = true;
        break;
    case pulse::Status::None:
        break;
    }
    if (text.size() == pulse::kAnswerLength)
        pulseSocket->close();
}

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
