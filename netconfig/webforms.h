#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

#include <atomic>

// The box's serial device server is configured through its built-in web
// forms: GET requests whose query strings carry the form fields. This module
// reads the server's network settings and applies new ones, synchronously on
// the calling thread (WebFormExchange runs them on a thread of its own).
namespace netconfig {

constexpr quint16 kHttpPort = 80;

// For demos and tests only: a simulated box without privileges cannot serve
// its forms on port 80, so this variable names the port the program uses.
constexpr char kWebFormPortVariable[] = "BAROTERM_WEBFORM_PORT";
// The port a value of that variable names: a decimal number 1..65535, else
// kHttpPort (also when the variable is unset, i.e. `value` is null).
quint16 webFormPortFrom(const QByteArray& value);
// The same for the process environment.
quint16 webFormPort();
// How long the server may take to answer once connected; without it a server
// that accepts and then stays silent would freeze the caller for good.
constexpr int kTransferLimitMs = 5000;
// A cancelled transfer ends within about this.
constexpr int kCancelCheckMs = 20;

// Sent as the device name whenever the general form is submitted (21
// characters: model code, hyphen, 12 hex digits).
extern const char kServerName[];

extern const char kCommunicationError[];       // "Communication error! Please try againg."
extern const char kRebootCommunicationError[]; // "Communication error!"
extern const char kRestartNotice[];

struct NetworkSettings
{
    QString ipAddress;
    QString subnetMask;
    QString defaultGateway;
};

// The settings found on a network page, taken up to its first zero byte; a
// setting whose input field is missing keeps its value from `current`.
NetworkSettings parseNetworkPage(const QByteArray& page, const NetworkSettings& current);

// An operator message naming every field that is not an address; empty when
// all three are.
QString invalidFieldsMessage(const NetworkSettings& settings);

// The queries after "?" of the three forms. The network form takes texts that
// passed ipv4::isDottedAddress().
QByteArray generalFormQuery();
QByteArray networkFormQuery(const NetworkSettings& settings);
QByteArray saveFormQuery();

// Where the exchange meets the operator.
class Operator
{
public:
    virtual ~Operator();
    // A modal warning; returns once the operator has closed it.
    virtual void warn(const QString& text) = 0;
    // The wait cursor while the server saves and restarts.
    virtual void setBusy(bool busy) = 0;
};

class WebFormClient
{
public:
    enum class Transfer
    {
        Done,      // libcurl reported success, whatever the HTTP status
        Failed,    // no connection within the limit, timed out or any other error
        Skipped,   // no libcurl handle could be made
        Cancelled, // ended, or never started, because the cancel flag was set
    };

    explicit WebFormClient(const QString& host = QString(), quint16 port = kHttpPort);

    QString host() const { return m_host; }
    void setHost(const QString& host) { m_host = host; }
    quint16 port() const { return m_port; }
    void setPort(quint16 port) { m_port = port; }
    int transferLimitMs() const { return m_transferLimitMs; }
    void setTransferLimitMs(int ms) { m_transferLimitMs = ms; }
    // Once `*cancelled` is set (from any thread), the transfer under way ends
    // within kCancelCheckMs and read() and apply() send nothing more. Null: never.
    void setCancelFlag(const std::atomic<bool>* cancelled) { m_cancelled = cancelled; }
    bool isCancelled() const { return m_cancelled && m_cancelled->load(); }

    // One GET of http://<host><pathAndQuery>; the body is kept in response().
    Transfer get(const QByteArray& pathAndQuery, long connectLimitSeconds);
    QByteArray response() const { return m_response; }

    // Submits the general form, then fetches the network page and returns
    // `current` updated with the settings found there. Failures are reported
    // to the operator and the reading goes on.
    NetworkSettings read(Operator& op, const NetworkSettings& current);

    // Submits the network form, tells the operator the server restarts, then
    // submits the save form and fetches the reboot page. Refuses (false,
    // nothing sent, operator warned) when a text is not an address; false too
    // when cancelled.
    bool apply(Operator& op, const NetworkSettings& wanted);

private:
    QString m_host;
    quint16 m_port;
    int m_transferLimitMs = kTransferLimitMs;
    const std::atomic<bool>* m_cancelled = nullptr;
    QByteArray m_response;
};

} // namespace netconfig

Q_DECLARE_METATYPE(netconfig::NetworkSettings)
