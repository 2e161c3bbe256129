// The box's own network settings, through its serial device server's web forms.
#include "tempsensor.h"

#include "finddialog.h"

void TempSensor::changeIP()
{
    if (!findDialog)
        findDialog = new FindDialog(boxAddress, this, webFormPort);
    else
        // The operator may have connected to another box since: never
        // reconfigure the old one.
        findDialog->setBoxAddress(boxAddress);
    findDialog->readNetworkSettings();
    waitProcessingEvents(500);
    findDialog->setModal(true);
    findDialog->show();
}
