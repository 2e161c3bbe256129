// Gas commands: the N2/O2 set points, gas on and off, the flow controllers'
// initialisation, and the flow readings turned into an air pressure.
#include "tempsensor.h"

#include "boxcommands.h"
#include "boxlink.h"
#include "flowprotocol.h"
#include "gasmix.h"
#include "operatordialogs.h"

#include <QElapsedTimer>
#include <QTcpSocket>

#include <cmath>

void TempSensor::setGas()
{
    session->setGas();
}

void TempSensor::setPressure(float slpm, uchar id)
{
    session->setFlow(slpm, id);
}

// The command's own socket drains the reply now; the slot keeps its place.
void TempSensor::readPressureSet() {}

void TempSensor::getPressure()
{
    if (pollSocket)
        pollSocket->deleteLater();
    QPointer<QTcpSocket> socket = new QTcpSocket(this);
    pollSocket = socket;
    connect(socket, SIGNAL(readyRead()), this, SLOT(readPressureDataN2()));
    boxlink::connectToBox(socket, boxAddress, boxlink::kN2Port);
    boxlink::sendFrame(socket, flow::windowPollFrame(), boxlink::kOneShotFlowPoll.connectMs,
                       boxlink::kOneShotFlowPoll.writeMs);
}

void TempSensor::readPressureDataN2()
{
    QPointer<QTcpSocket> socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        socket = pollSocket;
    if (!socket)
        return;
    QByteArray reply;
    qint64 available = socket->bytesAvailable();
    while (available > 0) {
        if (!socket || !socket->isValid()) {
            OperatorDialogs::instance().warning(
                this, QStringLiteral("Warning"),
                QStringLiteral("Socket is not valid to read data from"), QMessageBox::Ok,
                QMessageBox::NoButton);
            break;
        }
        const QByteArray chunk = socket->read(available);
        if (chunk.size() < 1) {
            qDebug("read bytes count is not valid !!");
        } else {
            reply += chunk;
            boxlink::processEventsFor(100);
        }
        available = socket ? socket->bytesAvailable() : 0;
    }
    // Nothing is read from the reply: the pollers report the flows.
}

// Gas selection over the temperature controller's port would put ASCII on a
// Modbus line; nothing asks for it, so these slots keep their place only.
void TempSensor::setGas(uint) {}
void TempSensor::readGas() {}
void TempSensor::setO2() {}

void TempSensor::turnGas(bool off)
{
    showGasState(off);
    setGas();
    showGasStyle(off);
}

void TempSensor::showGasState(bool off)
{
    session->setGasOff(off);
    if (!session->walking())
        ui.setN2Button->setEnabled(!off);
    if (off) {
        ui.gasButton->setChecked(true);
        ui.gasButton->setText(tr("Gas OFF"));
    } else {
        ui.gasButton->setText(tr("Gas ON"));
        ui.gasButton->setChecked(false);
    }
}

void TempSensor::showGasStyle(bool off)
{
    ui.gasButton->setStyleSheet(off ? QStringLiteral("color:black;background-color: red")
                                    : QStringLiteral("background-color:none"));
}

void TempSensor::initO2()
{
    session->initialiseFlows();
}

void TempSensor::updateCurN2(float, float massFlow)
{
    ui.curPN2_->setText(gasmix::flowText(massFlow));
}

void TempSensor::updateCurO2(float, float massFlow)
{
    ui.curPO2_->setText(gasmix::flowText(massFlow));
    // From the flows as the readouts show them, as the session computes it.
    const float airPressure =
        gasmix::equivalentAirPressure(ui.curPN2_->text().toDouble(), ui.curPO2_->text().toDouble());
    ui.curP->setText(gasmix::pressureText(airPressure, pressureUnitFactor));
    const run::RunController& runController = session->controller();
    const bool valid = ui.curP->text() != QLatin1String("n/a");

    const int pIndex = runController.pressureIndex();
    const int pSteps = runController.pressurePoints();
    const float target = float(pIndex) * pDelta + pStart;
    ui.progressBarP->setFormat(QString::number(pressureUnitFactor * double(target), 'f', 1));
    ui.progressBarP->setValue(pIndex);
    ui.progressBarP->setTextVisible(true);

    if (valid && pIndex == pSteps && runController.walking()) {
        ui.progressBarP->setValue(pSteps);
        ui.progressBarP->setTextVisible(false);
    }
}

void TempSensor::updateCurO2_(QString text)
{
    OperatorDialogs::instance().warning(this, QStringLiteral("Temperature"), text, QMessageBox::Ok,
                                        QMessageBox::NoButton);
}
