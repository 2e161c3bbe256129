// The monitor's requests as pure code: the parser's limits and grammar, the
// router's paths, methods, queries and keys, and the listening address and
// key file of the front-ends.
#include "access.h"
#include "httprequest.h"
#include "router.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using monitor::RequestParser;
using monitor::Route;
using State = monitor::RequestParser::State;

Q_DECLARE_METATYPE(monitor::RequestParser::State)
Q_DECLARE_METATYPE(monitor::Route)
Q_DECLARE_METATYPE(chartscale::Span)

namespace {

QByteArray get(const QByteArray& target, const QByteArray& headers = "Host: 127.0.3.1\r\n")
{
    return "GET " + target + " HTTP/1.1\r\n" + headers + "\r\n";
}

monitor::Request request(const QByteArray& method, const QByteArray& target,
                         const QByteArray& host = "127.0.3.1", const QByteArray& cookie = {})
{
    monitor::Request r;
    r.method = method;
    r.target = target;
    if (!host.isNull())
        r.headers.push_back({"host", host});
    if (!cookie.isNull())
        r.headers.push_back({"cookie", cookie});
    return r;
}

const QByteArray kKey = "0123456789abcdef0123456789abcdef";

} // namespace

class MonitorHttpTest : public QObject
{
    Q_OBJECT
private slots:
    void parser_data();
    void parser();
    void parserTakesPipelinedRequests();
    void keepAlive_data();
    void keepAlive();
    void router_data();
    void router();
    void keys_data();
    void keys();
    void answersCarryTheirSecurityHeaders();
    void endpoints_data();
    void endpoints();
    void keyRequired_data();
    void keyRequired();
    void keyFile();
    void keyOfAnEndpoint();
};

