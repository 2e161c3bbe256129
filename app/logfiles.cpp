// The calibration log and the raw gas log beside it.
#include "tempsensor.h"

#include "logfiles.h"
#include "operatordialogs.h"
#include "units.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>

namespace {

QString logDialogStartFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\");
#else
    return QDir::homePath();
#endif
}

} // namespace

void TempSensor::setLogFile(bool on)
{
    // Every change of the box comes here, the operator's and the window's own.
    session->model().setLogging(on);
    if (on) {
        chooseLogFile();
    } else {
        ui.logNameEdit->clear();
        logLock.release();
    }
}

void TempSensor::chooseLogFile()
{
    const QString chosen = OperatorDialogs::instance().getSaveFileName(
        this, tr("Select pt-log file name and format"), logDialogStartFolder(),
        QStringLiteral("*.csv;;*.cls"), &logFilter, QFileDialog::Options());
    if (chosen.isEmpty()) {
        // Nothing will be written, so the box must not look as if it were.
        refuseLogFile(records::logStatusMessage(records::LogStatus::CantOpenLog));
        return;
    }

    const records::LogFileNames names = records::logFileNamesFor(chosen, logFilter);
    // Another run's log: not a byte of it may be touched.
    if (logLock.acquire(names.log) == records::LogLock::State::Busy) {
        refuseLogFile(tr("Warning: %1 is being written by another run.").arg(names.log));
        return;
    }
    // The dialog asked about replacing the name it showed; a name the layout
    // changed may be another operator's file.
    if (names.log != records::nativePath(chosen) && QFileInfo::exists(names.log)) {
        const QMessageBox::StandardButton answer = OperatorDialogs::instance().question(
            this, tr("Replace log file"),
            tr("%1 already exists.\nDo you want to replace it?").arg(names.log),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            refuseLogFile(QString());
            return;
        }
    }

    pendingResume.reset();
    if (QFileInfo::exists(records::journalPathFor(names.log)) && offerResume(names))
        return;

    session->log().setFiles(names);
    ui.logNameEdit->setText(names.log);
    const records::LogStatus status = session->log().log().create(logFormat());
    if (status != records::LogStatus::Ok) {
        showWarningStatus(records::logStatusMessage(status), 4000);
        ui.groupBox_4->setChecked(false);
    }
}

void TempSensor::refuseLogFile(const QString& warning)
{
    session->log().setFiles({});
    ui.groupBox_4->setChecked(false);
    ui.logNameEdit->clear();
    if (!warning.isEmpty())
        showWarningStatus(warning, 4000);
}

records::LogFormat TempSensor::logFormat() const
{
    return {records::layoutFromFilter(logFilter), ui.colorSelectcheckBox->isChecked(),
            pressureUnitFactor};
}

bool TempSensor::offerResume(const records::LogFileNames& names)
{
    OperatorDialogs& dialogs = OperatorDialogs::instance();
    const QString title = tr("Resume run");
    const records::ResumeFiles files = records::resumeFilesFor(names.log);
    const records::ResumeDecision decision = records::decideResume(files);
    records::RunJournal journal;
    if (decision.kind == records::ResumeDecision::Refuse || !journal.open(files.journal)) {
        // Nothing is written: the operator decides what becomes of the files.
        dialogs.warning(this, title,
                        tr("The interrupted run of %1 cannot be resumed: %2")
                            .arg(names.log, decision.kind == records::ResumeDecision::Refuse
                                                ? decision.message
                                                : journal.errorString()),
                        QMessageBox::Ok, QMessageBox::Ok);
        refuseLogFile(QString());
        return true;
    }
    if (dialogs.question(this, title, decision.question(), QMessageBox::Yes | QMessageBox::No,
                         QMessageBox::Yes) != QMessageBox::Yes) {
        // A new run in this file: the old journal must not describe it.
        journal.remove();
        return false;
    }
    showJournalPlan(journal.contents().plan);
    session->log().setFiles(files.logs);
    ui.logNameEdit->setText(files.logs.log);
    if (!decision.imagesWarning().isEmpty())
        dialogs.warning(this, title, decision.imagesWarning(), QMessageBox::Ok, QMessageBox::Ok);
    pendingResume = decision;
    ui.autoStartButton->setChecked(true);
    return true;
}

void TempSensor::showJournalPlan(const records::JournalPlan& plan)
{
    // The unit first: changing it resets the pressure inputs set below.
    previousUnitFactor = pressureUnitFactor;
    pressureUnitFactor = plan.unitFactor;
    if (pressureUnitFactor != previousUnitFactor)
        applyUnitRanges();
    logFilter =
        plan.layout == records::LogLayout::Csv ? QStringLiteral("*.csv") : QStringLiteral("*.cls");
    ui.colorSelectcheckBox->setChecked(plan.color);
    pulsesPerPoint = plan.pulsesPerPoint;
    delayBetweenPulses = plan.delayBetweenPulsesS;
    waitBeforePulse = plan.waitBeforePulseS;
    extraWaitForZeroP = plan.extraWaitAtZeroS;
    ui.actionSet_Camera_Feedback->setChecked(plan.cameraFeedback);
    pulseWidthText = plan.pulseWidth;
    tellPulseSettings();

    ui.useT->setChecked(plan.temperature.on);
    ui.autoTminEdit->setValue(plan.temperature.from);
    ui.autoTmaxEdit->setValue(plan.temperature.to);
    ui.autoTdeltaEdit->setValue(plan.temperature.step);
    ui.useP->setChecked(plan.pressure.on);
    ui.autoPminEdit->setValue(plan.pressure.from);
    ui.autoPmaxEdit->setValue(plan.pressure.to);
    ui.autoPdeltaEdit->setValue(plan.pressure.step);

    // Checking the box would ask for the reference point again.
    const QSignalBlocker blocker(ui.rpBox);
    ui.rpBox->setChecked(plan.referencePointOn);
    refT = plan.referenceT;
    refP = plan.referenceP;
}

records::JournalContents TempSensor::journalContents() const
{
    records::JournalContents contents;
    records::JournalPlan& plan = contents.plan;
    plan.temperature = {temperatureSweepOn, ui.autoTminEdit->value(), ui.autoTmaxEdit->value(),
                        ui.autoTdeltaEdit->value(), temperatureSweepOn ? int(tPoints) : 0};
    plan.pressure = {pressureSweepOn, ui.autoPminEdit->value(), ui.autoPmaxEdit->value(),
                     ui.autoPdeltaEdit->value(), pressureSweepOn ? int(pPoints) : 0};
    plan.unitFactor = pressureUnitFactor;
    plan.layout = records::layoutFromFilter(logFilter);
    plan.color = ui.colorSelectcheckBox->isChecked();
    plan.pulsesPerPoint = pulsesPerPoint;
    plan.delayBetweenPulsesS = delayBetweenPulses;
    plan.waitBeforePulseS = waitBeforePulse;
    plan.extraWaitAtZeroS = extraWaitForZeroP;
    plan.cameraFeedback = ui.actionSet_Camera_Feedback->isChecked();
    plan.pulseWidth = pulseWidthText;
    plan.referencePointOn = ui.rpBox->isChecked();
    plan.referenceT = refT;
    plan.referenceP = refP;
    contents.boxAddress = boxAddress;
    contents.logs = session->log().files();
    return contents;
}

void TempSensor::journalFailed(const QString& text)
{
    showWarningStatus(text, 10000);
    // The Stop: the run's end removes the journal that no longer follows it.
    if (ui.autoStartButton->isChecked())
        ui.autoStartButton->setChecked(false);
}
