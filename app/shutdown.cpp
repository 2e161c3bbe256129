// Closing the window: values saved, instruments left safe, pollers stopped.
#include "tempsensor.h"

#include "settingskeys.h"

#include "liveview.h"
#include "operatordialogs.h"

#include <QCloseEvent>
#include <QSettings>

void TempSensor::saveSettings()
{
    settings->setValue(QLatin1String(settingskeys::kLastUnit), pressureUnitFactor);
    settings->setValue(QLatin1String(settingskeys::kLastManualT), ui.setT->value());
    settings->setValue(QLatin1String(settingskeys::kLastPMin), ui.autoPminEdit->value());
    settings->setValue(QLatin1String(settingskeys::kLastPMax), ui.autoPmaxEdit->value());
    settings->setValue(QLatin1String(settingskeys::kLastPDelta), ui.autoPdeltaEdit->value());
    settings->setValue(QLatin1String(settingskeys::kLastTMin), ui.autoTminEdit->value());
    settings->setValue(QLatin1String(settingskeys::kLastTMax), ui.autoTmaxEdit->value());
    settings->setValue(QLatin1String(settingskeys::kLastTDelta), ui.autoTdeltaEdit->value());
    settings->setValue(QLatin1String(settingskeys::kLastPresetPath), presetPath);
    // A close during the waits that follow a new address comes before the
    // address is stored there.
    if (addressAccepted)
        settings->setValue(QLatin1String(settingskeys::kBoxAddress), boxAddress);
    if (liveView && liveView->isVisible())
        liveView->saveGeometryToSettings();
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
    cancelNetworkExchange();
    walkingAtClose = walking;
    statusBar()->showMessage(shuttingDown, 3000);
    pulseSequence->forgetPendingAnswer();
    setPointRetries.closing();
    runController.close();
    event->accept();
    exitAfterCommands = true;
    commands.cancelPending();
    carryOutRunCommands();
}