void MonitorHttpTest::parser_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<State>("state");
    QTest::addColumn<int>("status"); // on failure
    QTest::addColumn<QByteArray>("target");
    const QByteArray line8k = "GET /" + QByteArray(8 * 1024 - 14, 'a') + " HTTP/1.1"; // 8 KiB
    const QByteArray header = "X-Fill: " + QByteArray(150, 'x') + "\r\n";

    QTest::newRow("get") << get("/api/status") << State::Complete << 0 << QByteArray("/api/status");
    QTest::newRow("head, 1.0 without host")
        << QByteArray("HEAD / HTTP/1.0\r\n\r\n") << State::Complete << 0 << QByteArray("/");
    QTest::newRow("bare line feeds")
        << QByteArray("GET /x HTTP/1.1\nHost: a\n\n") << State::Complete << 0 << QByteArray("/x");
    QTest::newRow("empty lines before")
        << "\r\n\r\n" + get("/") << State::Complete << 0 << QByteArray("/");
    QTest::newRow("any method is read") << QByteArray("DELETE / HTTP/1.1\r\nHost: a\r\n\r\n")
                                        << State::Complete << 0 << QByteArray("/");
    QTest::newRow("no end of headers yet")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n") << State::Incomplete << 0 << QByteArray();
    QTest::newRow("zero length body")
        << get("/", "Host: a\r\nContent-Length: 0\r\n") << State::Complete << 0 << QByteArray("/");
    QTest::newRow("request line of 8 KiB")
        << line8k + "\r\nHost: a\r\n\r\n"
        << State::Complete << 0 << line8k.mid(4, line8k.size() - 13);
    QTest::newRow("request line beyond 8 KiB")
        << "GET /" + QByteArray(8 * 1024, 'a') + " HTTP/1.1\r\n\r\n"
        << State::Failed << 414 << QByteArray();
    QTest::newRow("endless request line")
        << "GET /" + QByteArray(9000, 'a') << State::Failed << 414 << QByteArray();
    QTest::newRow("100 header lines")
        << get("/", "Host: a\r\n" + header.repeated(99)) << State::Complete << 0 << QByteArray("/");
    QTest::newRow("101 header lines")
        << get("/", "Host: a\r\n" + header.repeated(100)) << State::Failed << 431 << QByteArray();
    QTest::newRow("headers beyond 16 KiB")
        << get("/", "Host: a\r\nX-Big: " + QByteArray(16 * 1024, 'x') + "\r\n") << State::Failed
        << 431 << QByteArray();
    QTest::newRow("endless header line")
        << "GET / HTTP/1.1\r\nX: " + QByteArray(17000, 'x') << State::Failed << 431 << QByteArray();
    QTest::newRow("a body") << get("/", "Host: a\r\nContent-Length: 5\r\n") + "hello"
                            << State::Failed << 400 << QByteArray();
    QTest::newRow("chunked body") << get("/", "Host: a\r\nTransfer-Encoding: chunked\r\n")
                                  << State::Failed << 400 << QByteArray();
    QTest::newRow("two spaces") << QByteArray("GET  / HTTP/1.1\r\nHost: a\r\n\r\n") << State::Failed
                                << 400 << QByteArray();
    QTest::newRow("no version") << QByteArray("GET /\r\n\r\n") << State::Failed << 400
                                << QByteArray();
    QTest::newRow("version 2") << QByteArray("GET / HTTP/2.0\r\n\r\n") << State::Failed << 505
                               << QByteArray();
    QTest::newRow("not a version")
        << QByteArray("GET / HTTP/1.1x\r\n\r\n") << State::Failed << 400 << QByteArray();
    QTest::newRow("control in target") << QByteArray("GET /a\x01 HTTP/1.1\r\nHost: a\r\n\r\n")
                                       << State::Failed << 400 << QByteArray();
    QTest::newRow("header without colon")
        << get("/", "Host: a\r\nNoColon\r\n") << State::Failed << 400 << QByteArray();
    QTest::newRow("space before colon")
        << get("/", "Host : a\r\n") << State::Failed << 400 << QByteArray();
    QTest::newRow("folded header")
        << get("/", "Host: a\r\nX: 1\r\n 2\r\n") << State::Failed << 400 << QByteArray();
    QTest::newRow("zero byte in value")
        << get("/", QByteArray("Host: a\0b\r\n", 11)) << State::Failed << 400 << QByteArray();
    QTest::newRow("1.1 without host")
        << QByteArray("GET / HTTP/1.1\r\n\r\n") << State::Failed << 400 << QByteArray();
    QTest::newRow("two hosts") << get("/", "Host: a\r\nHost: b\r\n") << State::Failed << 400
                               << QByteArray();
}

void MonitorHttpTest::parser()
{
    QFETCH(QByteArray, bytes);
    QFETCH(State, state);
    QFETCH(int, status);
    QFETCH(QByteArray, target);
    // Whole, and a byte at a time: the connection decides how bytes come.
    for (const bool byByte : {false, true}) {
        RequestParser parser;
        State got = State::Incomplete;
        if (byByte) {
            for (int i = 0; i < bytes.size() && got == State::Incomplete; ++i)
                got = parser.feed(bytes.mid(i, 1));
        } else {
            got = parser.feed(bytes);
        }
        QCOMPARE(got, state);
        if (state == State::Failed)
            QCOMPARE(parser.failureStatus(), status);
        if (state == State::Complete)
            QCOMPARE(parser.request().target, target);
        // Nothing beyond a line is held while a request comes in.
        QVERIFY(parser.pendingBytes() <= 17 * 1024);
    }
}

void MonitorHttpTest::parserTakesPipelinedRequests()
{
    RequestParser parser;
    QCOMPARE(parser.feed(get("/a") + get("/b") + "GET /c"), State::Complete);
    QCOMPARE(parser.request().target, QByteArray("/a"));
    QCOMPARE(parser.next(), State::Complete);
    QCOMPARE(parser.request().target, QByteArray("/b"));
    QCOMPARE(parser.next(), State::Incomplete);
    QCOMPARE(parser.feed(" HTTP/1.1\r\nHost: a\r\n\r\n"), State::Complete);
    QCOMPARE(parser.request().target, QByteArray("/c"));
}

