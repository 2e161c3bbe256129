#pragma once

#include "readinghistory.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <cstddef>
#include <limits>
#include <vector>

// What each recorded point of a run really was, worked out from the run's
// trace: its readings and its events, in the order they happened.
//
// The pollers are paused while a point's pulses go out, so a point is
// described by its settled window, the readings of the last 10 s before its
// pulse sequence began (from the one that showed the point reached on), and
// by the first reading after the sequence.
namespace pointstats {

// One line of a run's trace, as the session hands it over and as the
// readings file keeps it.
enum class Kind : quint8
{
    Start,       // a run begins, or a resumed run goes on; `text` is its identity
    Reading,     // the box was read
    SetPoint,    // a point's temperature or gas set points were sent
    Reached,     // temperature and pressure both on target
    PulsesBegin, // the pulse sequence of `record` begins (the pollers pause)
    Pulse,       // pulse `pulse` of `record`: sent, refused or answered
    PulsesEnd,   // the pulse sequence of `record` has ended
    Record,      // record `record` was written to the logs
    TakenBack,   // record `record` was taken out of the logs again
    Warning,     // a red warning, `text` as shown
    Stop,        // the run ended; `text` says how
};

enum class PulseOutcome : quint8
{
    Sent,     // reached the generator
    Refused,  // reached it and was refused
    Answered, // the camera answered it
};

struct TraceLine
{
    qint64 atMs = 0; // since the epoch, UTC
    Kind kind = Kind::Reading;
    // A reading's values (bar, degrees C, slpm; unknown as history::kUnknown).
    // An event line carries the readings last recorded before it.
    std::array<float, history::kChannels> values{{history::kUnknown, history::kUnknown,
                                                  history::kUnknown, history::kUnknown,
                                                  history::kUnknown, history::kUnknown}};
    int record = 0; // PulsesBegin, Pulse, PulsesEnd, Record, TakenBack
    int pulse = 0;  // Pulse: its place in the sequence, from 1
    PulseOutcome outcome = PulseOutcome::Sent;
    QString text; // Start, SetPoint, Reached, Warning, Stop
};

constexpr qint64 kSettledWindowMs = 10000;

// The quantities a point is described by, in this order everywhere.
enum Quantity
{
    T,  // degrees C
    P,  // equivalent air pressure, bar
    N2, // slpm
    O2, // slpm
    kQuantities
};
history::Channel channelOf(Quantity quantity);

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

struct ChannelStats
{
    int count = 0; // known values in the window
    double mean = kUnknown;
    double sd = kUnknown; // sample standard deviation; unknown below two values
    double min = kUnknown;
    double max = kUnknown;
};

struct PointStats
{
    int record = 0;
    int tries = 1;          // 1, plus each time the point's record was taken back
    qint64 recordedMs = -1; // when its record was written
    // The set points the box had when the record was written.
    double setT = kUnknown;
    double setPBar = kUnknown;
    // From the first set point sent for the point to the first time it was reached.
    double settlingS = kUnknown;
    // The settled window: trace lines [windowBegin, windowEnd) hold its readings.
    std::size_t windowBegin = 0;
    std::size_t windowEnd = 0;
    int windowReadings = 0;
    std::array<ChannelStats, kQuantities> window;
    // The first reading after the sequence, and how far it lies from the
    // window's mean.
    std::array<double, kQuantities> after{{kUnknown, kUnknown, kUnknown, kUnknown}};
    std::array<double, kQuantities> afterMinusMean{{kUnknown, kUnknown, kUnknown, kUnknown}};
    int pulsesSent = 0; // the refused ones included
    int pulsesRefused = 0;
    int pulsesAnswered = 0;
    QStringList warnings; // from the end of the point before until its pulses ended
};

// Mean, sample standard deviation and range of the known values.
ChannelStats channelStats(const std::vector<double>& values);

// One entry per record the trace leaves standing, by record number. A record
// taken back and written again is the same point tried again: its statistics
// are those of the last try.
std::vector<PointStats> computePointStats(const std::vector<TraceLine>& lines);

} // namespace pointstats
