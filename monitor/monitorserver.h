#pragma once

#include "httprequest.h"
#include "monitorsource.h"
#include "router.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QTcpSocket;

namespace monitor {

// The monitor's HTTP server: the page, the JSON, the event stream, the metrics
// and the export of one Source, read-only. It lives on the source's thread,
// where it is made and started; every socket stays on that thread.
class MonitorServer : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        int maxClients = 32;                // connections at once; beyond: 503 and closed
        int requestMs = 10 * 1000;          // to send a whole request; then closed
        int stalledMs = 30 * 1000;          // an answer nobody takes any of; then closed
        qint64 maxEventBacklog = 1 << 20;   // bytes waiting for an event stream; beyond: cut
        int keepAliveCommentMs = 15 * 1000; // a comment on every event stream, for proxies
        ParserLimits parser;
    };

    explicit MonitorServer(const Source& source, QObject* parent = nullptr);
    ~MonitorServer() override;

    // Takes effect for the connections that come after.
    void setLimits(const Limits& limits);
    // For tests: the wall clock, ms since the epoch.
    void setClock(std::function<qint64()> nowMs);

    // Listens on `address`:`port` (0: any free port), asking `key` (empty:
    // none, for a loopback address only). An empty string when listening,
    // otherwise why not, for the front-end to show.
    QString start(const QHostAddress& address, quint16 port, const QByteArray& key);
    void stop();
    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    int clientCount() const { return int(m_clients.size()); }
    int eventClientCount() const;

private:
    struct Client;

    void acceptPending();
    void reject(QTcpSocket* socket);
    void readFrom(Client& client);
    void answer(Client& client);
    void send(Client& client, const QByteArray& head, const QByteArray& body, bool closeAfter);
    void pump(Client& client);
    void drop(QTcpSocket* socket);
    Client* find(QTcpSocket* socket);
    void broadcast(const QByteArray& message);
    QByteArray exportCsv();

    const Source& m_source;
    QTcpServer m_server;
    Limits m_limits;
    std::function<qint64()> m_now;
    QByteArray m_key;
    std::map<QTcpSocket*, std::unique_ptr<Client>> m_clients;
    int m_rejecting = 0;
    QTimer m_keepAlive;
    struct File
    {
        Route route;
        QByteArray type;
        QByteArray body;
    };
    std::vector<File> m_files; // the page's, compiled in

    struct CsvCache
    {
        qint64 firstMs = -2, lastMs = -2, events = -1;
        std::size_t samples = 0;
        double factor = 0;
        QByteArray bytes;
    } m_csv;
};

} // namespace monitor
