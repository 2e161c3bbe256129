#include "setpointretries.h"

#include "commandrunner.h"

#include <algorithm>

using setpoint::Controller;
using setpoint::SetPointKeeper;

SetPointRetries::SetPointRetries(CommandRunner& runner, QObject* parent,
                                 const setpoint::Timing& timing)
    : QObject(parent), m_runner(runner), m_keepers{SetPointKeeper(Controller::Temperature, timing),
                                                   SetPointKeeper(Controller::N2, timing),
                                                   SetPointKeeper(Controller::O2, timing)}
{
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SetPointRetries::queueDueRetries);
}

void SetPointRetries::setSenders(SendTemperature temperature, SendFlows flows)
{
    m_sendTemperature = std::move(temperature);
    m_sendFlows = std::move(flows);
}

void SetPointRetries::temperatureSending(double celsius)
{
    keeperOf(Controller::Temperature).sending(celsius, m_clock.elapsed());
}

void SetPointRetries::temperatureSent(std::optional<float> echoed)
{
    std::optional<double> value;
    if (echoed)
        value = double(*echoed);
    report(Controller::Temperature,
           keeperOf(Controller::Temperature).echoResult(value, m_clock.elapsed()));
    schedule();
}

void SetPointRetries::flowsSending(float n2Slpm, float o2Slpm)
{
    keeperOf(Controller::N2).sending(double(n2Slpm), m_clock.elapsed());
    keeperOf(Controller::O2).sending(double(o2Slpm), m_clock.elapsed());
}

void SetPointRetries::flowsSent()
{
    for (Controller which : {Controller::N2, Controller::O2}) {
        keeperOf(which).sent(m_clock.elapsed());
        if (m_closing)
            keeperOf(which).forget();
    }
    schedule();
}

void SetPointRetries::flowReading(Controller which, float reportedSetPointSlpm)
{
    if (which == Controller::Temperature)
        return;
    report(which, keeperOf(which).flowReading(reportedSetPointSlpm, m_clock.elapsed()));
    schedule();
}

void SetPointRetries::hold(bool on)
{
    if (on == m_held)
        return;
    m_held = on;
    schedule();
}

void SetPointRetries::closing(int temperatureRetries)
{
    m_closing = true;
    m_closeRetriesLeft = temperatureRetries;
    keeperOf(Controller::N2).forget();
    keeperOf(Controller::O2).forget();
    schedule();
}

bool SetPointRetries::closeRetryPending() const
{
    if (!m_closing || m_held)
        return false;
    return m_temperatureQueued ||
           (keeper(Controller::Temperature).state() == SetPointKeeper::State::Lost &&
            m_closeRetriesLeft > 0);
}

bool SetPointRetries::temperatureMayRetry() const
{
    return !m_held && (!m_closing || m_closeRetriesLeft > 0);
}

bool SetPointRetries::flowsDue(qint64 nowMs) const
{
    return !m_held && !m_closing &&
           (keeper(Controller::N2).retryDue(nowMs) || keeper(Controller::O2).retryDue(nowMs));
}

void SetPointRetries::report(Controller which, const std::optional<setpoint::Notice>& found)
{
    if (!found)
        return;
    // At the end no retry follows (flows are not judged, the temperature's
    // last tries are used up): the notice must not promise one.
    const bool retryFollows =
        !m_closing || (which == Controller::Temperature && m_closeRetriesLeft > 0 && !m_held);
    if (!retryFollows) {
        emit notice(QStringLiteral("Warning: the set point %1 of the %2 controller was not "
                                   "confirmed by the end of the run.")
                        .arg(SetPointKeeper::valueText(which, keeper(which).value()),
                             SetPointKeeper::controllerName(which)),
                    true);
        return;
    }
    emit notice(found->text, found->warning);
}

void SetPointRetries::schedule()
{
    qint64 next = -1;
    auto consider = [&next](qint64 at) {
        if (at >= 0 && (next < 0 || at < next))
            next = at;
    };
    if (!m_temperatureQueued && temperatureMayRetry())
        consider(keeper(Controller::Temperature).retryAtMs());
    if (!m_flowsQueued && !m_closing && !m_held) {
        consider(keeper(Controller::N2).retryAtMs());
        consider(keeper(Controller::O2).retryAtMs());
    }
    if (next < 0) {
        m_timer.stop();
        return;
    }
    m_timer.start(int(std::max<qint64>(0, next - m_clock.elapsed())));
}

void SetPointRetries::queueDueRetries()
{
    const qint64 now = m_clock.elapsed();
    // The body decides again when it runs: a newer set point sent meanwhile
    // (by a command queued before this one) replaces the lost one.
    if (!m_temperatureQueued && temperatureMayRetry() &&
        keeper(Controller::Temperature).retryDue(now) && m_sendTemperature) {
        m_temperatureQueued = true;
        m_runner.submit(
            QStringLiteral("set temperature again"),
            [this] {
                if (!temperatureMayRetry() ||
                    !keeper(Controller::Temperature).retryDue(m_clock.elapsed()))
                    return true;
                if (m_closing)
                    --m_closeRetriesLeft;
                ++m_retriesSent[size_t(Controller::Temperature)];
                m_sendTemperature(keeper(Controller::Temperature).value());
                return true;
            },
            [this](const CommandRunner::Outcome&) {
                m_temperatureQueued = false;
                schedule();
            });
    }
    if (!m_flowsQueued && flowsDue(m_clock.elapsed()) && m_sendFlows) {
        m_flowsQueued = true;
        m_runner.submit(
            QStringLiteral("set gas again"),
            [this] {
                const qint64 at = m_clock.elapsed();
                if (!flowsDue(at))
                    return true;
                // The gas command sends both set points, as it always does.
                for (Controller which : {Controller::N2, Controller::O2})
                    if (keeper(which).retryDue(at))
                        ++m_retriesSent[size_t(which)];
                m_sendFlows(float(keeper(Controller::N2).value()),
                            float(keeper(Controller::O2).value()));
                return true;
            },
            [this](const CommandRunner::Outcome&) {
                m_flowsQueued = false;
                schedule();
            });
    }
    schedule();
}
