#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

class QTcpSocket;

// Conventions shared by every exchange with the calibration box.
namespace boxlink {

// Ports of the box's serial device server.
constexpr int kTemperaturePort = 4000;
constexpr int kN2Port = 4001;
constexpr int kO2Port = 4002;
constexpr int kPulsePort = 4003;

// Time limits of one exchange: the connection wait and the wait for the written
// frame. Every command sends its frames with these through sendFrame().
struct Timeouts
{
    int connectMs;
    int writeMs;
};

constexpr Timeouts kTemperatureInit{30000, 30000};
constexpr Timeouts kTemperatureSetPoint{30000, 30000};
constexpr Timeouts kTemperaturePoll{500, 200};
constexpr Timeouts kFlowPoll{1000, 1000};
constexpr Timeouts kOneShotFlowPoll{2000, 2000}; // getPressure(), setGas(uint)
constexpr Timeouts kFlowSetPoint{200, 200};
constexpr Timeouts kFlowInit{30000, 30000};
constexpr Timeouts kPulseCommand{30000, 0}; // the write is not waited for

// Pauses after a frame.
constexpr int kTemperatureInitFramePauseMs = 200; // after frames 1 to 13
constexpr int kSetPointFirstPauseMs = 350;        // events are handled throughout
constexpr int kSetPointSecondWaitMs = 500;        // waitProcessingEvents
constexpr int kFlowInitFramePauseMs = 200;
constexpr int kTemperaturePollSleepMs = 700;
constexpr int kFlowPollSleepMs = 500;
constexpr int kPausedPollerCheckMs = 1000;
constexpr int kTickMs = 100;

// Runs the calling thread's event loop until `ms` milliseconds have passed on a
// monotonic clock. Every pending event (timers, socket replies, queued signals,
// user input) is processed while it waits; between events the thread blocks
// instead of spinning. Safe to nest: an inner wait returns at its own deadline.
void processEventsFor(int ms);

// The pulse sequence's 100 ms step: events are processed throughout.
void tick();

// Starts connecting `socket` to the box unless it is already open.
void connectToBox(QTcpSocket* socket, const QString& host, quint16 port);

// True when a wait should end early (a Stop, a close).
using Cancelled = std::function<bool()>;

// Run the thread's event loop until the socket is connected (or has failed),
// or until its queued bytes have left, for at most `ms` on a monotonic clock
// or until `cancelled` says so. They never block the thread: the window stays
// responsive through a 30 s connection wait. False on failure or time-out.
bool waitConnected(QTcpSocket* socket, int ms, const Cancelled& cancelled = {});
bool waitWritten(QTcpSocket* socket, int ms, const Cancelled& cancelled = {});

// Waits up to `connectTimeoutMs` for the connection (at once when connected),
// then writes `frame` and, when `waitWritten`, waits up to `writeTimeoutMs` for
// it to leave. False when the frame was not written; callers carry on anyway.
bool sendFrame(QTcpSocket* socket, const QByteArray& frame, int connectTimeoutMs,
               int writeTimeoutMs, bool waitWritten = true, const Cancelled& cancelled = {});

} // namespace boxlink