void MonitorHttpTest::keepAlive_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("keepAlive");
    QTest::newRow("1.1") << get("/") << true;
    QTest::newRow("1.1 close") << get("/", "Host: a\r\nConnection: Close\r\n") << false;
    QTest::newRow("1.0") << QByteArray("GET / HTTP/1.0\r\n\r\n") << false;
    QTest::newRow("1.0 keep-alive")
        << QByteArray("GET / HTTP/1.0\r\nConnection: foo, keep-alive\r\n\r\n") << true;
}

void MonitorHttpTest::keepAlive()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, keepAlive);
    RequestParser parser;
    QCOMPARE(parser.feed(bytes), State::Complete);
    QCOMPARE(parser.request().keepAlive(), keepAlive);
}

void MonitorHttpTest::router_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("status");
    QTest::addColumn<Route>("route");
    QTest::addColumn<chartscale::Span>("span");
    const QByteArray host = "127.0.3.1:8080";
    const auto tenMinutes = chartscale::Span::TenMinutes;

    QTest::newRow("page") << QByteArray("GET") << QByteArray("/") << host << 200 << Route::Page
                          << tenMinutes;
    QTest::newRow("head") << QByteArray("HEAD") << QByteArray("/metrics") << host << 200
                          << Route::Metrics << tenMinutes;
    QTest::newRow("script") << QByteArray("GET") << QByteArray("/monitor.js") << host << 200
                            << Route::Script << tenMinutes;
    QTest::newRow("chart library") << QByteArray("GET") << QByteArray("/chart.js") << host << 200
                                   << Route::ChartLibrary << tenMinutes;
    QTest::newRow("export") << QByteArray("GET") << QByteArray("/export.csv") << host << 200
                            << Route::ExportCsv << tenMinutes;
    QTest::newRow("events") << QByteArray("GET") << QByteArray("/events") << host << 200
                            << Route::Events << tenMinutes;
    QTest::newRow("history, no span") << QByteArray("GET") << QByteArray("/api/history") << host
                                      << 200 << Route::History << tenMinutes;
    QTest::newRow("history, 1 h") << QByteArray("GET") << QByteArray("/api/history?span=1h") << host
                                  << 200 << Route::History << chartscale::Span::OneHour;
    QTest::newRow("history, run") << QByteArray("GET") << QByteArray("/api/history?&span=run&")
                                  << host << 200 << Route::History << chartscale::Span::WholeRun;
    QTest::newRow("escaped path") << QByteArray("GET") << QByteArray("/api/%73tatus") << host << 200
                                  << Route::Status << tenMinutes;
    QTest::newRow("a key where none is asked")
        << QByteArray("GET") << QByteArray("/api/status?key=x") << host << 200 << Route::Status
        << tenMinutes;
    QTest::newRow("localhost") << QByteArray("GET") << QByteArray("/") << QByteArray("LocalHost")
                               << 200 << Route::Page << tenMinutes;
    QTest::newRow("ipv6 loopback") << QByteArray("GET") << QByteArray("/") << QByteArray("[::1]:80")
                                   << 200 << Route::Page << tenMinutes;

    const QList<QByteArray> badPaths = {
        "/..",    "/../etc/passwd", "/%2e%2e/x", "/a/%2E%2e", "/./api/status",
        "/%00",   "/x%00.js",       "/%zz",      "/%2",       "/a\\b",
        "/%5c..", "http://h/",      "*",         "/#x",       "/api/history?span=%zz"};
    for (const QByteArray& path : badPaths)
        QTest::newRow(("bad " + path).constData())
            << QByteArray("GET") << path << host << 400 << Route::Page << tenMinutes;
    QTest::newRow("unknown span") << QByteArray("GET") << QByteArray("/api/history?span=2h") << host
                                  << 400 << Route::Page << tenMinutes;
    QTest::newRow("span twice") << QByteArray("GET") << QByteArray("/api/history?span=1h&span=1h")
                                << host << 400 << Route::Page << tenMinutes;
    QTest::newRow("unknown query") << QByteArray("GET") << QByteArray("/api/status?span=1h") << host
                                   << 400 << Route::Page << tenMinutes;
    QTest::newRow("post") << QByteArray("POST") << QByteArray("/") << host << 405 << Route::Page
                          << tenMinutes;
    QTest::newRow("options") << QByteArray("OPTIONS") << QByteArray("/nowhere") << host << 405
                             << Route::Page << tenMinutes;
    const QList<QByteArray> unknown = {"/index.html", "/api/status/", "//", "/API/STATUS",
                                       "/favicon.ico"};
    for (const QByteArray& path : unknown)
        QTest::newRow(("unknown " + path).constData())
            << QByteArray("GET") << path << host << 404 << Route::Page << tenMinutes;
    QTest::newRow("host of another name")
        << QByteArray("GET") << QByteArray("/") << QByteArray("monitor.example:8080") << 421
        << Route::Page << tenMinutes;
    QTest::newRow("host of another address")
        << QByteArray("GET") << QByteArray("/") << QByteArray("192.0.2.1") << 421 << Route::Page
        << tenMinutes;
    QTest::newRow("unclosed bracket") << QByteArray("GET") << QByteArray("/") << QByteArray("[::1")
                                      << 421 << Route::Page << tenMinutes;
    QTest::newRow("no host") << QByteArray("GET") << QByteArray("/") << QByteArray() << 421
                             << Route::Page << tenMinutes;
}

