// Closing the window: values saved, instruments left safe, pollers stopped.
#include "tempsensor.h"

#include "operatordialogs.h"

#include <QCloseEvent>
#include <QSettings>

void TempSensor::saveSettings()
{
    settings->setValue(QStringLiteral("LAST_UNIT"), pressureUnitFactor);
    settings->setValue(QStringLiteral("LAST_MANUAL_T"), ui.setT->value());
    settings->setValue(QStringLiteral("LAST_P_MIN"), ui.autoPminEdit->value());
    settings->setValue(QStringLiteral("LAST_P_MAX"), ui.autoPmaxEdit->value());
    settings->setValue(QStringLiteral("LAST_P_DELTA"), ui.autoPdeltaEdit->value());
    settings->setValue(QStringLiteral("LAST_T_MIN"), ui.autoTminEdit->value());
    settings->setValue(QStringLiteral("LAST_T_MAX"), ui.autoTmaxEdit->value());
    settings->setValue(QStringLiteral("LAST_T_DELTA"), ui.autoTdeltaEdit->value());
    settings->setValue(QStringLiteral("LAST_PRESET_PATH"), presetPath);
    // A close during the waits that follow a new address comes before the
    // address is stored there.
    if (addressAccepted)
        settings->setValue(QStringLiteral("CALBOX_IP"), boxAddress);
    // The process ends without destructors, so the store is written now.
    settings->sync();
}

void TempSensor::closeEvent(QCloseEvent* event)
{
    saveSettings();
    const QString shuttingDown = tr("Shutting down, please wait...");
    const bool walking = runController.walking();
    if (walking) {
        const QMessageBox::StandardButton answer = OperatorDialogs::instance().warning(
            nullptr, tr("Close Baroterm"),
            tr("Are you sure you want to close program during calibration?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    // A command under way below this ends as soon as it can; the run
    // controller's closing commands follow it, then the process ends.
    ++stopCount;
    closing = true;
    walkingAtClose = walking;
    statusBar()->showMessage(shuttingDown, 3000);
    cameraReady = true;
    runController.close();
    event->accept();
    exitAfterCommands = true;
    commands.cancelPending();
    carryOutRunCommands();
}
