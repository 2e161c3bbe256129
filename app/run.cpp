// The calibration run: starting and stopping it, and one step per temperature
// reading.
#include "tempsensor.h"

#include "sweep.h"

#include <QApplication>

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

// Marks a run step as under way for as long as it lives.
class StepInProgress
{
public:
    explicit StepInProgress(bool& flag) : m_flag(flag), m_previous(flag) { m_flag = true; }
    ~StepInProgress() { m_flag = m_previous; }
    StepInProgress(const StepInProgress&) = delete;
    StepInProgress& operator=(const StepInProgress&) = delete;

private:
    bool& m_flag;
    bool m_previous;
};

} // namespace

void TempSensor::setPressurePoint(int index)
{
    ui.setPValue->setValue(sweep::pressurePointDisplay(index, pStart, pDelta, pressureUnitFactor));
}

bool TempSensor::recordAndPulsePoint()
{
    // A record pairs the images with what the box holds now: flows read
    // before the last change, or by a controller that has since gone quiet,
    // would put a pressure into the log that the sample never saw.
    if (!flowReadingsCurrent()) {
        statusBar()->showMessage(tr("Waiting for current flow readings"), 2000);
        return false;
    }
    // A pressure step has also just sent the point's set points again: when
    // an earlier send was lost (a refused or dropped connection) while the
    // polls went on, this send changes the flows only now, after the readings
    // were made. And at 0 bar the pressure is reached with any N2 flow, so it
    // says nothing of an N2 flow still on its way up from gas off.
    if (pressureSweepOn && !flowsSettledAtSetPointsSent()) {
        statusBar()->showMessage(tr("Waiting for the flows to settle"), 2000);
        return false;
    }
    const QString where = tr("@ T:%1 P:%2")
                              .arg(ui.curT->text().toDouble(), 0, 'f', 1)
                              .arg(ui.curP->text().toDouble(), 0, 'f', 1);
    // Pulses without their record would give the camera an image no record
    // names, and every later record would name the previous point's images.
    if (!writeCalibrationRecord()) {
        showWarningStatus(tr("Warning: Can't write log record %1, point repeated.").arg(where),
                          4000);
        return false;
    }
    const int stopsBefore = stopCount;
    doPulse();
    const bool stopped = stopCount != stopsBefore;
    if (lastSequencePulsesSent > 0)
        return !stopped;
    // Not one pulse reached the generator, so the camera took no image here: a
    // record naming those images would be false, and every later image number
    // would be one ahead of the camera's. The record goes and the point is
    // repeated at the next reading (unless the run was stopped meanwhile).
    const qint16 number = lastRecord.number;
    if (!withdrawLastRecord()) {
        if (!stopped)
            ui.autoStartButton->setChecked(false);
        showWarningStatus(tr("Warning: Can't take back log record %1, run stopped.").arg(number),
                          4000);
        return false;
    }
    if (!stopped)
        showWarningStatus(
            tr("Warning: Can't reach the pulse generator %1, point repeated.").arg(where), 4000);
    return false;
}

void TempSensor::autoStartCalibration(bool on)
{
    // Readings that arrive while the run starts or stops must not run a step
    // on half-set state.
    StepInProgress step(runStepInProgress);

    recordCounter = 0;
    pIndex = 0;
    if (!pressureSweepOn) {
        pSteps = 0;
        pressureReached = true;
    }
    if (!temperatureSweepOn)
        tSteps = 0;
    for (QWidget* w :
         {static_cast<QWidget*>(ui.setTempButton), static_cast<QWidget*>(ui.setN2Button),
          static_cast<QWidget*>(ui.useP), static_cast<QWidget*>(ui.useT),
          static_cast<QWidget*>(ui.setPValue), static_cast<QWidget*>(ui.setT)})
        w->setEnabled(!on);
    cameraReady = true;
    for (QWidget* w : {static_cast<QWidget*>(ui.groupBox_4), static_cast<QWidget*>(ui.groupBox_5),
                       static_cast<QWidget*>(ui.rpBox)})
        w->setEnabled(!on);
    enableRunLockedActions();

    if (on) {
        // A reference point left over from an earlier run must not be recorded in this one.
        refMode = refTReached = refPReached = false;
        ui.autoStartButton->setText(tr("Stop"));
        running = true;
        if (temperatureSweepOn) {
            tIndex = 0;
            tSteps = tPoints;
            ui.setT->setValue(tStart);
            setTemperature();
            ui.progressBarT->setRange(0, tSteps);
            ui.progressBarT->setValue(0);
        } else {
            temperatureReached = true;
        }
        if (pressureSweepOn) {
            pIndex = 0;
            pSteps = pPoints;
            ui.progressBarP->setRange(0, pSteps);
            setPressurePoint(0);
            setGas();
        } else {
            pressureReached = true;
        }
        waitProcessingEvents(100);
        return;
    }

    // A step or pulse sequence under way sees this and moves nothing more,
    // and a reference point not yet recorded is not visited any more.
    ++stopCount;
    refMode = refTReached = refPReached = false;
    ui.groupBox_4->setChecked(false);
    ui.logNameEdit->clear();
    endOfRunBeep();
    running = false;
    ui.autoStartButton->setText(tr("Start"));
    ui.curT->setStyleSheet(QString::fromLatin1(kStoppedReadoutStyle));
    ui.curP->setStyleSheet(QString::fromLatin1(kStoppedReadoutStyle));
    if (pressureSweepOn)
        turnGas(true);
    ui.setT->setValue(tStart);
    waitProcessingEvents(100);
    setTemperature();
    cameraReady = true;
}

