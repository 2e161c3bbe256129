#include "boxsimulator.h"

#include "engine.h"
#include "simstate.h"
#include "wire.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <functional>
#include <mutex>

namespace boxsim {

namespace {

// A copy of a record list that shares no list storage with the simulator's:
// the simulator appends to its own on its thread, and a list shared between
// threads decides on copy or reuse where the thread sanitizer cannot see.
template <typename T> QList<T> unshared(const QList<T>& list)
{
    QList<T> copy;
    copy.reserve(list.size());
    for (const T& item : list)
        copy.append(item);
    return copy;
}

} // namespace

using detail::State;

class BoxSimulator::Private
{
public:
    State state;
    std::mutex lifecycle; // serialises start() and stop()
    QThread* thread = nullptr;
    detail::Engine* engine = nullptr;
};

BoxSimulator::BoxSimulator(const Options& options) : d(new Private)
{
    State& s = d->state;
    s.options = options;
    if (!(s.options.timeScale > 0))
        s.options.timeScale = 1.0;
    s.temperature.value = options.initialTemperatureC;
    s.temperature.target = options.initialTemperatureC;
    s.seedRandom();
}

BoxSimulator::~BoxSimulator()
{
    stop();
}

bool BoxSimulator::start(QString* error)
{
    std::lock_guard<std::mutex> life(d->lifecycle);
    if (d->thread)
        return true;
    {
        std::lock_guard<std::mutex> lock(d->state.mutex);
        d->state.advance();
        d->state.startedAtMs = d->state.clockMs();
        d->state.seedRandom();
        d->state.open.fill(0);
    }

    auto* thread = new QThread;
    thread->setObjectName(QStringLiteral("boxsim"));
    auto* engine = new detail::Engine(&d->state);
    engine->moveToThread(thread);
    // Deleted on its own thread once the loop has ended.
    QObject::connect(thread, &QThread::finished, engine, &QObject::deleteLater);
    thread->start();

    bool ok = false;
    QString message;
    engine->runOnOwnThread([&] { ok = engine->listen(&message); });
    if (!ok) {
        thread->quit();
        thread->wait();
        delete thread;
        if (error)
            *error = message;
        return false;
    }
    d->thread = thread;
    d->engine = engine;
    std::lock_guard<std::mutex> lock(d->state.mutex);
    d->state.running = true;
    return true;
}

void BoxSimulator::stop()
{
    std::lock_guard<std::mutex> life(d->lifecycle);
    if (!d->thread)
        return;
    detail::Engine* engine = d->engine;
    engine->runOnOwnThread([engine] { engine->shutdown(); });
    d->thread->quit();
    d->thread->wait();
    delete d->thread;
    d->thread = nullptr;
    d->engine = nullptr;
    std::lock_guard<std::mutex> lock(d->state.mutex);
    d->state.running = false;
}

bool BoxSimulator::isRunning() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return d->state.running;
}

QString BoxSimulator::host() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return d->state.options.host;
}

quint16 BoxSimulator::port(Device device) const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    if (d->state.running)
        return d->state.ports[size_t(device)];
    if (device == Http)
        return d->state.options.httpPort;
    return quint16(d->state.options.basePort + int(device));
}

void BoxSimulator::setFaults(Device device, const Faults& faults)
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    d->state.faults[size_t(device)] = faults;
}

Faults BoxSimulator::faults(Device device) const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return d->state.faults[size_t(device)];
}

void BoxSimulator::setTimeScale(double scale)
{
    if (!(scale > 0))
        return;
    std::lock_guard<std::mutex> lock(d->state.mutex);
    d->state.advance(); // the time so far ran at the old scale
    d->state.options.timeScale = scale;
}

void BoxSimulator::setCameraAnswers(bool answers)
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    d->state.options.cameraAnswers = answers;
}

void BoxSimulator::setRandomFaults(bool enabled, quint32 seed)
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    d->state.options.randomFaults = enabled;
    d->state.options.randomFaultSeed = seed;
    d->state.seedRandom();
}

QList<QByteArray> BoxSimulator::injectedFaults(Device device) const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return unshared(d->state.injected[size_t(device)]);
}

QList<Event> BoxSimulator::events() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return unshared(d->state.events);
}

