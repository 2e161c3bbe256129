// Temperature commands and the live temperature reading.
#include "tempsensor.h"

#include "boxlink.h"
#include "modbusframes.h"
#include "operatordialogs.h"

#include <QCursor>
#include <QTcpSocket>

#include <cmath>

namespace {

const char* const kInRangeStyle = "color:black;background-color:QLinearGradient( x1: 0, y1: 0, "
                                  "x2: 0, y2: 1, stop: 0 #ffffff, stop: 1 #39db26);";
const char* const kOutOfRangeStyle = "color:black;background-color:QLinearGradient( x1: 0, y1: "
                                     "0, x2: 0, y2: 1, stop: 0 #ffffff, stop: 1 #edf924);";

} // namespace

void TempSensor::initTempCtrl()
{
    statusBar()->showMessage(tr("Please wait, initializing controllers..."), 4000);
    if (tempWorker)
        tempWorker->pausePolling();
    OperatorDialogs::instance().setOverrideCursor(QCursor(Qt::WaitCursor));

    QPointer<QTcpSocket> socket = new QTcpSocket(this);
    tempInitSocket = socket;
    connect(socket, SIGNAL(readyRead()), this, SLOT(readInitTemperatureCtrl()));
    boxlink::connectToBox(socket, boxAddress, boxlink::kTemperaturePort);

    const int frames = int(modbus::kInitialisationWrites.size());
    for (int i = 0; i < frames; ++i) {
        const modbus::RegisterWrite& write = modbus::kInitialisationWrites[size_t(i)];
        if (socket)
            boxlink::sendFrame(socket, modbus::writeRegisterFrame(write.reg, quint16(write.value)),
                               boxlink::kTemperatureInit.connectMs,
                               boxlink::kTemperatureInit.writeMs);
        if (i < frames - 1)
            boxlink::sleepThenProcessEvents(boxlink::kTemperatureInitFramePauseMs);
    }

    initO2();

    OperatorDialogs::instance().restoreOverrideCursor();
    OperatorDialogs::instance().warning(this, tr("Baroterm"), tr("Initialization completed\n"),
                                        QMessageBox::Ok, QMessageBox::NoButton);
    if (socket) {
        socket->close();
        socket->deleteLater();
    }
    if (tempWorker)
        tempWorker->resumePolling();
}

void TempSensor::readInitTemperatureCtrl()
{
    if (auto* socket = qobject_cast<QTcpSocket*>(sender()))
        socket->readAll();
}

void TempSensor::setTemperature()
{
    if (tempWorker)
        tempWorker->pausePolling();
    waitProcessingEvents(100);

    const quint16 value = modbus::encodeTenths(ui.setT->value());
    QPointer<QTcpSocket> socket = new QTcpSocket(this);
    setTempSocket = socket;
    setPointEcho.clear();
    connect(socket, SIGNAL(readyRead()), this, SLOT(readSetTemperatureData()));
    boxlink::connectToBox(socket, boxAddress, boxlink::kTemperaturePort);
    boxlink::sendFrame(socket, modbus::writeRegisterFrame(modbus::kSetPointRegister, value),
                       boxlink::kTemperatureSetPoint.connectMs,
                       boxlink::kTemperatureSetPoint.writeMs);

    // An echo handled during this pass closes the connection, and then the
    // controller is not told to run the new set point: the controller's
    // behaviour depends on exactly this order.
    boxlink::sleepThenProcessEvents(boxlink::kSetPointFirstPauseMs);
    if (socket)
        boxlink::sendFrame(socket, modbus::writeRegisterFrame(modbus::kRunRegister, 1),
                           boxlink::kTemperatureSetPoint.connectMs,
                           boxlink::kTemperatureSetPoint.writeMs);
    waitProcessingEvents(boxlink::kSetPointSecondWaitMs);

    // The port must be free again before the poller comes back.
    if (socket) {
        socket->close();
        socket->deleteLater();
    }
    if (tempWorker)
        tempWorker->resumePolling();
    waitProcessingEvents(100);
}

void TempSensor::readSetTemperatureData()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        socket = setTempSocket;
    if (!socket)
        return;
    const QList<QByteArray> echoes = setPointEcho.feed(socket->readAll());
    for (const QByteArray& echo : echoes) {
        // Only the echo of the set point itself carries a temperature.
        if (modbus::replyRegisterValue(echo, 2) != modbus::kSetPointRegister)
            continue;
        currentT = modbus::decodeTenths(modbus::replyRegisterValue(echo, 4));
        socket->close();
        return;
    }
}

void TempSensor::readTemperatureData() {}

void TempSensor::updateTemp(float t)
{
    setControlsEnabled(true);
    ui.curT->setText(QString::number(double(t), 'f', 1));
    currentT = t;
    lastTemperatureReading = t;
    // The bar shows the point the run waits for as soon as it is reached.
    const int tIndex = runController.temperatureIndex();
    const int tSteps = runController.temperaturePoints();
    if (tIndex == tSteps && tIndex > 0)
        ui.progressBarT->setValue(tSteps);
    if (temperatureSweepOn && runController.walking() && tIndex < tSteps &&
        std::fabs(double(t) - (tIndex * tDelta + tStart)) < 0.09) {
        ui.progressBarT->setFormat(QStringLiteral("%1°").arg(double(t), 0, 'g', 6));
        ui.progressBarT->setValue(tIndex + 1);
        ui.progressBarT->setTextVisible(true);
    }
}

void TempSensor::colourReadouts()
{
    // Re-applying an unchanged style sheet re-polishes the widget on every
    // reading; most of the idle CPU went there.
    auto setStyle = [](QLineEdit* readout, const char* style) {
        const QString sheet = QString::fromLatin1(style);
        if (readout->styleSheet() != sheet)
            readout->setStyleSheet(sheet);
    };
    const bool tInRange = std::fabs(ui.setT->value() - ui.curT->text().toDouble()) < 0.1;
    setStyle(ui.curT, tInRange ? kInRangeStyle : kOutOfRangeStyle);
    const bool pInRange = std::fabs(ui.setPValue->value() - ui.curP->text().toDouble()) < 0.005;
    setStyle(ui.curP, pInRange ? kInRangeStyle : kOutOfRangeStyle);
}
