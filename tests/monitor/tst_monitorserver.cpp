// The monitor's server over real sockets on a loopback address of the test's
// own, serving a source set by hand: the answers, the event stream in order,
// the key, and the limits on clients, requests and readers that fall behind.
#include "fakesource.h"
#include "httpexchange.h"
#include "monitorserver.h"
#include "readingsexport.h"
#include "testenv.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr qint64 kT0 = 1765000000000;
const QByteArray kKey = "0123456789abcdef0123456789abcdef";

// A reader that never reads, with a small receive window: what waits for it
// stays with the server.
class DeafClient
{
public:
    DeafClient(const QString& host, quint16 port, const QByteArray& request)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int size = 4096;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        ::inet_pton(AF_INET, host.toLatin1().constData(), &address.sin_addr);
        m_connected =
            ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::send(m_fd, request.constData(), size_t(request.size()), 0) == ssize_t(request.size());
    }
    ~DeafClient() { ::close(m_fd); }
    bool connected() const { return m_connected; }

private:
    int m_fd = -1;
    bool m_connected = false;
};

} // namespace

class MonitorServerTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void answers();
    void pipelinedRequestsAnsweredInOrder();
    void eventsInOrder();
    void keyAskedAndHeldInACookie();
    void startFailures();
    void clientsBeyondTheLimitGet503();
    void overlongRequestsRefused_data();
    void overlongRequestsRefused();
    void slowRequestClosed();
    void streamNobodyReadsIsCut();

private:
    monitor::MonitorServer::Limits quickLimits() const;

    std::unique_ptr<FakeSource> m_source;
    std::unique_ptr<monitor::MonitorServer> m_server;
    QString m_host;
};

monitor::MonitorServer::Limits MonitorServerTest::quickLimits() const
{
    monitor::MonitorServer::Limits limits;
    limits.requestMs = 300 * testenv::timingSlack();
    limits.keepAliveCommentMs = 200;
    return limits;
}

void MonitorServerTest::init()
{
    m_source = std::make_unique<FakeSource>();
    m_server = std::make_unique<monitor::MonitorServer>(*m_source);
    m_server->setClock([] { return kT0 + 2000; });
    m_host = testenv::uniqueLoopbackHost();
    m_source->addReading(kT0 + 1000, 23.5f, 25.0f, 1.0f, 1.0f, 1.25f, 0.3f);
}

void MonitorServerTest::cleanup()
{
    m_server.reset();
    m_source.reset();
}

