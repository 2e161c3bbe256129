#pragma once

#include "setpointkeeper.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <functional>
#include <optional>

class CommandRunner;

// Sends a set point again when its controller did not get it. The temperature
// and gas commands report what they send and how it ended, the flow pollers'
// data lines what the flow controllers hold; a lost set point goes out again
// as an ordinary command on the runner, through the same command body, after
// a pause. Nothing is sent again while every set point arrives at once.
class SetPointRetries : public QObject
{
    Q_OBJECT

public:
    // The command bodies that send a set point, run inside a command on the
    // runner; they report back through the calls below like any other send.
    using SendTemperature = std::function<void(double celsius)>;
    using SendFlows = std::function<void(float n2Slpm, float o2Slpm)>;

    explicit SetPointRetries(CommandRunner& runner, QObject* parent = nullptr,
                             const setpoint::Timing& timing = setpoint::Timing());

    void setSenders(SendTemperature temperature, SendFlows flows);

    // From the command bodies.
    void temperatureSending(double celsius);
    void temperatureSent(std::optional<float> echoed);
    void flowsSending(float n2Slpm, float o2Slpm);
    void flowsSent();
    // From the flow pollers' data lines.
    void flowReading(setpoint::Controller which, float reportedSetPointSlpm);

    // While the box cannot be reached (the temperature poller lost it) no
    // retry goes out: each would only fail again. Lost set points keep their
    // place and go out once it is back.
    void hold(bool on);

    // The window closes: flows are no longer judged (that takes readings), and
    // a lost temperature set point goes out at most `temperatureRetries` more
    // times, so the close still ends soon.
    void closing(int temperatureRetries = 2);
    // While closing: a retry is still to come, the close waits for it.
    bool closeRetryPending() const;

    const setpoint::SetPointKeeper& keeper(setpoint::Controller which) const
    {
        return m_keepers[size_t(which)];
    }
    // Set points sent again so far.
    int retriesSent(setpoint::Controller which) const { return m_retriesSent[size_t(which)]; }

signals:
    // A status-bar line for each set point found lost; red when `warning`.
    void notice(const QString& text, bool warning);

private:
    setpoint::SetPointKeeper& keeperOf(setpoint::Controller which)
    {
        return m_keepers[size_t(which)];
    }
    void report(setpoint::Controller which, const std::optional<setpoint::Notice>& found);
    void schedule();
    void queueDueRetries();
    bool flowsDue(qint64 nowMs) const;
    bool temperatureMayRetry() const;

    CommandRunner& m_runner;
    SendTemperature m_sendTemperature;
    SendFlows m_sendFlows;
    std::array<setpoint::SetPointKeeper, 3> m_keepers;
    std::array<int, 3> m_retriesSent{};
    QElapsedTimer m_clock;
    QTimer m_timer;
    bool m_temperatureQueued = false;
    bool m_flowsQueued = false;
    bool m_held = false;
    bool m_closing = false;
    int m_closeRetriesLeft = 0;
};