void MonitorHttpTest::router()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, host);
    QFETCH(int, status);
    QFETCH(Route, route);
    QFETCH(chartscale::Span, span);
    const monitor::Routed r = monitor::route(request(method, target, host), QByteArray());
    QCOMPARE(r.status, status);
    if (status == 200) {
        QCOMPARE(r.route, route);
        QCOMPARE(r.span, span);
        QCOMPARE(r.head, method == "HEAD");
        QVERIFY(!r.keyInQuery);
    }
}

void MonitorHttpTest::keys_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("cookie");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("keyInQuery");
    const QByteArray none;
    const QByteArray cookie = "a=b; baroterm_key=" + kKey + "; c=d";
    const QByteArray wrong = QByteArray(kKey).replace(31, 1, "0");

    QTest::newRow("in the query") << QByteArray("GET") << "/?key=" + kKey << none << 200 << true;
    QTest::newRow("escaped in the query")
        << QByteArray("GET") << "/api/status?key=%30" + kKey.mid(1) << none << 200 << true;
    QTest::newRow("in the cookie")
        << QByteArray("GET") << QByteArray("/api/status") << cookie << 200 << false;
    QTest::newRow("quoted cookie")
        << QByteArray("GET") << QByteArray("/") << "baroterm_key=\"" + kKey + '"' << 200 << false;
    QTest::newRow("missing") << QByteArray("GET") << QByteArray("/api/status") << none << 401
                             << false;
    QTest::newRow("empty") << QByteArray("GET") << QByteArray("/?key=") << none << 401 << false;
    QTest::newRow("last digit wrong")
        << QByteArray("GET") << "/?key=" + wrong << none << 401 << false;
    QTest::newRow("a prefix") << QByteArray("GET") << "/?key=" + kKey.left(16) << none << 401
                              << false;
    QTest::newRow("longer") << QByteArray("GET") << "/?key=" + kKey + "0" << none << 401 << false;
    QTest::newRow("wrong in the query, right in the cookie")
        << QByteArray("GET") << "/?key=" + wrong << cookie << 401 << false;
    QTest::newRow("wrong cookie") << QByteArray("GET") << QByteArray("/") << "baroterm_key=" + wrong
                                  << 401 << false;
    QTest::newRow("another cookie's value")
        << QByteArray("GET") << QByteArray("/") << "other_baroterm_key=" + kKey << 401 << false;
    // Without the key nothing else is learnt: no 404, no 405.
    QTest::newRow("unknown path, no key")
        << QByteArray("GET") << QByteArray("/nowhere") << none << 401 << false;
    QTest::newRow("post, no key") << QByteArray("POST") << QByteArray("/") << none << 401 << false;
    QTest::newRow("unknown path, key")
        << QByteArray("GET") << "/nowhere?key=" + kKey << none << 404 << true;
    QTest::newRow("post, key") << QByteArray("POST") << QByteArray("/") << cookie << 405 << false;
}

