#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The box simulator as a child process, so its CPU time is not the program's.
class BoxProcess
{
public:
    struct Settings
    {
        QString program;
        QString host;
        double timeScale = 1000;
    };

    BoxProcess() = default;
    ~BoxProcess();
    BoxProcess(const BoxProcess&) = delete;
    BoxProcess& operator=(const BoxProcess&) = delete;

    // Starts it and waits until it listens; false with a reason otherwise.
    bool start(const Settings& settings, QString* error);
    // Asks it to quit (SIGTERM), and kills it when it does not within a few seconds.
    void stop();
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    QByteArray m_stderr; // kept for error messages; drained so the pipe never fills
};
