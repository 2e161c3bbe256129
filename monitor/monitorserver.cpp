#include "monitorserver.h"

#include "monitordata.h"
#include "readingsexport.h"
#include "router.h"

#include <QDateTime>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

// Outside any namespace, as the resource system wants it.
static void registerMonitorResources()
{
    Q_INIT_RESOURCE(monitor);
}

namespace monitor {

namespace {

constexpr int kChunkBytes = 64 * 1024;
// Connections turned away with a 503 at once; beyond these they are just closed.
constexpr int kMaxRejecting = 32;
constexpr int kRejectLingerMs = 2000;

QByteArray resource(const char* name)
{
    QFile file(QLatin1String(":/monitor/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("monitor resource %s missing", name);
    return file.readAll();
}

const QByteArray kJson = "application/json";
const QByteArray kEventStreamHead = "Content-Type: text/event-stream\r\n"
                                    "Connection: close\r\n";

} // namespace

struct MonitorServer::Client
{
    QTcpSocket* socket = nullptr;
    QTimer* timer = nullptr; // the request's deadline, or the answer's stall
    RequestParser parser;
    QByteArray body;
    int sent = 0;
    bool busy = false;   // an answer is under way
    bool queued = false; // a request read is waiting for its answer
    bool closeAfter = false;
    bool events = false;
};

MonitorServer::MonitorServer(const Source& source, QObject* parent)
    : QObject(parent), m_source(source), m_now([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    Q_ASSERT(QThread::currentThread() == source.thread());
    registerMonitorResources();
    const QByteArray script = "text/javascript; charset=utf-8";
    m_files = {{Route::Page, "text/html; charset=utf-8", resource("index.html")},
               {Route::Script, script, resource("monitor.js")},
               {Route::Style, "text/css; charset=utf-8", resource("monitor.css")},
               {Route::ChartLibrary, script, resource("chart.min.js")}};

    connect(&m_server, &QTcpServer::newConnection, this, &MonitorServer::acceptPending);
    connect(&m_keepAlive, &QTimer::timeout, this, [this] { broadcast(": keep-alive\n\n"); });

    // Each message is made once and only while someone follows the stream.
    connect(&source, &Source::readingAdded, this, [this] {
        const history::ReadingHistory& h = m_source.history();
        if (eventClientCount() > 0 && h.sampleCount() > 0)
            broadcast(eventStreamMessage(
                "reading", readingJson(h.sample(h.sampleCount() - 1), m_source.box().unitFactor)));
    });
    connect(&source, &Source::eventAdded, this, [this] {
        const auto& events = m_source.history().events();
        if (eventClientCount() > 0 && !events.empty())
            broadcast(eventStreamMessage("event", eventJson(events.back())));
    });
    connect(&source, &Source::runChanged, this, [this] {
        if (eventClientCount() > 0)
            broadcast(eventStreamMessage("run", runJson(m_source.run(), m_source.box(), m_now())));
    });
    connect(&source, &Source::boxChanged, this, [this] {
        if (eventClientCount() > 0)
            broadcast(eventStreamMessage("box", boxJson(m_source.box())));
    });
}

MonitorServer::~MonitorServer()
{
    stop();
}

void MonitorServer::setLimits(const Limits& limits)
{
    m_limits = limits;
    m_keepAlive.setInterval(limits.keepAliveCommentMs);
}

void MonitorServer::setClock(std::function<qint64()> nowMs)
{
    m_now = std::move(nowMs);
}

QString MonitorServer::start(const QHostAddress& address, quint16 port, const QByteArray& key)
{
    stop();
    const QString where = QStringLiteral("%1 port %2").arg(address.toString()).arg(port);
    if (key.isEmpty() && !address.isLoopback())
        return QStringLiteral("The monitor asks a key on %1: it is not a loopback address")
            .arg(address.toString());
    if (!m_server.listen(address, port))
        return QStringLiteral("The monitor can't listen on %1: %2")
            .arg(where, m_server.errorString());
    m_key = key;
    m_keepAlive.start(m_limits.keepAliveCommentMs);
    return QString();
}

void MonitorServer::stop()
{
    m_server.close();
    m_keepAlive.stop();
    while (!m_clients.empty())
        drop(m_clients.begin()->first);
}

int MonitorServer::eventClientCount() const
{
    int n = 0;
    for (const auto& c : m_clients)
        n += c.second->events ? 1 : 0;
    return n;
}

MonitorServer::Client* MonitorServer::find(QTcpSocket* socket)
{
    const auto it = m_clients.find(socket);
    return it == m_clients.end() ? nullptr : it->second.get();
}

void MonitorServer::acceptPending()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (int(m_clients.size()) >= m_limits.maxClients) {
            reject(socket);
            continue;
        }
        auto client = std::make_unique<Client>();
        client->socket = socket;
        client->parser = RequestParser(m_limits.parser);
        client->timer = new QTimer(socket);
        client->timer->setSingleShot(true);
        // Bytes beyond these stay with the kernel, so a client cannot make us hold more.
        socket->setReadBufferSize(kChunkBytes);
        connect(client->timer, &QTimer::timeout, this, [this, socket] { drop(socket); });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (Client* c = find(socket))
                readFrom(*c);
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            if (Client* c = find(socket))
                pump(*c);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
        client->timer->start(m_limits.requestMs);
        Client& c = *client;
        m_clients.emplace(socket, std::move(client));
        if (socket->bytesAvailable() > 0)
            readFrom(c);
    }
}

void MonitorServer::reject(QTcpSocket* socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (m_rejecting >= kMaxRejecting) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_rejecting;
    connect(socket, &QObject::destroyed, this, [this] { --m_rejecting; });
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    socket->write(errorResponse(503, false));
    socket->disconnectFromHost();
    QTimer::singleShot(kRejectLingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void MonitorServer::readFrom(Client& c)
{
    if (c.events) {
        c.socket->readAll(); // nothing more is asked on a stream
        return;
    }
    if (c.busy || c.queued)
        return; // the next request waits until this answer is out
    if (c.parser.feed(c.socket->readAll()) != RequestParser::State::Incomplete)
        answer(c);
}

void MonitorServer::answer(Client& c)
{
    c.timer->stop();
    if (c.parser.state() == RequestParser::State::Failed) {
        send(c, errorResponse(c.parser.failureStatus(), false), QByteArray(), true);
        return;
    }
    const Request& request = c.parser.request();
    const Routed routed = route(request, m_key);
    const bool keepAlive = request.keepAlive();
    if (routed.status != 200) {
        send(c, errorResponse(routed.status, keepAlive, request.method == "HEAD"), QByteArray(),
             !keepAlive);
        return;
    }
    QByteArray extra;
    // Lax, not Strict: the address with its key is often opened from a link
    // on another site, and the redirect that follows must carry the cookie.
    if (routed.keyInQuery)
        extra = "Set-Cookie: " + QByteArray(kKeyCookie) + '=' + m_key +
                "; Path=/; HttpOnly; SameSite=Lax\r\n";

    QByteArray body, type;
    const qint64 now = m_now();
    if (routed.route == Route::Page && routed.keyInQuery) {
        // The key leaves the address bar; the cookie carries it from here.
        send(c, responseHead(303, QByteArray(), 0, keepAlive, extra + "Location: /\r\n"),
             QByteArray(), !keepAlive);
        return;
    }
    switch (routed.route) {
    case Route::Page:
    case Route::Script:
    case Route::Style:
    case Route::ChartLibrary:
        for (const File& file : m_files) {
            if (file.route == routed.route) {
                body = file.body;
                type = file.type;
            }
        }
        break;
    case Route::Status:
        body = statusJson(m_source.history(), m_source.box(), m_source.run(), now);
        type = kJson;
        break;
    case Route::History:
        body = historyJson(m_source.history(), m_source.box(), m_source.run(), routed.span, now);
        type = kJson;
        break;
    case Route::Metrics:
        body = metricsText(m_source.history(), m_source.box(), m_source.run(), m_source.counters());
        type = "text/plain; version=0.0.4; charset=utf-8";
        break;
    case Route::ExportCsv:
        body = exportCsv();
        type = "text/csv; charset=utf-8";
        extra += "Content-Disposition: attachment; filename=\"readings.csv\"\r\n";
        break;
    case Route::Events: {
        const QByteArray head = responseHead(200, QByteArray(), -1, false,
                                             extra + "Content-Type: text/event-stream\r\n");
        if (routed.head) {
            send(c, head, QByteArray(), true);
            return;
        }
        // The stream opens with the state, so a page needs nothing else to follow it.
        const BoxView box = m_source.box();
        c.events = true;
        c.busy = true;
        c.socket->write(head + "retry: 3000\n\n" + eventStreamMessage("box", boxJson(box)) +
                        eventStreamMessage("run", runJson(m_source.run(), box, now)));
        c.socket->readAll();
        return;
    }
    }
    const QByteArray head = responseHead(200, type, body.size(), keepAlive, extra);
    send(c, head, routed.head ? QByteArray() : body, !keepAlive);
}

void MonitorServer::send(Client& c, const QByteArray& head, const QByteArray& body, bool closeAfter)
{
    c.busy = true;
    c.closeAfter = closeAfter;
    c.body = body;
    c.sent = 0;
    c.socket->write(head);
    pump(c);
}

void MonitorServer::pump(Client& c)
{
    if (!c.busy || c.events)
        return;
    // Handed over a chunk at a time, so a large export is not copied whole
    // into every socket's buffer.
    while (c.sent < c.body.size() && c.socket->bytesToWrite() < kChunkBytes) {
        const int n = std::min(kChunkBytes, int(c.body.size()) - c.sent);
        c.socket->write(c.body.constData() + c.sent, n);
        c.sent += n;
    }
    c.timer->start(m_limits.stalledMs);
    if (c.sent < c.body.size())
        return;
    if (c.closeAfter) {
        // Closed once the kernel has it all; the timer ends a peer that never takes it.
        if (c.socket->state() == QAbstractSocket::ConnectedState)
            c.socket->disconnectFromHost(); // may drop the client at once
        return;
    }
    c.busy = false;
    c.body.clear();
    QTcpSocket* socket = c.socket;
    if (c.parser.next() == RequestParser::State::Incomplete) {
        c.timer->start(m_limits.requestMs);
        if (socket->bytesAvailable() == 0)
            return;
    } else {
        c.queued = true; // a request already in: reads wait until it is answered
    }
    // From the event loop, so pipelined requests never nest.
    QTimer::singleShot(0, this, [this, socket] {
        Client* next = find(socket);
        if (!next || next->busy)
            return;
        if (next->queued) {
            next->queued = false;
            answer(*next);
        } else {
            readFrom(*next);
        }
    });
}

void MonitorServer::drop(QTcpSocket* socket)
{
    const auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    const std::unique_ptr<Client> client = std::move(it->second);
    m_clients.erase(it);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void MonitorServer::broadcast(const QByteArray& message)
{
    std::vector<QTcpSocket*> cut;
    for (const auto& entry : m_clients) {
        Client& c = *entry.second;
        if (!c.events)
            continue;
        // A stream nobody reads is cut rather than held in memory.
        if (c.socket->bytesToWrite() + message.size() > m_limits.maxEventBacklog)
            cut.push_back(c.socket);
        else
            c.socket->write(message);
    }
    for (QTcpSocket* socket : cut)
        drop(socket);
}

QByteArray MonitorServer::exportCsv()
{
    // One copy for every download of the same record.
    const history::ReadingHistory& h = m_source.history();
    const double factor = m_source.box().unitFactor;
    if (m_csv.firstMs != h.firstMs() || m_csv.lastMs != h.lastMs() ||
        m_csv.samples != h.sampleCount() || m_csv.events != h.eventsAdded() ||
        m_csv.factor != factor) {
        m_csv = {h.firstMs(),     h.lastMs(), h.eventsAdded(),
                 h.sampleCount(), factor,     records::readingsCsv(h, factor)};
    }
    return m_csv.bytes;
}

} // namespace monitor
