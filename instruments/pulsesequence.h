#pragma once

#include "pulseprotocol.h"

#include <QObject>
#include <QString>

#include <functional>
#include <utility>

class QTcpSocket;

// One point's pulse sequence on the generator's port: the wait before the
// first pulse, each pulse command, the generator's (or the camera's) answer and
// the delay between pulses. Runs on the thread that made it, inside a command
// of the box's queue; its waits run the event loop.
class PulseSequence : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        bool cameraFeedback = true; // '$' commands: the camera's answer is awaited
        QString widthText = QStringLiteral("010");
        int pulses = 1;
        int waitBeforeS = 0;
        int delayBetweenS = 0;
    };
    enum class MessageStyle
    {
        Keep,    // the status bar keeps its colours
        Normal,  // back to the normal colours first
        Warning, // red
    };
    // The temperature and pressure the warnings name, as the operator sees them.
    using Readings = std::function<std::pair<double, double>()>;

    explicit PulseSequence(QObject* parent = nullptr);

    void setReadings(Readings readings) { m_readings = std::move(readings); }
    // What the sequence asks of its caller: whether it was stopped (then it
    // ends early, with no pulse after it), and the pollers paused from the
    // announcement of the wait to the end.
    struct Hooks
    {
        std::function<bool()> stopped;
        std::function<void()> pausePollers;
        std::function<void()> resumePollers;
        // The wait before the pulses is over and the first one goes out.
        std::function<void()> pulsing;
        // Immediately before the first pulse command is written (after the
        // wait before the pulse); false: it could not be noted, so no pulse
        // goes out and the sequence ends.
        std::function<bool()> announce;
        // After each pulse command that counts as sent, before the next step.
        std::function<void()> pulseSent;
        // After each pulse command that reached the generator, refused or
        // not, with its place in the sequence (from 1) and the last answer.
        std::function<void(int pulse, pulse::Status answer)> pulseWritten;
    };
    // Runs the sequence and returns the pulses sent: commands that reached
    // the generator and that it did not refuse ("RR1").
    int run(const QString& host, const Settings& settings, const Hooks& hooks);
    // Pulses of the last sequence that reached the generator and were refused.
    int refusedPulses() const { return m_refused; }
    // Every sequence since this object was made.
    struct Totals
    {
        qint64 sent = 0;       // counted as run() counts them
        qint64 unanswered = 0; // written, and no answer came in time
        bool answering = true; // the last pulse tried had an answer
    };
    const Totals& totals() const { return m_totals; }
    // A run's start or end: no answer is awaited any more.
    void forgetPendingAnswer() { m_cameraReady = true; }

signals:
    void message(const QString& text, int ms, PulseSequence::MessageStyle style);
    // "RR1": the generator refused the pulse.
    void pulseRefused();

private:
    void readAnswer();
    // Runs the event loop for `ms`, showing the countdown `text` gives.
    void countDown(int ms, const std::function<QString(double)>& text,
                   const std::function<bool()>& stopped);
    void dropConnection();
    QString where(const QString& text) const;

    QTcpSocket* m_socket;
    pulse::AnswerCollector m_answer;
    Readings m_readings;
    bool m_cameraReady = true;
    pulse::Status m_lastAnswer = pulse::Status::None;
    int m_refused = 0;
    Totals m_totals;
    qint64 m_answerBytes = 0; // bytes the generator sent since the last command
};
