// The calibration run as the window shows it. The run controller makes every
// decision; the window turns readings and the operator's Start, Stop and
// close into its events and carries out its commands one at a time.
#include "tempsensor.h"

#include "operatordialogs.h"

#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QSignalBlocker>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const char* const kStoppedReadoutStyle = "color:gray;background-color:none";
// A stop ends a wait within this.
constexpr int kStopCheckMs = 20;

// The end-of-run signal: 523 Hz for half a second where the platform can.
void endOfRunBeep()
{
#ifdef Q_OS_WIN
    Beep(523, 500);
#else
    QApplication::beep();
#endif
}

} // namespace

void TempSensor::showRunControls(bool on)
{
    for (QWidget* w :
         {static_cast<QWidget*>(ui.setTempButton), static_cast<QWidget*>(ui.setN2Button),
          static_cast<QWidget*>(ui.useP), static_cast<QWidget*>(ui.useT),
          static_cast<QWidget*>(ui.setPValue), static_cast<QWidget*>(ui.setT)})
        w->setEnabled(!on);
    pulseSequence->forgetPendingAnswer();
    for (QWidget* w : {static_cast<QWidget*>(ui.groupBox_4), static_cast<QWidget*>(ui.groupBox_5),
                       static_cast<QWidget*>(ui.rpBox)})
        w->setEnabled(!on);
    enableRunLockedActions();
}

void TempSensor::autoStartCalibration(bool on)
{
    runLog.log().restartNumbering();
    showRunControls(on);

    if (on) {
        ui.autoStartButton->setText(tr("Stop"));
        if (temperatureSweepOn) {
            ui.progressBarT->setRange(0, tPoints);
            ui.progressBarT->setValue(0);
        }
        if (pressureSweepOn)
            ui.progressBarP->setRange(0, pPoints);

        run::Plan plan;
        plan.temperatureAxisOn = temperatureSweepOn;
        plan.temperature = {tStart, tEnd, tDelta, tPoints};
        plan.pressureAxisOn = pressureSweepOn;
        plan.pressure = {pStart, pEnd, pDelta, pPoints};
        plan.unitFactor = pressureUnitFactor;
        plan.referencePointOn = ui.rpBox->isChecked();
        plan.referenceT = refT;
        plan.referenceP = refP;
        plan.writeLog = model.logging();
        plan.gasOff = model.gasOff();
        // Taken now: a Start that fails below is a fresh run next time.
        const auto notStarted = [this] {
            {
                const QSignalBlocker blocker(ui.autoStartButton);
                ui.autoStartButton->setChecked(false);
            }
            showRunControls(false);
            ui.autoStartButton->setText(tr("Start"));
        };
        const std::optional<records::ResumeDecision> resume = std::move(pendingResume);
        pendingResume.reset();
        if (resume && plan.writeLog) {
            plan.firstPoint = resume->pointIndex;
            // Every point recorded: the run only ends.
            if (resume->kind == records::ResumeDecision::Complete)
                plan.referencePointOn = false;
            // The logs are repaired before anything goes to the box; logs that
            // can't be are given up with nothing sent.
            QString error;
            if (!runLog.resume(records::resumeFilesFor(runLog.files().log), *resume, &error)) {
                notStarted();
                refuseLogFile(tr("Warning: the interrupted run can't be resumed: %1").arg(error));
                return;
            }
        }
        if (!runController.start(plan)) {
            // The last run is still ending (or the window closing): Start again later.
            runLog.keep();
            notStarted();
            return;
        }
        if (plan.writeLog) {
            // Out of the event loop: the failure stops the run just started.
            auto failed = [this](const QString& text) {
                QMetaObject::invokeMethod(
                    this, [this, text] { journalFailed(text); }, Qt::QueuedConnection);
            };
            runLog.onFailure(failed);
            if (!resume)
                runLog.begin(journalContents());
        }
        carryOutRunCommands();
        return;
    }

    // A command under way sees this and ends as soon as it can; the Stop's
    // own commands go before anything queued.
    ++stopCount;
    runController.stop();
    commands.cancelPending();
    carryOutRunCommands();
}

void TempSensor::showRunEnded()
{
    // The run may have ended by itself: the button follows without asking
    // for a stop again.
    {
        const QSignalBlocker blocker(ui.autoStartButton);
        ui.autoStartButton->setChecked(false);
    }
    runLog.log().restartNumbering();
    showRunControls(false);
    ui.groupBox_4->setChecked(false);
    ui.logNameEdit->clear();
    endOfRunBeep();
    ui.autoStartButton->setText(tr("Start"));
    ui.curT->setStyleSheet(QString::fromLatin1(kStoppedReadoutStyle));
    ui.curP->setStyleSheet(QString::fromLatin1(kStoppedReadoutStyle));
    pulseSequence->forgetPendingAnswer();
}

void TempSensor::autoCheck()
{
    colourReadouts();
    runController.temperatureReading(model.lastTemperatureReading(), readingClock.elapsed());
    carryOutRunCommands();
}

