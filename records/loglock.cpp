#include "loglock.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace records {

namespace {

#ifdef Q_OS_UNIX
QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool sameFile(int fd, const QByteArray& path)
{
    struct stat open, atPath;
    return ::fstat(fd, &open) == 0 && ::stat(path.constData(), &atPath) == 0 &&
           open.st_dev == atPath.st_dev && open.st_ino == atPath.st_ino;
}

QByteArray readHolder(int fd)
{
    char text[32];
    const ssize_t size = ::pread(fd, text, sizeof text, 0);
    return size > 0 ? QByteArray(text, int(size)) : QByteArray();
}
#endif

} // namespace

QString lockPathFor(const QString& logName)
{
    return logName + QLatin1String(".lock");
}

QByteArray lockFileText(qint64 processId)
{
    return QByteArray::number(processId) + '\n';
}

std::optional<qint64> lockHolderOf(const QByteArray& text)
{
    // Written whole with its line end, or not yet.
    const QByteArray digits = text.endsWith('\n') ? text.chopped(1) : QByteArray();
    if (digits.isEmpty() || digits.size() > 18 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const qint64 id = digits.toLongLong();
    return id > 0 ? std::optional<qint64>(id) : std::nullopt;
}

LogLock::State LogLock::acquire(const QString& logName)
{
    release();
    m_holder.reset();
    m_error.clear();
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(lockPathFor(logName));
    // A holder that lets go removes the file: one opened just before that is
    // no longer the lock, and is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            m_error = systemError(errno);
            return State::Unavailable;
        }
        int locked;
        do
            locked = ::flock(fd, LOCK_EX | LOCK_NB);
        while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK)
                m_holder = lockHolderOf(readHolder(fd));
            else
                m_error = systemError(error);
            ::close(fd);
            return error == EWOULDBLOCK ? State::Busy : State::Unavailable;
        }
        if (!sameFile(fd, path)) {
            ::close(fd);
            continue;
        }
        const QByteArray text = lockFileText(QCoreApplication::applicationPid());
        // The name is only for messages: the lock holds without it.
        if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.constData(), size_t(text.size()), 0) < 0)
            m_error = systemError(errno);
        m_fd = fd;
        m_held = true;
        m_logName = logName;
        return State::Held;
    }
    m_error = QCoreApplication::translate("LogLock", "the lock file keeps being replaced");
    return State::Unavailable;
#else
    // No advisory locks here: the run goes on as before.
    m_held = true;
    m_logName = logName;
    return State::Held;
#endif
}

void LogLock::release()
{
#ifdef Q_OS_UNIX
    if (m_fd >= 0) {
        const QByteArray path = QFile::encodeName(lockPathFor(m_logName));
        if (sameFile(m_fd, path))
            ::unlink(path.constData());
        ::close(m_fd);
        m_fd = -1;
    }
#endif
    m_held = false;
    m_logName.clear();
}

} // namespace records
