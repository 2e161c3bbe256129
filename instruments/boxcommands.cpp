#include "boxcommands.h"

#include "boxlink.h"
#include "boxpoller.h"
#include "commandrunner.h"
#include "flowprotocol.h"
#include "modbusframes.h"
#include "setpointretries.h"

#include <QList>
#include <QPair>
#include <QPointer>
#include <QTcpSocket>

#include <memory>

namespace boxcommands {

namespace {

QPointer<QTcpSocket> openSocket(CommandRunner& runner, const QString& host, quint16 port)
{
    QPointer<QTcpSocket> socket = new QTcpSocket(&runner);
    boxlink::connectToBox(socket, host, port);
    return socket;
}

void closeSocket(const QPointer<QTcpSocket>& socket)
{
    if (!socket)
        return;
    socket->close();
    socket->deleteLater();
}

} // namespace

void initialiseTemperature(CommandRunner& runner, const QString& host)
{
    const QPointer<QTcpSocket> socket = openSocket(runner, host, boxlink::kTemperaturePort);
    // The echoes are drained only.
    QObject::connect(socket, &QIODevice::readyRead, socket, [s = socket.data()] { s->readAll(); });
    const int frames = int(modbus::kInitialisationWrites.size());
    for (int i = 0; i < frames; ++i) {
        const modbus::RegisterWrite& write = modbus::kInitialisationWrites[size_t(i)];
        if (socket)
            boxlink::sendFrame(socket, modbus::writeRegisterFrame(write.reg, quint16(write.value)),
                               boxlink::kTemperatureInit.connectMs,
                               boxlink::kTemperatureInit.writeMs);
        if (i < frames - 1)
            boxlink::processEventsFor(runner.waitMs(boxlink::kTemperatureInitFramePauseMs));
    }
    closeSocket(socket);
}

void initialiseFlows(CommandRunner& runner, const QString& host)
{
    const QPointer<QTcpSocket> o2Socket = openSocket(runner, host, boxlink::kO2Port);
    const QPointer<QTcpSocket> n2Socket = openSocket(runner, host, boxlink::kN2Port);
    const QList<QPair<QPointer<QTcpSocket>, QByteArray>> frames = {
        {o2Socket, flow::unitIdFrame()},        {o2Socket, flow::gasSelectFrame(flow::kO2GasIndex)},
        {n2Socket, flow::unitIdFrame()},        {n2Socket, flow::gasSelectFrame(flow::kN2GasIndex)},
        {n2Socket, flow::registerWriteFrame()}, {o2Socket, flow::registerWriteFrame()},
    };
    for (const auto& frame : frames) {
        if (frame.first)
            boxlink::sendFrame(frame.first, frame.second, boxlink::kFlowInit.connectMs,
                               boxlink::kFlowInit.writeMs);
        boxlink::processEventsFor(runner.waitMs(boxlink::kFlowInitFramePauseMs));
    }
    // The pollers need their ports back: many device servers take one
    // connection per port.
    closeSocket(o2Socket);
    closeSocket(n2Socket);
}

std::optional<float> setTemperature(CommandRunner& runner, const QString& host, quint16 tenths,
                                    const std::function<void(float)>& echoed)
{
    const QPointer<QTcpSocket> socket = openSocket(runner, host, boxlink::kTemperaturePort);
    auto echo = std::make_shared<modbus::AnswerAssembler>(modbus::AnswerAssembler::Kind::WriteEcho);
    auto echoedValue = std::make_shared<std::optional<float>>();
    QObject::connect(
        socket, &QIODevice::readyRead, socket, [s = socket.data(), echo, echoed, echoedValue] {
            for (const QByteArray& answer : echo->feed(s->readAll())) {
                // Only the echo of the set point itself carries a temperature.
                if (modbus::replyRegisterValue(answer, 2) != modbus::kSetPointRegister)
                    continue;
                *echoedValue = modbus::decodeTenths(modbus::replyRegisterValue(answer, 4));
                if (echoed)
                    echoed(**echoedValue);
                s->close();
                return;
            }
        });
    boxlink::sendFrame(socket, modbus::writeRegisterFrame(modbus::kSetPointRegister, tenths),
                       boxlink::kTemperatureSetPoint.connectMs,
                       boxlink::kTemperatureSetPoint.writeMs);
    // An echo handled by the end of this wait closes the connection, and then
    // the controller is not told to run the new set point: the controller's
    // behaviour depends on exactly this order.
    boxlink::processEventsFor(runner.waitMs(boxlink::kSetPointFirstPauseMs));
    if (socket)
        boxlink::sendFrame(socket, modbus::writeRegisterFrame(modbus::kRunRegister, 1),
                           boxlink::kTemperatureSetPoint.connectMs,
                           boxlink::kTemperatureSetPoint.writeMs);
    boxlink::processEventsFor(runner.waitMs(boxlink::kSetPointSecondWaitMs));
    // The port must be free again before the poller comes back.
    closeSocket(socket);
    return *echoedValue;
}

void setFlow(CommandRunner& runner, const QString& host, float slpm, uchar id)
{
    const QPointer<QTcpSocket> socket = openSocket(runner, host, flow::port(id));
    // The reply is drained only: the pollers report the flows.
    QObject::connect(socket, &QIODevice::readyRead, socket, [s = socket.data()] {
        s->readAll();
        s->close();
    });
    boxlink::sendFrame(socket, flow::setPointFrame(slpm, id), boxlink::kFlowSetPoint.connectMs,
                       boxlink::kFlowSetPoint.writeMs);
    // Done with at once: a reply that comes later is not read.
    delete socket.data();
}

namespace {
constexpr int kAroundCommandMs = 100;
} // namespace

std::optional<float> sendTemperature(CommandRunner& runner, const QString& host, quint16 tenths,
                                     QPointer<BoxPoller> temperaturePoller,
                                     const std::function<void(float)>& echoed,
                                     SetPointRetries* retries)
{
    runner.pausePoller(temperaturePoller);
    boxlink::processEventsFor(runner.waitMs(kAroundCommandMs));
    if (retries)
        retries->temperatureSending(double(modbus::decodeTenths(tenths)));
    const std::optional<float> echo = setTemperature(runner, host, tenths, echoed);
    if (retries)
        retries->temperatureSent(echo);
    runner.resumePoller(temperaturePoller);
    boxlink::processEventsFor(runner.waitMs(kAroundCommandMs));
    return echo;
}

void sendGas(CommandRunner& runner, const QString& host, float n2, float o2,
             QPointer<BoxPoller> n2Poller, QPointer<BoxPoller> o2Poller,
             const std::function<void()>& sent, SetPointRetries* retries)
{
    runner.pausePoller(n2Poller);
    runner.pausePoller(o2Poller);
    boxlink::processEventsFor(runner.waitMs(kAroundCommandMs));
    if (retries)
        retries->flowsSending(n2, o2);
    setFlow(runner, host, n2, flow::kN2Id);
    setFlow(runner, host, o2, flow::kO2Id);
    boxlink::processEventsFor(runner.waitMs(kAroundCommandMs));
    if (sent)
        sent();
    // The data lines from now on tell whether the set points arrived.
    if (retries)
        retries->flowsSent();
    runner.resumePoller(n2Poller);
    runner.resumePoller(o2Poller);
}

} // namespace boxcommands
