#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// One run at a time writes a log: a run holds an advisory lock on a file
// beside the log ("run1.csv" -> "run1.csv.lock") from the moment it takes the
// log until it ends. The system lets go of the lock when the process dies, so
// a lock file left behind is harmless. The file names the holder's process,
// for the message of a run that finds the log taken.
namespace records {

QString lockPathFor(const QString& logName);
// What the lock file holds: the holder's process id and a line end.
QByteArray lockFileText(qint64 processId);
// The process a lock file names; none when it names none (empty, or the
// holder has not written it yet).
std::optional<qint64> lockHolderOf(const QByteArray& text);

class LogLock
{
public:
    enum class State
    {
        Held,        // this process writes the log
        Busy,        // another process holds it: holder() names it when known
        Unavailable, // no lock can be taken there (errorString()); nothing holds it
    };

    LogLock() = default;
    ~LogLock() { release(); }
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;

    // Lets go of the lock held so far, then takes that of `logName`.
    State acquire(const QString& logName);
    // Removes the lock file while still holding it, so no other run ever
    // holds a file that is no longer the one at its path.
    void release();

    bool held() const { return m_held; }
    const QString& logName() const { return m_logName; }
    std::optional<qint64> holder() const { return m_holder; }
    QString errorString() const { return m_error; }

private:
    int m_fd = -1;
    bool m_held = false;
    QString m_logName;
    std::optional<qint64> m_holder;
    QString m_error;
};

} // namespace records
