#include "boxprocess.h"

#include <QDeadlineTimer>

namespace {

constexpr int kStartLimitMs = 10000;
constexpr int kStopLimitMs = 3000;
const char* const kListeningLine = "calibration box on";

} // namespace

BoxProcess::~BoxProcess()
{
    stop();
}

bool BoxProcess::start(const Settings& settings, QString* error)
{
    // The program always talks to ports 4000..4003 of the address it is given.
    const QStringList arguments = {
        QStringLiteral("--host"),       settings.host,
        QStringLiteral("--base-port"),  QStringLiteral("4000"),
        QStringLiteral("--http-port"),  QStringLiteral("0"),
        QStringLiteral("--time-scale"), QString::number(settings.timeScale),
    };
    m_process.setProgram(settings.program);
    m_process.setArguments(arguments);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setReadChannel(QProcess::StandardError);
    QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] {
        m_stderr.append(m_process.readAllStandardError());
        m_stderr = m_stderr.right(4096);
    });
    m_process.start();
    if (!m_process.waitForStarted(kStartLimitMs)) {
        *error =
            QStringLiteral("cannot start %1: %2").arg(settings.program, m_process.errorString());
        return false;
    }
    QDeadlineTimer deadline(kStartLimitMs);
    while (!m_stderr.contains(kListeningLine)) {
        if (deadline.hasExpired() || m_process.state() != QProcess::Running) {
            m_process.waitForFinished(100);
            m_stderr.append(m_process.readAllStandardError());
            *error = QStringLiteral("the simulator did not come up: %1")
                         .arg(QString::fromLocal8Bit(m_stderr).trimmed());
            stop();
            return false;
        }
        if (m_process.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1))))
            m_stderr.append(m_process.readAllStandardError());
    }
    return true;
}

void BoxProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kStopLimitMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopLimitMs);
    }
}
