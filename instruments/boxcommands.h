#pragma once

#include <QPointer>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

class BoxPoller;
class CommandRunner;
class SetPointRetries;

// The frames of the temperature and gas commands, each on its port, in its
// order and with its waits. Each runs as (part of) one command on `runner`,
// on the runner's thread: its waits run the event loop, and its sockets are
// the runner's children, closed before it returns so the port is free for
// the poller or the next command. The caller pauses and resumes the pollers.
namespace boxcommands {

// The temperature controller's initialisation: every register write, 200 ms
// apart.
void initialiseTemperature(CommandRunner& runner, const QString& host);

// The flow controllers' initialisation: unit id, gas and register write on
// both controllers, interleaved, 200 ms after each frame.
void initialiseFlows(CommandRunner& runner, const QString& host);

// A new temperature set point, then (350 ms later) the run frame, unless the
// set point's echo has been handled by then: the echo closes the connection.
// `echoed` is told the temperature the echo carries as soon as it comes.
// Returns that temperature, none when no complete echo came by the end of the
// command's waits (the set point may then never have arrived).
std::optional<float> setTemperature(CommandRunner& runner, const QString& host, quint16 tenths,
                                    const std::function<void(float)>& echoed);

// One flow controller's set point; a reply is not waited for.
void setFlow(CommandRunner& runner, const QString& host, float slpm, uchar id);

// Whole commands: the pollers of the ports involved are paused around the
// frames (a poller that goes away meanwhile is not resumed), with 100 ms of events handled on each
// side so that every reading made before the change has arrived before it is sent.

// With `retries`, each set point is reported to it (what went out, and the
// echo), so that one its controller did not get is sent again; its retries
// come back through these same commands.

// setTemperature() with the temperature poller paused.
std::optional<float> sendTemperature(CommandRunner& runner, const QString& host, quint16 tenths,
                                     QPointer<BoxPoller> temperaturePoller,
                                     const std::function<void(float)>& echoed,
                                     SetPointRetries* retries = nullptr);

// Both flow set points, N2 first, with both flow pollers paused. `sent` is
// told before the pollers resume, so every reading after it was made after
// the change.
void sendGas(CommandRunner& runner, const QString& host, float n2, float o2,
             QPointer<BoxPoller> n2Poller, QPointer<BoxPoller> o2Poller,
             const std::function<void()>& sent, SetPointRetries* retries = nullptr);

} // namespace boxcommands