void TempSensor::autoCheck()
{
    colourReadouts();
    // Every wait below processes events, so a reading queued before a poller
    // was paused could start a second step inside this one and record the
    // same point twice.
    if (runStepInProgress)
        return;
    StepInProgress step(runStepInProgress);
    // Every wait below lets the operator stop the run or close the window.
    const int stopsBefore = stopCount;
    auto stopped = [this, stopsBefore] { return stopCount != stopsBefore; };

    if (refMode && refTReached && ui.gasButton->isChecked())
        turnGas(false);
    if (stopped())
        return;

    if (refMode && refTReached && refPReached) {
        if (!recordAndPulsePoint())
            return;
        ui.autoStartButton->setChecked(false);
        refMode = refTReached = refPReached = false;
    }

    if (tIndex >= tSteps && pIndex >= pSteps && running) {
        running = false;
        if (!ui.rpBox->isChecked()) {
            ui.autoStartButton->setChecked(false);
            return;
        }
        turnGas(true);
        if (stopped())
            return;
        refMode = true;
        ui.setT->setValue(refT);
        waitProcessingEvents(200);
        if (stopped()) {
            refMode = false;
            return;
        }
        setTemperature();
        ui.setPValue->setValue(refP);
        return;
    }

    if (temperatureReached && cameraReady && running && !pressureReached)
        turnGas(false);

    if (!(pressureReached && temperatureReached && cameraReady) || stopped())
        return;

    if (pressureSweepOn && running)
        turnGas(false);

    if (pIndex < pSteps && pressureSweepOn && running && !stopped()) {
        if (!recordAndPulsePoint() || stopped())
            return;
        pIndex += 1;
        pressureReached = false;
        if (pIndex >= pSteps)
            return;
        if (tempWorker)
            tempWorker->pausePolling();
        waitProcessingEvents(2000);
        if (tempWorker)
            tempWorker->resumePolling();
        waitProcessingEvents(200);
        if (stopped())
            return;
        setPressurePoint(pIndex);
        setGas();
        return;
    }

    if (tIndex >= tSteps || !temperatureSweepOn || stopped())
        return;
    if (!pressureSweepOn && running) {
        if (!recordAndPulsePoint() || stopped())
            return;
    }
    tIndex += 1;
    if (tIndex < tSteps) {
        pIndex = 0;
        if (pressureSweepOn) {
            setPressurePoint(0);
            setGas();
        }
    }
    if (!ui.useP->isChecked()) {
        if (tempWorker)
            tempWorker->pausePolling();
        waitProcessingEvents(2000);
        if (tempWorker)
            tempWorker->resumePolling();
        waitProcessingEvents(200);
    }
    if (stopped())
        return;
    ui.setT->setValue(sweep::temperaturePoint(tIndex, tStart, tDelta));
    waitProcessingEvents(200);
    if (stopped())
        return;
    temperatureReached = false;
    setTemperature();
    temperatureReached = false;
    if (stopped())
        return;
    if (pressureSweepOn) {
        pressureReached = false;
        turnGas(true);
    }
    pressureReached = false;
}
