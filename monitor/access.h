#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <optional>

class QCommandLineParser;
class QSettings;

// Where the monitor listens and who may watch: the address given as
// [ADDRESS:]PORT, and the access key asked on any address but the loopback.
namespace monitor {

struct Endpoint
{
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 0;
};

struct EndpointParse
{
    Endpoint endpoint;
    QString error; // empty when the text was good
};

// "8080", "127.0.0.1:8080", "0.0.0.0:8080", "[::1]:8080": an address (IPv6
// in brackets) and a port from 1 to 65535; the address defaults to 127.0.0.1.
EndpointParse parseEndpoint(const QString& text);

// --monitor [ADDRESS:]PORT and --monitor-key-file FILE, as both programs take them.
struct MonitorOptions
{
    std::optional<Endpoint> endpoint; // none: no monitor
    QString keyFile;
};

// Reads them from a parser that has both options and parsed its arguments;
// the error line when they can't be used.
QString readMonitorOptions(const QCommandLineParser& parser, MonitorOptions* out);

// A loopback address (127.0.0.0/8, ::1) asks no key unless a key file was given.
bool keyRequired(const QHostAddress& address, bool keyFileGiven);

// A new random 128-bit key, as 32 hexadecimal digits.
QByteArray newAccessKey();

struct KeyFile
{
    QByteArray key;
    QString error; // empty when the key was read or the file made
};

// The key kept in `path`: a missing file is made, readable by its owner
// alone, with a new key; a file others may read or write is refused, and so
// is one that holds no key (16 to 256 letters, digits, '-', '_', '.', '~').
KeyFile readOrCreateKeyFile(const QString& path);

// The key `endpoint` asks: the key file's when one is given; otherwise, on an
// address other than the loopback, the one kept in `settings` (made at first
// use); none on the loopback.
KeyFile accessKeyFor(const Endpoint& endpoint, const QString& keyFile, QSettings& settings);

// The page's address, with the key when there is one.
QString pageAddress(const Endpoint& endpoint, const QByteArray& key);

} // namespace monitor