void MonitorServerTest::answers()
{
    QCOMPARE(m_server->start(QHostAddress(m_host), 0, QByteArray()), QString());
    const quint16 port = m_server->port();

    const Answer status = exchange(m_host, port, get("/api/status"));
    QCOMPARE(status.status, 200);
    QVERIFY(status.head.contains("Content-Type: application/json\r\n"));
    const QJsonObject o = QJsonDocument::fromJson(status.body).object();
    QCOMPARE(o[QLatin1String("box")].toObject()[QLatin1String("address")].toString(),
             QStringLiteral("192.168.1.100"));
    QCOMPARE(o[QLatin1String("readings")].toObject()[QLatin1String("ageMs")].toInt(), 1000);

    const Answer page = exchange(m_host, port, get("/"));
    QCOMPARE(page.status, 200);
    QVERIFY(page.head.contains("\r\nContent-Security-Policy: default-src 'self'\r\n"));
    QVERIFY(page.head.contains("\r\nX-Content-Type-Options: nosniff\r\n"));
    QVERIFY(page.body.contains("<script src=\"monitor.js\""));
    // No inline script or style for the policy to refuse.
    QVERIFY(!page.body.contains("<script>") && !page.body.contains("<style") &&
            !page.body.contains(" style="));
    QVERIFY(exchange(m_host, port, get("/chart.js")).body.contains("Chart.js v3"));

    const Answer metrics = exchange(m_host, port, get("/metrics"));
    QVERIFY(metrics.body.contains("\nbaroterm_temperature_celsius 23.5\n"));
    const Answer head = exchange(m_host, port, "HEAD /metrics HTTP/1.0\r\n\r\n");
    QCOMPARE(head.status, 421); // HTTP/1.0 without a Host names no loopback
    const Answer headMetrics = exchange(
        m_host, port, "HEAD /metrics HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    QCOMPARE(headMetrics.status, 200);
    QVERIFY(headMetrics.body.isEmpty());
    QVERIFY(
        headMetrics.head.contains("Content-Length: " + QByteArray::number(metrics.body.size())));

    const Answer csv = exchange(m_host, port, get("/export.csv"));
    QCOMPARE(csv.body, records::readingsCsv(m_source->readings, 1.0));
    QVERIFY(csv.body.startsWith(records::readingsCsvHeader()));

    QCOMPARE(exchange(m_host, port, get("/../monitor/page/index.html")).status, 400);
    QCOMPARE(exchange(m_host, port, get("/nowhere")).status, 404);
    QCOMPARE(exchange(m_host, port,
                      "POST /api/status HTTP/1.1\r\nHost: localhost\r\n"
                      "Content-Length: 0\r\nConnection: close\r\n\r\n")
                 .status,
             405);
}

void MonitorServerTest::pipelinedRequestsAnsweredInOrder()
{
    QCOMPARE(m_server->start(QHostAddress(m_host), 0, QByteArray()), QString());
    QTcpSocket socket;
    socket.connectToHost(m_host, m_server->port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET /api/history?span=1h HTTP/1.1\r\nHost: localhost\r\n\r\n"
                 "GET /nowhere HTTP/1.1\r\nHost: localhost\r\n\r\n" +
                 get("/api/status"));
    QByteArray bytes;
    QTRY_VERIFY_WITH_TIMEOUT(
        (bytes += socket.readAll(), socket.state() != QAbstractSocket::ConnectedState), 5000);
    bytes += socket.readAll();
    const int second = bytes.indexOf("HTTP/1.1 404");
    const int third = bytes.lastIndexOf("HTTP/1.1 200");
    QVERIFY(bytes.startsWith("HTTP/1.1 200"));
    QVERIFY(bytes.left(second).contains("\"series\""));
    QVERIFY(second > 0 && third > second);
    QVERIFY(bytes.mid(third).contains("\"readings\""));
}

void MonitorServerTest::eventsInOrder()
{
    m_server->setLimits(quickLimits());
    QCOMPARE(m_server->start(QHostAddress(m_host), 0, QByteArray()), QString());
    QTcpSocket socket;
    socket.connectToHost(m_host, m_server->port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET /events HTTP/1.1\r\nHost: localhost\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(m_server->eventClientCount(), 1, 5000);

    monitor::RunView run;
    run.started = run.active = true;
    run.phase = QStringLiteral("Pulsing");
    m_source->addReading(kT0 + 2000, 23.6f, 25.0f, 1.0f, 1.0f, 1.25f, 0.3f);
    m_source->addEvent(kT0 + 2100, history::EventKind::Record, QStringLiteral("Record 7"));
    m_source->setRun(run);
    monitor::BoxView box = m_source->boxView;
    box.devices[3].connected = false;
    m_source->setBox(box);
    m_source->addReading(kT0 + 3000, 23.7f, 25.0f, 1.0f, 1.0f, 1.25f, 0.3f);

    QByteArray bytes;
    QTRY_VERIFY_WITH_TIMEOUT((bytes += socket.readAll(), bytes.contains(": keep-alive\n\n")), 5000);
    const Answer a = parseAnswer(bytes);
    QCOMPARE(a.status, 200);
    QVERIFY(a.head.contains("Content-Type: text/event-stream\r\n"));
    QStringList kinds;
    QList<QJsonObject> data;
    for (const QByteArray& message : a.body.split('\n')) {
        if (message.startsWith("event: "))
            kinds << QString::fromLatin1(message.mid(7));
        if (message.startsWith("data: "))
            data << QJsonDocument::fromJson(message.mid(6)).object();
    }
    QCOMPARE(kinds, (QStringList{"box", "run", "reading", "event", "run", "box", "reading"}));
    QCOMPARE(data.size(), kinds.size());
    QCOMPARE(data[2][QLatin1String("T")].toDouble(), 23.6);
    QCOMPARE(data[3][QLatin1String("text")].toString(), QStringLiteral("Record 7"));
    QCOMPARE(data[4][QLatin1String("phase")].toString(), QStringLiteral("Pulsing"));
    QCOMPARE(data[5][QLatin1String("devices")]
                 .toArray()[3]
                 .toObject()[QLatin1String("connected")]
                 .toBool(),
             false);
    QCOMPARE(data[6][QLatin1String("atMs")].toDouble(), double(kT0 + 3000));
    QVERIFY(a.body.startsWith("retry: "));
}

void MonitorServerTest::keyAskedAndHeldInACookie()
{
    QCOMPARE(m_server->start(QHostAddress(m_host), 0, kKey), QString());
    const quint16 port = m_server->port();
    const Answer none = exchange(m_host, port, get("/api/status"));
    QCOMPARE(none.status, 401);
    QVERIFY(none.body.isEmpty());
    QCOMPARE(exchange(m_host, port, get("/api/status?key=" + kKey.left(31) + "e")).status, 401);

    const Answer page = exchange(m_host, port, get("/?key=" + kKey));
    QCOMPARE(page.status, 303);
    QVERIFY(page.head.contains("\r\nLocation: /\r\n"));
    QVERIFY(page.head.contains("\r\nSet-Cookie: baroterm_key=" + kKey +
                               "; Path=/; HttpOnly; SameSite=Lax\r\n"));
    QCOMPARE(exchange(m_host, port, get("/", "Cookie: baroterm_key=" + kKey + "\r\n")).status, 200);
    QCOMPARE(exchange(m_host, port, get("/metrics?key=" + kKey)).status, 200);
}

void MonitorServerTest::startFailures()
{
    QCOMPARE(m_server->start(QHostAddress(m_host), 0, QByteArray()), QString());
    FakeSource other;
    monitor::MonitorServer second(other);
    const QString inUse = second.start(QHostAddress(m_host), m_server->port(), QByteArray());
    QVERIFY2(inUse.contains(m_host) && inUse.contains(QLatin1String("in use")), qPrintable(inUse));
    QVERIFY(!second.isListening());
    // An address of no interface here: binding it sends nothing anywhere.
    const QString foreign = second.start(QHostAddress(QStringLiteral("192.0.2.1")), 0, kKey);
    QVERIFY2(foreign.contains(QLatin1String("192.0.2.1")) &&
                 foreign.contains(QLatin1String("not available")),
             qPrintable(foreign));
    const QString keyless = second.start(QHostAddress(QStringLiteral("0.0.0.0")), 0, QByteArray());
    QVERIFY2(keyless.contains(QLatin1String("asks a key")), qPrintable(keyless));
    QVERIFY(!second.isListening());
}

void MonitorServerTest::clientsBeyondTheLimitGet503()
{
    monitor::MonitorServer::Limits limits;
    limits.maxClients = 2;
    m_server->setLimits(limits);
    QCOMPARE(m_server->start(QHostAddress(m_host), 0, QByteArray()), QString());
    QTcpSocket first, second;
    for (QTcpSocket* s : {&first, &second}) {
        s->connectToHost(m_host, m_server->port());
        QVERIFY(s->waitForConnected(5000));
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_server->clientCount(), 2, 5000);
    const Answer third = exchange(m_host, m_server->port(), QByteArray());
    QCOMPARE(third.status, 503);
    QVERIFY(third.head.contains("Retry-After: "));
    first.abort();
    QTRY_COMPARE_WITH_TIMEOUT(m_server->clientCount(), 1, 5000);
    QCOMPARE(exchange(m_host, m_server->port(), get("/api/status")).status, 200);
}

void MonitorServerTest::overlongRequestsRefused_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::newRow("request line") << get("/" + QByteArray(9000, 'a')) << 414;
    QTest::newRow("headers") << get("/", ("X-Fill: " + QByteArray(100, 'x') + "\r\n").repeated(150))
                             << 431;
}

void MonitorServerTest::overlongRequestsRefused()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QCOMPARE(m_server->start(QHostAddress(m_host), 0, QByteArray()), QString());
    const Answer a = exchange(m_host, m_server->port(), request);
    QCOMPARE(a.status, status);
    QVERIFY(a.head.contains("Connection: close\r\n"));
}

