#include "setpointkeeper.h"

#include "flowprotocol.h"
#include "modbusframes.h"

namespace setpoint {

SetPointKeeper::SetPointKeeper(Controller which, const Timing& timing)
    : m_which(which), m_timing(timing)
{
}

bool SetPointKeeper::sameValue(double value) const
{
    // What goes on the wire decides: tenths of a degree, or flow counts.
    if (m_which == Controller::Temperature)
        return modbus::encodeTenths(value) == modbus::encodeTenths(m_value);
    const uchar id = m_which == Controller::O2 ? flow::kO2Id : flow::kN2Id;
    return flow::setPointCounts(float(value), id) == flow::setPointCounts(float(m_value), id);
}

void SetPointKeeper::sending(double value, qint64 nowMs)
{
    Q_UNUSED(nowMs)
    const bool again = m_state != State::Idle && m_state != State::Confirmed && sameValue(value);
    if (!again)
        m_tries = 0;
    m_value = value;
    ++m_tries;
    m_readings = 0;
    m_state = State::Sending;
}

std::optional<Notice> SetPointKeeper::echoResult(std::optional<double> echoed, qint64 nowMs)
{
    if (m_state != State::Sending)
        return std::nullopt;
    if (echoed && sameValue(*echoed)) {
        m_state = State::Confirmed;
        m_tries = 0;
        return std::nullopt;
    }
    return lose(nowMs);
}

void SetPointKeeper::sent(qint64 nowMs)
{
    Q_UNUSED(nowMs)
    if (m_state != State::Sending)
        return;
    m_state = State::Judging;
    m_readings = 0;
}

std::optional<Notice> SetPointKeeper::flowReading(float reportedSlpm, qint64 nowMs)
{
    // A reading during the command says nothing of it yet.
    if (m_state != State::Judging && m_state != State::Lost)
        return std::nullopt;
    const uchar id = m_which == Controller::O2 ? flow::kO2Id : flow::kN2Id;
    if (flow::reportsSetPoint(reportedSlpm, float(m_value), id)) {
        // Also while a retry waits: the write was only slow to show.
        m_state = State::Confirmed;
        m_tries = 0;
        return std::nullopt;
    }
    if (m_state == State::Judging && ++m_readings >= m_timing.readingsToConfirm)
        return lose(nowMs);
    return std::nullopt;
}

void SetPointKeeper::forget()
{
    if (m_state != State::Idle)
        m_state = State::Confirmed;
    m_tries = 0;
}

Notice SetPointKeeper::lose(qint64 nowMs)
{
    ++m_losses;
    m_state = State::Lost;
    // m_tries sends so far: the first one and m_tries - 1 retries.
    const int retriesDone = m_tries - 1;
    Notice notice;
    if (retriesDone >= m_timing.retriesBeforeWarning) {
        notice.warning = true;
        notice.text =
            QStringLiteral("Warning: the %1 controller does not confirm the set point %2.")
                .arg(controllerName(m_which), valueText(m_which, m_value));
        m_retryAtMs = nowMs + m_timing.slowRetryPauseMs;
    } else {
        notice.text = QStringLiteral("The %1 controller did not confirm the set point %2, sending "
                                     "it again (retry %3).")
                          .arg(controllerName(m_which), valueText(m_which, m_value))
                          .arg(retriesDone + 1);
        m_retryAtMs = nowMs + m_timing.retryPauseMs;
    }
    return notice;
}

QString SetPointKeeper::controllerName(Controller which)
{
    switch (which) {
    case Controller::Temperature:
        return QStringLiteral("temperature");
    case Controller::N2:
        return QStringLiteral("N2");
    case Controller::O2:
        break;
    }
    return QStringLiteral("O2");
}

QString SetPointKeeper::valueText(Controller which, double value)
{
    if (which == Controller::Temperature)
        return QStringLiteral("%1 °C").arg(value, 0, 'f', 1);
    return QStringLiteral("%1 slpm").arg(value, 0, 'g', 6);
}

} // namespace setpoint
