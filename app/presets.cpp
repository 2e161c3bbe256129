// Preset files: the whole working set saved to and loaded from an INI file.
#include "tempsensor.h"

#include "logfiles.h"
#include "operatordialogs.h"
#include "presetfile.h"

void TempSensor::savePresets()
{
    // A private filter state: the log's layout must not follow this dialog.
    QString presetFilter;
    const QString chosen = OperatorDialogs::instance().getSaveFileName(
        this, tr("Save Config File"), presetPath, QStringLiteral("*.ini"), &presetFilter,
        QFileDialog::Options());
    if (chosen.isEmpty())
        return; // cancelled: the path and every value stay as they are
    presetPath = records::nativePath(chosen);

    records::PresetValues values;
    if (!records::unitsTextForFactor(pressureUnitFactor).isEmpty())
        values.unitFactor = pressureUnitFactor;
    values.waitBeforePulse = waitBeforePulse;
    values.extraWaitBeforeZero = extraWaitForZeroP;
    values.waitCameraFeedback = ui.actionSet_Camera_Feedback->isChecked();
    values.delayBetweenPulses = delayBetweenPulses;
    values.pulseWidth = pulseWidthText;
    values.manualT = ui.setT->value();
    values.manualP = ui.setPValue->value();
    values.autoPOn = ui.useP->isChecked();
    values.autoPFrom = ui.autoPminEdit->value();
    values.autoPTo = ui.autoPmaxEdit->value();
    values.autoPDelta = ui.autoPdeltaEdit->value();
    values.autoTOn = ui.useT->isChecked();
    values.autoTFrom = ui.autoTminEdit->value();
    values.autoTTo = ui.autoTmaxEdit->value();
    values.autoTDelta = ui.autoTdeltaEdit->value();
    values.addRefP = ui.rpBox->isChecked();
    if (!records::writePreset(presetPath, values))
        showWarningStatus(tr("Warning: Can't write preset file."), 4000);
}

void TempSensor::loadPresets()
{
    QString presetFilter;
    const QString chosen = OperatorDialogs::instance().getOpenFileName(
        this, tr("Load Config File "), presetPath, QStringLiteral("*.ini"), &presetFilter,
        QFileDialog::Options());
    if (chosen.isEmpty())
        return; // cancelled: the sweep plan is not wiped by defaults
    presetPath = records::nativePath(chosen);
    const records::PresetReadResult read = records::readPreset(presetPath);
    const records::PresetValues& values = read.values;

    // The unit first: changing it resets the pressure inputs, which the
    // values below then override.
    previousUnitFactor = pressureUnitFactor;
    if (values.unitFactor)
        pressureUnitFactor = *values.unitFactor;
    if (pressureUnitFactor != previousUnitFactor)
        applyUnitRanges();

    waitBeforePulse = values.waitBeforePulse;
    extraWaitForZeroP = values.extraWaitBeforeZero;
    ui.actionSet_Camera_Feedback->setChecked(values.waitCameraFeedback);
    if (read.pulseWidthRejected)
        showWarningStatus(
            records::rejectedPulseWidthMessage(read.rejectedPulseWidth, pulseWidthText), 4000);
    else
        pulseWidthText = values.pulseWidth;
    delayBetweenPulses = values.delayBetweenPulses;

    ui.setT->setValue(values.manualT);
    ui.setPValue->setValue(values.manualP);

    ui.useP->setChecked(values.autoPOn);
    ui.autoPminEdit->setValue(values.autoPFrom);
    ui.autoPmaxEdit->setValue(values.autoPTo);
    ui.autoPdeltaEdit->setValue(values.autoPDelta);

    ui.useT->setChecked(values.autoTOn);
    ui.autoTminEdit->setValue(values.autoTFrom);
    ui.autoTmaxEdit->setValue(values.autoTTo);
    ui.autoTdeltaEdit->setValue(values.autoTDelta);

    ui.rpBox->setChecked(values.addRefP);
    tellPulseSettings();
}
