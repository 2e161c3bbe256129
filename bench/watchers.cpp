// baroterm-bench-watchers: the monitor's watchers, in a process of their own so
// that their CPU time is not the program's. Keeps CLIENTS event streams open
// and asks /api/status RATE times a second (0: never), each on a connection of its own,
// until SIGTERM; then prints one figure per line.
//   baroterm-bench-watchers HOST PORT CLIENTS RATE
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onTerm(int)
{
    g_stop = 1;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: baroterm-bench-watchers HOST PORT CLIENTS RATE\n");
        return 2;
    }
    const QString host = args[1];
    const quint16 port = quint16(args[2].toUInt());
    const int clients = args[3].toInt();
    const int rate = args[4].toInt(); // 0: the event streams alone
    std::signal(SIGTERM, onTerm);

    qint64 eventBytes = 0;
    std::vector<std::unique_ptr<QTcpSocket>> streams;
    for (int i = 0; i < clients; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        QTcpSocket* s = socket.get();
        QObject::connect(s, &QTcpSocket::connected, s, [s, &host] {
            s->write("GET /events HTTP/1.1\r\nHost: " + host.toLatin1() + "\r\n\r\n");
        });
        QObject::connect(s, &QTcpSocket::readyRead, s,
                         [s, &eventBytes] { eventBytes += s->readAll().size(); });
        s->connectToHost(host, port);
        streams.push_back(std::move(socket));
    }

    std::vector<double> latenciesMs;
    int failed = 0;
    int outstanding = 0;
    QTimer ask;
    QObject::connect(&ask, &QTimer::timeout, &app, [&] {
        if (outstanding > 10) { // a server that stopped answering: count, don't pile up
            ++failed;
            return;
        }
        auto* s = new QTcpSocket(&app);
        auto* clock = new QElapsedTimer;
        auto* answer = new QByteArray;
        clock->start();
        ++outstanding;
        QObject::connect(s, &QTcpSocket::connected, s, [s, &host] {
            s->write("GET /api/status HTTP/1.1\r\nHost: " + host.toLatin1() +
                     "\r\nConnection: close\r\n\r\n");
        });
        QObject::connect(s, &QTcpSocket::readyRead, s, [s, answer] { *answer += s->readAll(); });
        // Done when closed, or refused: either way the socket ends unconnected.
        QObject::connect(s, &QTcpSocket::stateChanged, s, [&, s, clock, answer](auto state) {
            if (state != QAbstractSocket::UnconnectedState)
                return;
            *answer += s->readAll();
            if (answer->startsWith("HTTP/1.1 200"))
                latenciesMs.push_back(double(clock->nsecsElapsed()) / 1e6);
            else
                ++failed;
            --outstanding;
            delete clock;
            delete answer;
            s->deleteLater();
        });
        s->connectToHost(host, port);
    });
    if (rate > 0)
        ask.start(1000 / rate);

    QTimer watchStop;
    QObject::connect(&watchStop, &QTimer::timeout, &app, [&] {
        if (g_stop)
            app.quit();
    });
    watchStop.start(100);
    app.exec();

    int open = 0;
    for (const auto& s : streams)
        open += s->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    std::printf("status_requests %zu\n", latenciesMs.size());
    std::printf("status_failed %d\n", failed);
    std::printf("status_p50_ms %.2f\n", percentile(latenciesMs, 0.50));
    std::printf("status_p99_ms %.2f\n", percentile(latenciesMs, 0.99));
    std::printf("status_max_ms %.2f\n", percentile(latenciesMs, 1.0));
    std::printf("event_clients_open %d\n", open);
    std::printf("event_bytes %lld\n", static_cast<long long>(eventBytes));
    return 0;
}
