#pragma once

#include "boxsimulator.h"

#include <QElapsedTimer>
#include <QObject>
#include <mutex>

#include <array>
#include <random>

namespace boxsim {
namespace detail {

// Wakes the bounded waits when something was recorded: notify() from the
// simulator's thread posts an event, and changed() is emitted on the thread
// the notifier lives in (the one that made the simulator).
class Notifier : public QObject
{
    Q_OBJECT
public:
    // Events still queued are delivered, so each is freed after its hand-over.
    ~Notifier() override;
    void notify();

signals:
    void changed();

protected:
    bool event(QEvent* event) override;
};

// First-order lag: the value approaches its target with time constant tau,
// evaluated lazily from the time passed since the last look.
struct Lag
{
    double value = 0;
    double target = 0;
    qint64 atMs = 0;
    void advance(qint64 nowMs, double tauS, double snap);
};

struct FlowState
{
    Lag mass;
    double fullScale = 20;
    int gas = 8;
    char unit = 'A';
    QMap<int, int> registers;
};

// Everything the handle and the engine share. Every member is guarded by
// `mutex`, except `notifier` (thread-safe by itself) and `clock` (started once,
// only read afterwards).
struct State
{
    State();

    mutable std::mutex mutex;
    QElapsedTimer clock;
    qint64 startedAtMs = 0; // clock reading at the last start(): record times count from here

    Options options;
    std::array<Faults, kDeviceCount> faults;
    std::array<std::mt19937, kDeviceCount> rng;

    // The box.
    mutable Lag temperature;                // target is the set point
    QMap<int, int> registers;               // temperature controller, every register written
    mutable std::array<FlowState, 2> flows; // N2, O2
    NetworkSettings network;

    // The record.
    QList<Event> events;
    std::array<QList<Frame>, kDeviceCount> frames;
    QList<QByteArray> httpRequests;
    QList<PulseTruth> pulseTruth;
    std::array<QList<QByteArray>, kDeviceCount> injected;
    quint64 clearCount = 0;

    bool running = false;
    std::array<quint16, kDeviceCount> ports{};
    std::array<int, kDeviceCount> open{};
    quint64 nextConnection = 1;
    bool logStarted = false;

    Notifier notifier;

    qint64 clockMs() const { return clock.elapsed(); }
    qint64 recordMs() const { return clock.elapsed() - startedAtMs; }

    // The following expect `mutex` held.
    void advance() const; // brings the physical model up to now
    FlowState& flow(Device device) const;
    double airPressure() const;
    int inputRegister(int reg) const;
    void seedRandom();
};

} // namespace detail
} // namespace boxsim
