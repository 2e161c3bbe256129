// The box's own network settings, through its serial device server's web forms.
#include "tempsensor.h"

#include "finddialog.h"

#include <QStatusBar>

void TempSensor::changeIP()
{
    // The readings run on the dialog's exchange thread while this waits in the
    // event loop, so readings, a run's steps and a close go on meanwhile.
    const QString reading = tr("Reading the box's network settings...");
    readingNetworkSettings = true;
    enableRunLockedActions();
    statusBar()->showMessage(reading);
    if (!findDialog)
        findDialog = new FindDialog(boxAddress, this, webFormPort, webFormTransferLimitMs);
    else
        // The operator may have connected to another box since: never
        // reconfigure the old one.
        findDialog->setBoxAddress(boxAddress);
    // A close cancels the reading under way; the next one is not started.
    if (!session->closing())
        findDialog->readNetworkSettings();
    if (statusBar()->currentMessage() == reading)
        statusBar()->clearMessage();
    if (!session->closing())
        waitProcessingEvents(500);
    readingNetworkSettings = false;
    enableRunLockedActions();
    // A run started meanwhile keeps the box's settings locked.
    if (session->closing() || ui.autoStartButton->isChecked())
        return;
    findDialog->setModal(true);
    findDialog->show();
}

void TempSensor::cancelNetworkExchange()
{
    // The dialog may still be reading in its constructor, before findDialog
    // points to it.
    if (auto* dialog = findChild<FindDialog*>(QString(), Qt::FindDirectChildrenOnly))
        dialog->cancelExchange();
}
