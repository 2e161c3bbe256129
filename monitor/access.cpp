#include "access.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace monitor {

namespace {

bool validKey(const QByteArray& key)
{
    if (key.size() < 16 || key.size() > 256)
        return false;
    for (const char c : key) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~';
        if (!ok)
            return false;
    }
    return true;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

EndpointParse parseEndpoint(const QString& text)
{
    EndpointParse out;
    QString address, port = text;
    if (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1String("]:"));
        if (close < 0) {
            out.error =
                QStringLiteral("\"%1\": an address in brackets is followed by :PORT").arg(text);
            return out;
        }
        address = text.mid(1, close - 1);
        port = text.mid(close + 2);
        if (!QHostAddress(address).isNull() &&
            QHostAddress(address).protocol() != QAbstractSocket::IPv6Protocol) {
            out.error = QStringLiteral("\"%1\": only an IPv6 address goes in brackets").arg(text);
            return out;
        }
    } else if (text.count(QLatin1Char(':')) == 1) {
        address = text.section(QLatin1Char(':'), 0, 0);
        port = text.section(QLatin1Char(':'), 1);
    } else if (text.contains(QLatin1Char(':'))) {
        out.error =
            QStringLiteral("\"%1\": an IPv6 address goes in brackets, as [::1]:8080").arg(text);
        return out;
    }
    if (!address.isNull() && !out.endpoint.address.setAddress(address)) {
        out.error = QStringLiteral("\"%1\" is not an IP address").arg(address);
        return out;
    }
    bool ok = false;
    const uint number = port.toUInt(&ok);
    const bool digitsOnly =
        !port.isEmpty() && port.size() <= 5 && std::all_of(port.begin(), port.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        });
    if (!ok || !digitsOnly || number < 1 || number > 65535) {
        out.error = QStringLiteral("\"%1\" is not a port from 1 to 65535").arg(port);
        return out;
    }
    out.endpoint.port = quint16(number);
    return out;
}

QString readMonitorOptions(const QCommandLineParser& parser, MonitorOptions* out)
{
    const QString at = QStringLiteral("monitor");
    const QString keyFile = QStringLiteral("monitor-key-file");
    if (parser.isSet(at)) {
        const EndpointParse endpoint = parseEndpoint(parser.value(at));
        if (!endpoint.error.isEmpty())
            return QStringLiteral("--monitor: %1").arg(endpoint.error);
        out->endpoint = endpoint.endpoint;
    }
    if (parser.isSet(keyFile)) {
        if (!out->endpoint)
            return QStringLiteral("--monitor-key-file goes with --monitor");
        out->keyFile = parser.value(keyFile);
    }
    return QString();
}

bool keyRequired(const QHostAddress& address, bool keyFileGiven)
{
    return keyFileGiven || !address.isLoopback();
}

QByteArray newAccessKey()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

KeyFile readOrCreateKeyFile(const QString& path)
{
    KeyFile out;
    const QByteArray name = QFile::encodeName(path);
    // Made only where nothing is, so a file put there meanwhile is read, not overwritten.
    const int created = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (created >= 0) {
        const QByteArray key = newAccessKey();
        const QByteArray line = key + '\n';
        const bool written =
            ::write(created, line.constData(), size_t(line.size())) == ssize_t(line.size()) &&
            ::fsync(created) == 0;
        const int savedErrno = errno;
        ::close(created);
        if (!written) {
            errno = savedErrno;
            out.error = QStringLiteral("Can't write the key file %1: %2").arg(path, systemError());
            ::unlink(name.constData());
            return out;
        }
        out.key = key;
        return out;
    }
    if (errno != EEXIST) {
        out.error = QStringLiteral("Can't make the key file %1: %2").arg(path, systemError());
        return out;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        out.error = QStringLiteral("Can't read the key file %1: %2").arg(path, systemError());
        if (fd >= 0)
            ::close(fd);
        return out;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        out.error = QStringLiteral("The key file %1 is not a file").arg(path);
        return out;
    }
    if (info.st_mode & (S_IRWXG | S_IRWXO)) {
        ::close(fd);
        out.error = QStringLiteral("The key file %1 may be read or changed by others; "
                                   "make it its owner's alone (chmod 600)")
                        .arg(path);
        return out;
    }
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    const QByteArray key = n > 0 ? QByteArray(buffer, int(n)).trimmed() : QByteArray();
    if (!validKey(key)) {
        out.error = QStringLiteral("The key file %1 holds no key: 16 to 256 letters, digits, "
                                   "'-', '_', '.' or '~' on one line")
                        .arg(path);
        return out;
    }
    out.key = key;
    return out;
}

KeyFile accessKeyFor(const Endpoint& endpoint, const QString& keyFile, QSettings& settings)
{
    if (!keyFile.isEmpty())
        return readOrCreateKeyFile(keyFile);
    KeyFile out;
    if (!keyRequired(endpoint.address, false))
        return out;
    const QString name = QStringLiteral("monitor/accessKey");
    out.key = settings.value(name).toByteArray();
    if (!validKey(out.key)) {
        out.key = newAccessKey();
        settings.setValue(name, out.key);
    }
    return out;
}

QString pageAddress(const Endpoint& endpoint, const QByteArray& key)
{
    const QString host = endpoint.address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(endpoint.address.toString())
                             : endpoint.address.toString();
    QString address = QStringLiteral("http://%1:%2/").arg(host).arg(endpoint.port);
    if (!key.isEmpty())
        address += QStringLiteral("?key=") + QString::fromLatin1(key);
    return address;
}

} // namespace monitor
