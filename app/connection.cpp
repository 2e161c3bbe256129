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
        if (!tempWorker) {
            tempWorker = new WorkerThread(boxAddress, this);
            connect(tempWorker, SIGNAL(finished()), tempWorker, SLOT(deleteLater()));
            connect(tempWorker, SIGNAL(valueChangedT(float)), this, SLOT(updateTemp(float)));
            connect(tempWorker, SIGNAL(checkSignal()), this, SLOT(autoCheck()));
            connect(tempWorker, SIGNAL(connectionLost()), this, SLOT(tempCheckConnection()));
            connect(tempWorker, SIGNAL(debugSignal(QString)), this, SLOT(connectionDebug(QString)));
            tempWorker->start(QThread::InheritPriority);

            o2Worker = new workerO2(boxAddress, this);
            connect(o2Worker, SIGNAL(finished()), o2Worker, SLOT(deleteLater()));
            connect(o2Worker, SIGNAL(valueChangedO2(float, float)), this,
                    SLOT(updateCurO2(float, float)));
            o2Worker->start(QThread::InheritPriority);

            n2Worker = new workerN2(boxAddress, this);
            connect(n2Worker, SIGNAL(finished()), n2Worker, SLOT(deleteLater()));
            connect(n2Worker, SIGNAL(valueChangedN2(float, float)), this,
                    SLOT(updateCurN2(float, float)));
            n2Worker->start(QThread::InheritPriority);

            ui.actioninitTempCtrl->setEnabled(true);
        } else {
            // Counted pauses: a command under way keeps its pollers paused
            // until it is done, even when the address changes meanwhile.
            const QList<BoxPoller*> pollers{tempWorker, n2Worker, o2Worker};
            for (BoxPoller* poller : pollers)
                commands.pausePoller(poller);
            for (BoxPoller* poller : pollers)
                if (poller)
                    poller->setHostAddress(boxAddress);
            for (BoxPoller* poller : pollers)
                commands.resumePoller(poller);
        }
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
    const QString address = tempWorker ? tempWorker->hostAddress() : boxAddress;
    recordEvent(history::EventKind::ConnectionLost,
                QStringLiteral("Can't connect to calibration box: %1").arg(address));
    // Before the message: its event loop may already bring the box back (the
    // poller tries again on its own), and readings from before the loss must
    // not stand behind a record.
    runController.boxLost(readingClock.elapsed());
    setControlsEnabled(false);
    connectionOk = false;
    setPointRetries.hold(true);
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

void TempSensor::pauseFlowPollers()
{
    commands.pausePoller(n2Worker);
    commands.pausePoller(o2Worker);
}

void TempSensor::resumeFlowPollers()
{
    commands.resumePoller(n2Worker);
    commands.resumePoller(o2Worker);
}
