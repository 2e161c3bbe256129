#pragma once

// Conventions shared by every exchange with the calibration box.
namespace boxlink {

// Ports of the box's serial device server.
constexpr int kTemperaturePort = 4000;
constexpr int kN2Port = 4001;
constexpr int kO2Port = 4002;
constexpr int kPulsePort = 4003;

// Runs the calling thread's event loop until `ms` milliseconds have passed on a
// monotonic clock. Every pending event (timers, socket replies, queued signals,
// user input) is processed while it waits; between events the thread blocks
// instead of spinning. Safe to nest: an inner wait returns at its own deadline.
void processEventsFor(int ms);

} // namespace boxlink