void MonitorServerTest::slowRequestClosed()
{
    m_server->setLimits(quickLimits());
    QCOMPARE(m_server->start(QHostAddress(m_host), 0, QByteArray()), QString());
    QTcpSocket socket;
    socket.connectToHost(m_host, m_server->port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET /api/status HTTP/1.1\r\nHost: local"); // and nothing more
    QElapsedTimer timer;
    timer.start();
    QTRY_VERIFY_WITH_TIMEOUT(socket.state() == QAbstractSocket::UnconnectedState, 5000);
    QVERIFY(timer.elapsed() >= 250);
    QVERIFY(socket.readAll().isEmpty());
    QCOMPARE(m_server->clientCount(), 0);
}

void MonitorServerTest::streamNobodyReadsIsCut()
{
    QCOMPARE(m_server->start(QHostAddress(m_host), 0, QByteArray()), QString());
    QTcpSocket reader;
    qint64 readerBytes = 0;
    connect(&reader, &QTcpSocket::readyRead, this, [&] { readerBytes += reader.readAll().size(); });
    reader.connectToHost(m_host, m_server->port());
    QVERIFY(reader.waitForConnected(5000));
    reader.write("GET /events HTTP/1.1\r\nHost: localhost\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(m_server->eventClientCount(), 1, 5000);
    DeafClient deaf(m_host, m_server->port(), "GET /events HTTP/1.1\r\nHost: localhost\r\n\r\n");
    QVERIFY(deaf.connected());
    QTRY_COMPARE_WITH_TIMEOUT(m_server->eventClientCount(), 2, 5000);

    // Events of the longest text the record keeps, until the deaf stream is
    // cut; the kernel's buffers take some megabytes first.
    const QString text(history::ReadingHistory::kMaxEventTextBytes, QLatin1Char('w'));
    qint64 sent = 0;
    for (int batch = 0; batch < 2000 && m_server->eventClientCount() == 2; ++batch) {
        for (int i = 0; i < 100; ++i) {
            m_source->addEvent(kT0 + sent, history::EventKind::Warning, text);
            ++sent;
        }
        QCoreApplication::processEvents();
    }
    QCOMPARE(m_server->eventClientCount(), 1);
    QVERIFY2(sent * 200 > (1 << 20), qPrintable(QString::number(sent)));
    // The one that reads keeps its stream and gets every event.
    m_source->addEvent(kT0 + sent, history::EventKind::Record, QStringLiteral("Last"));
    QTRY_VERIFY_WITH_TIMEOUT(readerBytes > sent * 200, 10000);
    QCOMPARE(m_server->eventClientCount(), 1);
}

QTEST_GUILESS_MAIN(MonitorServerTest)
#include "tst_monitorserver.moc"