QList<Event> BoxSimulator::events(Device device) const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    QList<Event> out;
    for (const Event& e : d->state.events) {
        if (e.device == device)
            out.append(e);
    }
    return out;
}

QList<Frame> BoxSimulator::frames(Device device) const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return unshared(d->state.frames[size_t(device)]);
}

QList<QByteArray> BoxSimulator::httpRequests() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return unshared(d->state.httpRequests);
}

void BoxSimulator::clearRecord()
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    State& s = d->state;
    s.events.clear();
    for (QList<Frame>& f : s.frames)
        f.clear();
    s.httpRequests.clear();
    s.pulseTruth.clear();
    for (QList<QByteArray>& i : s.injected)
        i.clear();
    ++s.clearCount;
}

bool BoxSimulator::waitFor(const std::function<bool()>& condition, int timeoutMs) const
{
    if (condition())
        return true;
    const QDeadlineTimer deadline(qMax(0, timeoutMs));
    // The loop wakes on every recorded change and at least every 20 ms (the
    // physical model changes without any event); in between the thread blocks.
    QEventLoop loop;
    QTimer tick;
    tick.setSingleShot(true);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&d->state.notifier, &detail::Notifier::changed, &loop, &QEventLoop::quit);
    for (;;) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return condition();
        tick.start(int(qMin<qint64>(left, 20)));
        loop.exec();
        if (condition())
            return true;
    }
}

bool BoxSimulator::waitForFrames(Device device, int count, int timeoutMs) const
{
    return waitFor(
        [this, device, count] {
            std::lock_guard<std::mutex> lock(d->state.mutex);
            return d->state.frames[size_t(device)].size() >= count;
        },
        timeoutMs);
}

bool BoxSimulator::waitForEvent(const std::function<bool(const Event&)>& match, int timeoutMs) const
{
    // Looks at each event once; starts over when the record was cleared.
    int seen = 0;
    quint64 generation = 0;
    bool first = true;
    return waitFor(
        [&] {
            QList<Event> fresh;
            {
                std::lock_guard<std::mutex> lock(d->state.mutex);
                if (first || generation != d->state.clearCount) {
                    first = false;
                    generation = d->state.clearCount;
                    seen = 0;
                }
                fresh = d->state.events.mid(seen);
                seen = d->state.events.size();
            }
            for (const Event& e : fresh) {
                if (match(e))
                    return true;
            }
            return false;
        },
        timeoutMs);
}

double BoxSimulator::sampleTemperatureC() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    d->state.advance();
    return d->state.temperature.value;
}

void BoxSimulator::setSampleTemperatureC(double celsius)
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    d->state.advance();
    d->state.temperature.value = celsius;
}

double BoxSimulator::temperatureSetPointC() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return d->state.temperature.target;
}

QMap<int, int> BoxSimulator::registers() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return d->state.registers;
}

double BoxSimulator::massFlow(Device flowDevice) const
{
    if (flowDevice != N2 && flowDevice != O2)
        return 0;
    std::lock_guard<std::mutex> lock(d->state.mutex);
    d->state.advance();
    return d->state.flow(flowDevice).mass.value;
}

double BoxSimulator::flowSetPoint(Device flowDevice) const
{
    if (flowDevice != N2 && flowDevice != O2)
        return 0;
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return d->state.flow(flowDevice).mass.target;
}

double BoxSimulator::airPressureBar() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    d->state.advance();
    return d->state.airPressure();
}

QList<PulseTruth> BoxSimulator::pulseTruth() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return unshared(d->state.pulseTruth);
}

int BoxSimulator::openConnections(Device device) const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return d->state.open[size_t(device)];
}

NetworkSettings BoxSimulator::networkSettings() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return d->state.network;
}

QByteArray BoxSimulator::gasName(Device flowDevice) const
{
    if (flowDevice != N2 && flowDevice != O2)
        return QByteArray();
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return wire::gasName(d->state.flow(flowDevice).gas);
}

QMap<int, int> BoxSimulator::flowRegisters(Device flowDevice) const
{
    if (flowDevice != N2 && flowDevice != O2)
        return {};
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return d->state.flow(flowDevice).registers;
}

} // namespace boxsim