void MonitorHttpTest::keys()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, cookie);
    QFETCH(int, status);
    QFETCH(bool, keyInQuery);
    // With a key, any Host will do: the key is what counts.
    const monitor::Routed r =
        monitor::route(request(method, target, "monitor.example", cookie), kKey);
    QCOMPARE(r.status, status);
    if (status == 200)
        QCOMPARE(r.keyInQuery, keyInQuery);
    QCOMPARE(monitor::sameKey(kKey, kKey), true);
    QCOMPARE(monitor::sameKey(QByteArray(), QByteArray()), false);
}

void MonitorHttpTest::answersCarryTheirSecurityHeaders()
{
    const QByteArray head = monitor::responseHead(200, "text/html", 5, true);
    QVERIFY(head.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(head.contains("\r\nContent-Security-Policy: default-src 'self'\r\n"));
    QVERIFY(head.contains("\r\nX-Content-Type-Options: nosniff\r\n"));
    QVERIFY(head.contains("\r\nContent-Length: 5\r\n"));
    QVERIFY(head.endsWith("\r\n\r\n"));
    const QByteArray unauthorized = monitor::errorResponse(401, true);
    QVERIFY(unauthorized.contains("\r\nContent-Length: 0\r\n"));
    QVERIFY(unauthorized.endsWith("\r\n\r\n"));
    QVERIFY(monitor::errorResponse(405, true).contains("\r\nAllow: GET, HEAD\r\n"));
    QVERIFY(monitor::errorResponse(404, false, true).endsWith("\r\n\r\n")); // HEAD: no body
}

void MonitorHttpTest::endpoints_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address"); // empty: refused
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("error");
    QTest::newRow("port only") << "8080"
                               << "127.0.0.1" << 8080 << "";
    QTest::newRow("ipv4") << "0.0.0.0:80"
                          << "0.0.0.0" << 80 << "";
    QTest::newRow("loopback") << "127.0.3.4:65535"
                              << "127.0.3.4" << 65535 << "";
    QTest::newRow("ipv6") << "[::1]:8080"
                          << "::1" << 8080 << "";
    QTest::newRow("ipv6 any") << "[::]:1"
                              << "::" << 1 << "";
    QTest::newRow("ipv6 unbracketed") << "::1:8080"
                                      << "" << 0 << "in brackets, as [::1]:8080";
    QTest::newRow("brackets, no port") << "[::1]"
                                       << "" << 0 << "followed by :PORT";
    QTest::newRow("ipv4 in brackets") << "[127.0.0.1]:80"
                                      << "" << 0 << "only an IPv6 address goes in brackets";
    QTest::newRow("host name") << "localhost:80"
                               << "" << 0 << "\"localhost\" is not an IP address";
    QTest::newRow("address, no port") << "127.0.0.1"
                                      << "" << 0 << "not a port";
    QTest::newRow("empty port") << "127.0.0.1:"
                                << "" << 0 << "not a port";
    QTest::newRow("port 0") << "0"
                            << "" << 0 << "not a port from 1 to 65535";
    QTest::newRow("port too big") << "65536"
                                  << "" << 0 << "not a port";
    QTest::newRow("signed port") << "+80"
                                 << "" << 0 << "not a port";
    QTest::newRow("spaced port") << "127.0.0.1: 80"
                                 << "" << 0 << "not a port";
    QTest::newRow("empty") << ""
                           << "" << 0 << "not a port";
}

void MonitorHttpTest::endpoints()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(QString, error);
    const monitor::EndpointParse parsed = monitor::parseEndpoint(text);
    if (address.isEmpty()) {
        QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
        return;
    }
    QCOMPARE(parsed.error, QString());
    QCOMPARE(parsed.endpoint.address, QHostAddress(address));
    QCOMPARE(int(parsed.endpoint.port), port);
}