void TempSensor::carryOutRunCommands()
{
    // Every command processes events: a reading, a Stop or a close inside one
    // only tells the controller. The controller's commands are carried out one
    // per step on the box's queue, each step queueing the next, so an operator's
    // command asked for meanwhile runs between two of them, never inside one.
    runTracker.observe(runController, QDateTime::currentMSecsSinceEpoch());
    if (runStepPending)
        return;
    if (runController.command()) {
        runStepPending = true;
        commands.submit(
            QStringLiteral("run step"),
            [this] {
                if (const std::optional<run::Command> command = runController.command())
                    runController.commandDone(carryOut(*command));
                return true;
            },
            [this](const CommandRunner::Outcome& outcome) {
                runStepPending = false;
                // A cancelled step is asked for again by whoever cancelled it.
                if (outcome.ran)
                    carryOutRunCommands();
            });
        return;
    }
    // A close waits for a set point of its own that is still to go out again.
    if (exitAfterCommands && !commands.busy() && !setPointRetries.closeRetryPending()) {
        exitAfterCommands = false;
        stopPollers();
        OperatorDialogs::instance().exitProcess(0);
    }
}

void TempSensor::waitUnlessStopped(int ms, int stopsBefore)
{
    QDeadlineTimer deadline(qMax(ms, 0), Qt::PreciseTimer);
    do {
        waitProcessingEvents(int(qMin<qint64>(deadline.remainingTime(), kStopCheckMs)));
    } while (!deadline.hasExpired() && stopCount == stopsBefore);
}

run::CommandResult TempSensor::carryOut(const run::Command& command)
{
    const int stopsBefore = stopCount;
    run::CommandResult result;
    switch (command.kind) {
    case run::Command::SetTemperature:
        ui.setT->setValue(command.value);
        if (command.ms > 0)
            waitUnlessStopped(command.ms, stopsBefore);
        // After a stop no set point may move.
        if (stopCount == stopsBefore)
            runSetTemperature();
        break;
    case run::Command::SetPressure:
        ui.setPValue->setValue(command.value);
        if (command.send) {
            runSetGas(flowsAsShown());
            result.flowsSent = flowsLastSent;
        }
        break;
    case run::Command::GasOn:
        showGasState(false);
        runSetGas(flowsAsShown());
        result.flowsSent = flowsLastSent;
        showGasStyle(false);
        break;
    case run::Command::GasOff:
        // Without the flow pollers there is no box to switch off at a close.
        if (!closing || walkingAtClose || (n2Worker && o2Worker)) {
            showGasState(true);
            runSetGas(flowsAsShown());
            result.flowsSent = flowsLastSent;
            showGasStyle(true);
        }
        break;
    case run::Command::Wait:
        if (command.pauseTemperaturePoller)
            commands.pausePoller(tempWorker);
        waitUnlessStopped(command.ms, stopsBefore);
        if (command.pauseTemperaturePoller)
            commands.resumePoller(tempWorker);
        break;
    case run::Command::WriteRecord:
        result.ok = writeCalibrationRecord();
        result.recordNumber = runLog.lastNumber();
        if (result.ok && runController.plan().writeLog)
            recordEvent(history::EventKind::Record, tr("Record %1 written @ T:%2 P:%3")
                                                        .arg(result.recordNumber)
                                                        .arg(double(model.temperature()), 0, 'f', 1)
                                                        .arg(ui.curP->text()));
        break;
    case run::Command::PulseSequence:
        pulseExtraWaitAtZero = command.extraWaitAtZeroPressure;
        journalPulses = true;
        runPulseSequence();
        journalPulses = false;
        pulseExtraWaitAtZero = false;
        result.pulsesSent = lastSequencePulsesSent;
        result.pulsesRefused = pulseSequence->refusedPulses();
        // Without a log the point is recorded in the images alone.
        if (result.pulsesSent > 0 && !runController.plan().writeLog)
            recordEvent(history::EventKind::Record, tr("Point @ T:%1 P:%2 pulsed")
                                                        .arg(double(model.temperature()), 0, 'f', 1)
                                                        .arg(ui.curP->text()));
        break;
    case run::Command::TakeBackRecord:
        result.ok = runLog.takeBack();
        break;
    case run::Command::ShowStatus:
        if (command.warning)
            showWarningStatus(command.text, command.ms);
        else
            statusBar()->showMessage(command.text, command.ms);
        break;
    case run::Command::RunEnded:
        // A close keeps the journal for a resume, as does a record that could
        // not be taken back; the Stop and a run through leave none.
        if (closing || command.reason == run::EndReason::TakeBackFailed)
            runLog.keep();
        else if (!runLog.finish())
            showWarningStatus(tr("Warning: the run journal could not be removed."), 4000);
        showRunEnded();
        break;
    }
    result.atMs = readingClock.elapsed();
    return result;
}
