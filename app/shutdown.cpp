// Closing the window: values saved, instruments left safe, pollers stopped.
#include "tempsensor.h"

#include "settingskeys.h"

#include "liveview.h"
#include "operatordialogs.h"

#include <QCloseEvent>
#include <QMenuBar>
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
    // Already shutting down: the process ends when the close's commands are done.
    if (session->closing()) {
        event->ignore();
        return;
    }
    saveSettings();
    const QString shuttingDown = tr("Shutting down, please wait...");
    const bool walking = session->controller().walking();
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
    cancelNetworkExchange();
    statusBar()->showMessage(shuttingDown, 3000);
    session->close(walking);
    if (session->hasFinished()) {
        event->accept(); // the process has ended
        return;
    }
    // The close came inside a command that is still under way, so the close's
    // own commands follow it. The window stays until they are done: a hidden
    // last window makes the application quit, and from then on every nested
    // event loop returns at once, so no command could connect or wait.
    event->ignore();
    centralWidget()->setEnabled(false);
    menuBar()->setEnabled(false);
}
