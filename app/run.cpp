// The calibration run as the window shows it: the plan in the widgets goes to
// the session as a run set-up; Start and Stop go to the session; the window
// shows what the run does.
#include "tempsensor.h"

#include "operatordialogs.h"

#include <QApplication>
#include <QSignalBlocker>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const char* const kStoppedReadoutStyle = "color:gray;background-color:none";

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
    for (QWidget* w : {static_cast<QWidget*>(ui.groupBox_4), static_cast<QWidget*>(ui.groupBox_5),
                       static_cast<QWidget*>(ui.rpBox)})
        w->setEnabled(!on);
    enableRunLockedActions();
}

BoxSession::RunSetup TempSensor::runSetup() const
{
    BoxSession::RunSetup setup;
    run::Plan& plan = setup.plan;
    plan.temperatureAxisOn = temperatureSweepOn;
    plan.temperature = {tStart, tEnd, tDelta, tPoints};
    plan.pressureAxisOn = pressureSweepOn;
    plan.pressure = {pStart, pEnd, pDelta, pPoints};
    plan.unitFactor = pressureUnitFactor;
    plan.referencePointOn = ui.rpBox->isChecked();
    plan.referenceT = refT;
    plan.referenceP = refP;
    plan.writeLog = session->model().logging();
    plan.gasOff = session->model().gasOff();
    setup.pulses = pulseSettings();
    setup.logFormat = logFormat();
    setup.journal = journalContents();
    return setup;
}

void TempSensor::autoStartCalibration(bool on)
{
    showRunControls(on);

    if (on) {
        ui.autoStartButton->setText(tr("Stop"));
        if (temperatureSweepOn) {
            ui.progressBarT->setRange(0, tPoints);
            ui.progressBarT->setValue(0);
        }
        if (pressureSweepOn)
            ui.progressBarP->setRange(0, pPoints);

        BoxSession::RunSetup setup = runSetup();
        useInstrumentTable(setup);
        // Taken now: a Start that fails below is a fresh run next time.
        const std::optional<records::ResumeDecision> resume = std::move(pendingResume);
        pendingResume.reset();
        if (resume && setup.plan.writeLog) {
            setup.plan.firstPoint = resume->pointIndex;
            // Every point recorded: the run only ends.
            if (resume->kind == records::ResumeDecision::Complete)
                setup.plan.referencePointOn = false;
            setup.resume = resume;
        }
        QString error;
        if (!session->startRun(setup, &error)) {
            {
                const QSignalBlocker blocker(ui.autoStartButton);
                ui.autoStartButton->setChecked(false);
            }
            showRunControls(false);
            ui.autoStartButton->setText(tr("Start"));
            // The last run is still ending (or the window closing): Start
            // again later. Logs that can't be prepared are given up with
            // nothing sent.
            if (!error.isEmpty())
                refuseLogFile(
                    resume ? tr("Warning: the interrupted run can't be resumed: %1").arg(error)
                           : error);
        }
        return;
    }

    // A command under way sees this and ends as soon as it can.
    session->stop();
}

void TempSensor::showRunEnded()
{
    // The run may have ended by itself: the button follows without asking
    // for a stop again.
    {
        const QSignalBlocker blocker(ui.autoStartButton);
        ui.autoStartButton->setChecked(false);
    }
    showRunControls(false);
    ui.groupBox_4->setChecked(false);
    ui.logNameEdit->clear();
    endOfRunBeep();
    ui.autoStartButton->setText(tr("Start"));
    ui.curT->setStyleSheet(QString::fromLatin1(kStoppedReadoutStyle));
    ui.curP->setStyleSheet(QString::fromLatin1(kStoppedReadoutStyle));
}

void TempSensor::autoCheck()
{
    colourReadouts();
}
