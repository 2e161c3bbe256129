#include "simstate.h"

#include "crossthread.h"

#include <QThread>

#include <cmath>

namespace boxsim {
namespace detail {

namespace {

// Below these the model sits on its target: real instruments settle within
// their display resolution instead of creeping towards it forever.
constexpr double kTemperatureSnapC = 0.005;
constexpr double kFlowSnapSlpm = 0.0001;

int tenths(double celsius)
{
    return int(std::lround(celsius * 10.0)) & 0xFFFF;
}

} // namespace

Notifier::~Notifier()
{
    if (thread() == QThread::currentThread())
        crossthread::runQueuedCalls(this);
}

void Notifier::notify()
{
    // The call is made here and freed on the other thread.
    crossthread::postCall(this, [this] { emit changed(); });
}

bool Notifier::event(QEvent* event)
{
    return crossthread::runPostedCall(event) || QObject::event(event);
}

void Lag::advance(qint64 nowMs, double tauS, double snap)
{
    if (nowMs <= atMs)
        return;
    const double dt = double(nowMs - atMs) / 1000.0;
    atMs = nowMs;
    if (tauS <= 0)
        value = target;
    else
        value = target + (value - target) * std::exp(-dt / tauS);
    if (std::fabs(value - target) < snap)
        value = target;
}

State::State()
{
    clock.start();
    flows[0].fullScale = 20;
    flows[0].gas = 8;
    flows[1].fullScale = 10;
    flows[1].gas = 11;
}

void State::advance() const
{
    const qint64 now = clockMs();
    const double scale = options.timeScale;
    temperature.advance(now, options.thermalTimeConstantS / scale, kTemperatureSnapC);
    for (FlowState& f : flows)
        f.mass.advance(now, options.flowResponseS / scale, kFlowSnapSlpm);
}

FlowState& State::flow(Device device) const
{
    return flows[device == O2 ? 1 : 0];
}

double State::airPressure() const
{
    const double n2 = flows[0].mass.value;
    const double o2 = flows[1].mass.value;
    if (n2 == 0 && o2 == 0)
        return -1;
    return o2 / (n2 + o2) / 2.12235345 * 10.0;
}

int State::inputRegister(int reg) const
{
    switch (reg) {
    case 1000:
        return tenths(temperature.value);
    case 1001: {
        // Heater (or cooler, negative) output in tenths of a percent.
        const double output =
            qBound(-1000.0, (temperature.target - temperature.value) * 200.0, 1000.0);
        return int(std::lround(output)) & 0xFFFF;
    }
    case 1002:
        return registers.value(1002, tenths(temperature.target));
    default:
        return registers.value(reg, 0);
    }
}

void State::seedRandom()
{
    for (int d = 0; d < kDeviceCount; ++d) {
        std::seed_seq seq{options.randomFaultSeed, quint32(d)};
        rng[size_t(d)].seed(seq);
    }
}

} // namespace detail
} // namespace boxsim
