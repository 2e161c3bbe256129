#include "pulsesequence.h"

#include "boxlink.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

namespace {

// The generator itself answers "RR2" 5 s after a pulse the camera ignores;
// past this nothing is coming.
constexpr int kPulseAnswerLimitMs = 10000;

} // namespace

PulseSequence::PulseSequence(QObject* parent) : QObject(parent), m_socket(new QTcpSocket(this))
{
    connect(m_socket, &QIODevice::readyRead, this, &PulseSequence::readAnswer);
}

QString PulseSequence::where(const QString& text) const
{
    const std::pair<double, double> now = m_readings ? m_readings() : std::make_pair(0.0, 0.0);
    return text.arg(now.first, 0, 'f', 1).arg(now.second, 0, 'f', 1);
}

void PulseSequence::countDown(int ms, const std::function<QString(double)>& text,
                              const std::function<bool()>& stopped)
{
    QDeadlineTimer deadline(ms, Qt::PreciseTimer);
    int remaining = ms;
    do {
        emit message(text(remaining / 1000.0), remaining, MessageStyle::Keep);
        boxlink::tick();
        remaining -= boxlink::kTickMs;
    } while (!deadline.hasExpired() && !stopped());
}

void PulseSequence::dropConnection()
{
    m_socket->abort();
    m_socket->close();
    m_answer.clear();
}

int PulseSequence::run(const QString& host, const Settings& settings, const Hooks& hooks)
{
    if (!m_cameraReady)
        return 0;
    emit message(tr("Delay before pulse %1 sec").arg(settings.waitBeforeS),
                 settings.waitBeforeS * 1000, MessageStyle::Keep);
    if (hooks.pausePollers)
        hooks.pausePollers();
    const std::function<bool()> stopped = [&hooks] { return hooks.stopped && hooks.stopped(); };
    if (settings.waitBeforeS > 0)
        countDown(
            settings.waitBeforeS * 1000,
            [](double s) { return tr("Delay before pulse %1 s").arg(s, 0, 'f', 1); }, stopped);

    if (hooks.pulsing)
        hooks.pulsing();
    const QByteArray command = pulse::command(settings.cameraFeedback, settings.widthText);
    const int widthMs = settings.widthText.toInt();
    int sent = 0;
    m_refused = 0;
    bool announced = false;
    for (int i = 0; i < settings.pulses && !stopped(); ++i) {
        m_cameraReady = false;
        m_answer.clear();
        m_lastAnswer = pulse::Status::None;
        if (command.startsWith('#'))
            emit message(tr("Pulse %1 ms sent").arg(widthMs), 2000, MessageStyle::Normal);
        else
            emit message(tr("Pulse %1 ms sent, waiting camera...").arg(widthMs), 4900,
                         MessageStyle::Normal);

        // A connection that failed or that the generator dropped leaves the
        // socket open but unconnected; it would never connect again.
        if (m_socket->isOpen() && m_socket->state() == QAbstractSocket::UnconnectedState)
            m_socket->close();
        boxlink::connectToBox(m_socket, host, boxlink::kPulsePort);
        bool written = false;
        if (boxlink::waitConnected(m_socket, boxlink::kPulseCommand.connectMs, stopped)) {
            if (!announced && hooks.announce && !hooks.announce()) {
                dropConnection();
                m_cameraReady = true;
                break;
            }
            announced = true;
            written = m_socket->write(command) == command.size();
        } else {
            m_socket->abort(); // and closed before the next pulse
        }
        m_answerBytes = 0;

        // A pulse that could not be sent has no answer to wait for, and a
        // generator that stays silent must not hold the run forever.
        QDeadlineTimer answerLimit(written ? kPulseAnswerLimitMs : 0);
        while (!m_cameraReady && !stopped()) {
            // The device server hung up before the generator said a word: a
            // busy port accepts and closes at once, so the command most
            // likely never reached the generator.
            if (written && m_answerBytes == 0 &&
                m_socket->state() == QAbstractSocket::UnconnectedState) {
                written = false;
                answerLimit = QDeadlineTimer(0);
            }
            if (answerLimit.hasExpired()) {
                if (written)
                    ++m_totals.unanswered;
                m_totals.answering = false;
                emit message(
                    written ? where(tr("Warning: No answer from the pulse generator @ T:%1 P:%2"))
                            : tr("Warning: Can't reach the pulse generator, pulse not sent."),
                    4000, MessageStyle::Warning);
                m_cameraReady = true;
                // A late answer must not pass for the next pulse's.
                dropConnection();
                break;
            }
            boxlink::tick();
        }
        if (written && hooks.pulseWritten)
            hooks.pulseWritten(i + 1, m_lastAnswer);
        if (m_lastAnswer != pulse::Status::None)
            m_totals.answering = true;
        // A pulse the generator refused took no image.
        if (written && m_lastAnswer == pulse::Status::RR1) {
            ++m_refused;
            emit message(where(tr("Warning: The pulse generator refused pulse %1 of %2 @ T:%3 P:%4")
                                   .arg(i + 1)
                                   .arg(settings.pulses)),
                         4000, MessageStyle::Warning);
        } else if (written) {
            ++sent;
            ++m_totals.sent;
            if (hooks.pulseSent)
                hooks.pulseSent();
        }
        if (stopped()) {
            // An answer that comes after the stop belongs to no sequence.
            dropConnection();
            m_cameraReady = true;
            break;
        }

        if (i < settings.pulses - 1)
            countDown(
                settings.delayBetweenS * 1000,
                [i](double s) {
                    return tr("Delay after %2 pulse: %1 s").arg(s, 0, 'f', 1).arg(i + 1);
                },
                stopped);
    }
    if (hooks.resumePollers)
        hooks.resumePollers();
    return sent;
}

void PulseSequence::readAnswer()
{
    // The answer may come in pieces; decide once it is whole.
    const QByteArray bytes = m_socket->readAll();
    m_answerBytes += bytes.size();
    if (!m_answer.add(bytes))
        return;
    const QString text = m_answer.text();
    m_answer.clear();

    const pulse::Status status = pulse::classify(text);
    if (status != pulse::Status::None) {
        m_lastAnswer = status;
        m_cameraReady = true;
    }
    switch (status) {
    case pulse::Status::KE1:
        emit message(tr("OK"), 2000, MessageStyle::Keep);
        break;
    case pulse::Status::KE2:
        emit message(tr("Camera answer received"), 2000, MessageStyle::Keep);
        break;
    case pulse::Status::RR1:
        emit pulseRefused();
        break;
    case pulse::Status::RR2:
        emit message(where(tr("Warning: Camera did not answer after 5 seconds @ T:%1 P:%2")), 4000,
                     MessageStyle::Warning);
        break;
    case pulse::Status::None:
        break;
    }
    if (text.size() == pulse::kAnswerLength)
        m_socket->close();
}