void MonitorHttpTest::keyRequired_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("keyFile");
    QTest::addColumn<bool>("required");
    QTest::newRow("127.0.0.1") << "127.0.0.1" << false << false;
    QTest::newRow("127.3.4.5") << "127.3.4.5" << false << false;
    QTest::newRow("::1") << "::1" << false << false;
    QTest::newRow("loopback with a key file") << "127.0.0.1" << true << true;
    QTest::newRow("any") << "0.0.0.0" << false << true;
    QTest::newRow("ipv6 any") << "::" << false << true;
    QTest::newRow("lab network") << "192.168.1.10" << false << true;
}

void MonitorHttpTest::keyRequired()
{
    QFETCH(QString, address);
    QFETCH(bool, keyFile);
    QFETCH(bool, required);
    QCOMPARE(monitor::keyRequired(QHostAddress(address), keyFile), required);
}

void MonitorHttpTest::keyFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("monitor.key"));
    const monitor::KeyFile made = monitor::readOrCreateKeyFile(path);
    QCOMPARE(made.error, QString());
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$"))
                .match(QString::fromLatin1(made.key))
                .hasMatch());
    QVERIFY(made.key != monitor::newAccessKey());
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0600);
    QCOMPARE(monitor::readOrCreateKeyFile(path).key, made.key); // read, not made again

    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    QVERIFY(monitor::readOrCreateKeyFile(path).error.contains(QLatin1String("chmod 600")));
    QVERIFY(monitor::readOrCreateKeyFile(path).key.isEmpty());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    QVERIFY(monitor::readOrCreateKeyFile(path).key.isEmpty());

    const QString own = dir.filePath(QStringLiteral("own.key"));
    for (const QByteArray& content :
         {QByteArray("  my-own_key.of~20chars  \n"), QByteArray("short\n"),
          QByteArray("with space inside the key\n"), QByteArray()}) {
        QFile file(own);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        QFile::setPermissions(own, QFile::ReadOwner | QFile::WriteOwner);
        const monitor::KeyFile read = monitor::readOrCreateKeyFile(own);
        QCOMPARE(read.key,
                 content.startsWith("  my") ? QByteArray("my-own_key.of~20chars") : QByteArray());
        QCOMPARE(read.error.isEmpty(), !read.key.isEmpty());
    }
    QVERIFY(monitor::readOrCreateKeyFile(dir.path()).error.contains(QLatin1String("not a file")));
    QVERIFY(monitor::readOrCreateKeyFile(dir.filePath(QStringLiteral("no/such/dir/key")))
                .error.contains(QLatin1String("Can't make")));
}

void MonitorHttpTest::keyOfAnEndpoint()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    const auto keyAt = [&](const char* address, const QString& keyFile = QString()) {
        monitor::Endpoint endpoint;
        endpoint.address = QHostAddress(QLatin1String(address));
        endpoint.port = 8080;
        return monitor::accessKeyFor(endpoint, keyFile, settings).key;
    };
    QVERIFY(keyAt("127.0.0.1").isEmpty());
    QVERIFY(keyAt("::1").isEmpty());
    QVERIFY(settings.allKeys().isEmpty());
    // Made at first use and kept: the page's address stays valid across starts.
    const QByteArray kept = keyAt("0.0.0.0");
    QCOMPARE(kept.size(), 32);
    QCOMPARE(keyAt("192.168.1.10"), kept);
    settings.setValue(QStringLiteral("monitor/accessKey"), QByteArray("bad key"));
    const QByteArray remade = keyAt("0.0.0.0");
    QVERIFY(remade.size() == 32 && remade != kept);
    // A key file wins, on the loopback too.
    const QString file = dir.filePath(QStringLiteral("monitor.key"));
    const QByteArray fromFile = keyAt("127.0.0.1", file);
    QCOMPARE(fromFile.size(), 32);
    QVERIFY(fromFile != remade);
    QCOMPARE(keyAt("0.0.0.0", file), fromFile);
}

QTEST_GUILESS_MAIN(MonitorHttpTest)
#include "tst_monitorhttp.moc"
