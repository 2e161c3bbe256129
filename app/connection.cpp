// Connecting to the box: the address dialog, the three pollers and a lost box.
#include "tempsensor.h"

#include "settingskeys.h"

#include "ipv4address.h"
#include "operatordialogs.h"

#include <QSettings>

void TempSensor::setIPAddress()
{
    boxAddress =
        settings->value(QLatin1String(settingskeys::kBoxAddress), "192.168.1.251").toString();
    bool ok = false;
    const QString text = OperatorDialogs::instance().getText(
        this, tr("IP Settings "), tr("CalibrationBox IP Address:"), QLineEdit::Normal, boxAddress,
        &ok, Qt::WindowFlags(), Qt::ImhNone);

    if (ok && ipv4::isDottedAddress(text)) {
        boxAddress = ipv4::plainDecimal(text);
        addressAccepted = true;
        const bool first = !session->hasPollers();
        session->connectTo(boxAddress);
        if (first)
            ui.actioninitTempCtrl->setEnabled(true);
        waitProcessingEvents(200);
        if (connectionOk)
            turnGas(true);
        settings->setValue(QLatin1String(settingskeys::kBoxAddress), boxAddress);
        settings->sync();
        return;
    }

    if (!text.isEmpty())
        OperatorDialogs::instance().warning(
            nullptr, QStringLiteral("Warning"),
            QStringLiteral("The IP address <i>\"%1\"</i> is wrong!").arg(text), QMessageBox::Ok,
            QMessageBox::NoButton);
    setControlsEnabled(false);
}

void TempSensor::tempCheckConnection()
{
    const QString address = session->temperaturePollerAddress();
    // Before the message: its event loop may already bring the box back (the
    // poller tries again on its own).
    setControlsEnabled(false);
    connectionOk = false;
    // One message at a time: a loss while it is open is a loss it reports.
    if (connectionMessageOpen)
        return;
    connectionMessageOpen = true;
    OperatorDialogs::instance().critical(
        nullptr, QStringLiteral("Connection problem"),
        QStringLiteral("Can't connect to calibration box: <b>%1</b>").arg(address), QMessageBox::Ok,
        QMessageBox::NoButton);
    connectionMessageOpen = false;
}
