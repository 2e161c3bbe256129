#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Whether the latest set point of one controller has arrived, and when to send
// it again if not. No socket, no timer: the caller feeds it the ends of its
// commands, the controller's data lines and the time, and asks it what is due.
//
// A temperature set point has arrived when its command saw the controller's
// echo of the value sent; a flow set point when a data line of the controller
// reports it within a few readings after its command ended. A lost set point
// is due again after a short pause; once it has gone out several times without
// arriving, a warning follows and the pause grows. A newer set point replaces a
// pending one, so an old value is never due after a new one went out.
namespace setpoint {

enum class Controller
{
    Temperature,
    N2,
    O2
};

struct Timing
{
    int retryPauseMs = 1000;
    int slowRetryPauseMs = 10000;
    // Retries of one value before the warning and the slow pace.
    int retriesBeforeWarning = 5;
    // Flow data lines after the command that may still miss the set point.
    int readingsToConfirm = 3;
};

// What to tell the operator when a set point was found lost.
struct Notice
{
    QString text;
    bool warning = false;
};

class SetPointKeeper
{
public:
    enum class State
    {
        Idle,      // nothing asked for yet
        Sending,   // a command with the value is under way
        Judging,   // flows: counting the data lines after the command
        Confirmed, // the controller holds it
        Lost,      // due again at retryAtMs()
    };

    explicit SetPointKeeper(Controller which, const Timing& timing = Timing());

    // A command is about to send `value` (the operator's, the run's or a
    // retry). The same value while it is unconfirmed counts as one more try.
    void sending(double value, qint64 nowMs);
    // Temperature: the command has ended; `echoed` is the set point its echo
    // carried, none when no complete echo came.
    std::optional<Notice> echoResult(std::optional<double> echoed, qint64 nowMs);
    // Flows: the command has ended; the data lines from now on count.
    void sent(qint64 nowMs);
    // Flows: a data line with the set point the controller holds.
    std::optional<Notice> flowReading(float reportedSlpm, qint64 nowMs);
    // Nothing more is judged or sent until the next command.
    void forget();

    bool retryDue(qint64 nowMs) const { return m_state == State::Lost && nowMs >= m_retryAtMs; }
    // -1 unless lost.
    qint64 retryAtMs() const { return m_state == State::Lost ? m_retryAtMs : -1; }
    State state() const { return m_state; }
    double value() const { return m_value; }
    // Sends of the current value so far that were not confirmed.
    int tries() const { return m_tries; }
    // Set points found lost since the start.
    int losses() const { return m_losses; }

    static QString controllerName(Controller which);
    // How a value appears in the notices: "25.0 °C", "7.87765 slpm".
    static QString valueText(Controller which, double value);

private:
    Notice lose(qint64 nowMs);
    bool sameValue(double value) const;

    Controller m_which;
    Timing m_timing;
    State m_state = State::Idle;
    double m_value = 0;
    int m_tries = 0;
    int m_readings = 0;
    qint64 m_retryAtMs = 0;
    int m_losses = 0;
};

} // namespace setpoint
