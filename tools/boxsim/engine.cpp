#include "engine.h"

#include "wire.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <future>

namespace boxsim {
namespace detail {

namespace {

// A temperature request left incomplete this long is dropped: an RTU slave
// frames by line silence, so a later byte starts a new request.
constexpr qint64 kRtuGapMs = 1000;

const QByteArray kDefaultGarbage("\x7F?~!", 4);
const QByteArray kRandomGarbage("\xFF\xFE?", 3);

QByteArray corrupted(Device device, QByteArray bytes)
{
    if (bytes.size() < 2)
        return bytes;
    switch (device) {
    case Temperature: // the CRC no longer matches
        bytes[bytes.size() - 1] = char(bytes.at(bytes.size() - 1) ^ 0xFF);
        break;
    case N2:
    case O2: // the line no longer starts with the unit id
        bytes[0] = '?';
        break;
    case Pulse: // "KE1" becomes "Ke1": no status word any more
        bytes[1] = char(bytes.at(1) ^ 0x20);
        break;
    case Http:
        bytes[1] = 'X';
        break;
    }
    return bytes;
}

QByteArray describeMishap(int kind, int ms)
{
    switch (kind) {
    case 1:
        return "split:" + QByteArray::number(ms);
    case 2:
        return "delay:" + QByteArray::number(ms);
    case 3:
        return "garbage";
    case 4:
        return "corrupt";
    case 5:
        return "drop";
    default:
        return "clean";
    }
}

} // namespace

Engine::Engine(State* state) : s(state) {}

Engine::~Engine()
{
    shutdown();
}

bool Engine::listen(QString* error)
{
    Options o;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        o = s->options;
    }
    m_verbose = o.verbose;
    QHostAddress address;
    if (o.host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.setAddress(o.host)) {
        *error = QStringLiteral("not an IP address: %1").arg(o.host);
        return false;
    }

    std::array<quint16, kDeviceCount> bound{};
    for (int d = 0; d < kDeviceCount; ++d) {
        const Device device = Device(d);
        const int port = device == Http ? int(o.httpPort) : int(o.basePort) + d;
        auto* server = new QTcpServer(this);
        if (port > 65535 || !server->listen(address, quint16(port))) {
            *error =
                QStringLiteral("cannot listen on %1:%2 (%3): %4")
                    .arg(o.host)
                    .arg(port)
                    .arg(QLatin1String(wire::deviceName(device)))
                    .arg(port > 65535 ? QStringLiteral("no such port") : server->errorString());
            if (server->serverError() == QAbstractSocket::SocketAccessError && port < 1024)
                *error += QStringLiteral(" (ports below 1024 need privileges)");
            delete server;
            shutdown();
            return false;
        }
        servers[size_t(d)] = server;
        bound[size_t(d)] = server->serverPort();
        connect(server, &QTcpServer::newConnection, this, [this, device] { accept(device); });
    }

    if (!o.logFile.isEmpty()) {
        bool append;
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            append = s->logStarted;
        }
        log.setFileName(o.logFile);
        const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Text |
                                         (append ? QIODevice::Append : QIODevice::Truncate);
        if (!log.open(mode)) {
            *error = QStringLiteral("cannot write the log file %1: %2")
                         .arg(o.logFile, log.errorString());
            shutdown();
            return false;
        }
    }

    std::lock_guard<std::mutex> lock(s->mutex);
    s->ports = bound;
    s->logStarted = s->logStarted || log.isOpen();
    return true;
}

void Engine::shutdown()
{
    for (auto& entry : connections) {
        Connection& c = entry.second;
        c.socket->disconnect(this);
        c.timer->stop();
        c.socket->abort();
        recordEvent(c.device, Event::Disconnected, entry.first, QByteArray());
        delete c.socket;
    }
    connections.clear();
    for (QTcpServer*& server : servers) {
        delete server; // closes the listening socket
        server = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->open.fill(0);
    }
    log.close();
}

void Engine::runOnOwnThread(const std::function<void()>& work)
{
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    {
        std::lock_guard<std::mutex> lock(m_workMutex);
        m_pendingWork = [&] {
            work();
            done.set_value();
        };
    }
    QMetaObject::invokeMethod(this, "runPendingWork", Qt::QueuedConnection);
    finished.wait();
}

void Engine::runPendingWork()
{
    std::function<void()> work;
    {
        std::lock_guard<std::mutex> lock(m_workMutex);
        work.swap(m_pendingWork);
    }
    if (work)
        work();
}

void Engine::accept(Device device)
{
    QTcpServer* server = servers[size_t(device)];
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        socket->setParent(this);
        quint64 id;
        bool reject;
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            const Faults& f = s->faults[size_t(device)];
            id = s->nextConnection++;
            reject = f.refuse || (f.singleConnection && s->open[size_t(device)] > 0);
            if (!reject)
                ++s->open[size_t(device)];
        }
        recordEvent(device, Event::Connected, id, QByteArray());
        trace(device, id, "++", reject ? "connection refused" : "connected");
        if (reject) {
            socket->close();
            recordEvent(device, Event::Disconnected, id, QByteArray());
            socket->deleteLater();
            continue;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

        Connection c;
        c.id = id;
        c.device = device;
        c.socket = socket;
        c.timer = new QTimer(socket);
        c.timer->setSingleShot(true);
        c.timer->setTimerType(Qt::PreciseTimer);
        connections.emplace(id, c);

        connect(c.timer, &QTimer::timeout, this, [this, id] { pump(id); });
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { readInput(id); });
        // Queued, so that a close from inside a handler never pulls the
        // connection away under the handler's feet.
        connect(
            socket, &QTcpSocket::disconnected, this, [this, id] { disconnected(id); },
            Qt::QueuedConnection);
        if (socket->state() != QAbstractSocket::ConnectedState)
            QMetaObject::invokeMethod(
                this, [this, id] { disconnected(id); }, Qt::QueuedConnection);
        else if (socket->bytesAvailable() > 0)
            QMetaObject::invokeMethod(
                this, [this, id] { readInput(id); }, Qt::QueuedConnection);
    }
}

void Engine::readInput(quint64 id)
{
    auto it = connections.find(id);
    if (it == connections.end())
        return;
    Connection& c = it->second;
    const QByteArray bytes = c.socket->readAll();
    if (bytes.isEmpty())
        return;
    recordEvent(c.device, Event::Data, id, bytes);
    if (c.closing)
        return;
    const qint64 now = s->clockMs();
    if (c.device == Temperature && !c.input.isEmpty() && now - c.lastInputMs > kRtuGapMs) {
        trace(c.device, id, "<-", "partial request dropped: " + wire::hex(c.input));
        c.input.clear();
    }
    c.lastInputMs = now;
    c.input += bytes;
    switch (c.device) {
    case Temperature:
        temperatureInput(c);
        break;
    case N2:
    case O2:
        flowInput(c);
        break;
    case Pulse:
        pulseInput(c);
        break;
    case Http:
        httpInput(c);
        break;
    }
}

void Engine::disconnected(quint64 id)
{
    auto it = connections.find(id);
    if (it == connections.end())
        return;
    Connection& c = it->second;
    c.timer->stop();
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        --s->open[size_t(c.device)];
    }
    recordEvent(c.device, Event::Disconnected, id, QByteArray());
    trace(c.device, id, "--", "disconnected");
    c.socket->deleteLater();
    connections.erase(it);
}

// ---- answers and their faults ----

void Engine::answer(Connection& c, QByteArray bytes, qint64 readyAtMs)
{
    if (c.closing)
        return;
    Faults f;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        f = s->faults[size_t(c.device)];
    }
    if (f.silent) {
        trace(c.device, c.id, "  ", "(silent, no answer)");
        return;
    }
    if (f.dropAfterAnswers >= 0 && c.answers >= f.dropAfterAnswers) {
        trace(c.device, c.id, "  ", "(dropping the connection)");
        closeConnection(c);
        return;
    }
    const Mishap mishap = drawMishap(c.device);

    if (f.badCrc && c.device == Temperature)
        bytes = corrupted(Temperature, bytes);
    if (mishap.kind == Mishap::Corrupt)
        bytes = corrupted(c.device, bytes);
    QByteArray payload;
    if (f.garbageInstead)
        payload = f.garbageBefore.isEmpty() ? kDefaultGarbage : f.garbageBefore;
    else
        payload = f.garbageBefore + bytes;
    if (mishap.kind == Mishap::Garbage)
        payload.prepend(kRandomGarbage);

    qint64 due = readyAtMs + f.delayMs + (mishap.kind == Mishap::Delay ? mishap.ms : 0);
    due = qMax(due, c.lastDueMs);
    if (mishap.kind == Mishap::Drop) {
        trace(c.device, c.id, "  ", "(random drop)");
        c.out.append(Chunk{due, QByteArray(), true});
        c.lastDueMs = due;
        pump(c.id);
        return;
    }

    ++c.answers;
    const bool closeAfter =
        c.device == Http || (f.dropAfterAnswers > 0 && c.answers >= f.dropAfterAnswers);
    const int pause = mishap.kind == Mishap::Split ? mishap.ms : (f.split ? f.splitPauseMs : -1);
    if (pause >= 0 && payload.size() >= 2) {
        const int half = payload.size() / 2;
        c.out.append(Chunk{due, payload.left(half), false});
        c.out.append(Chunk{due + pause, payload.mid(half), closeAfter});
        c.lastDueMs = due + pause;
    } else {
        c.out.append(Chunk{due, payload, closeAfter});
        c.lastDueMs = due;
    }
    QByteArray shown = c.device == Temperature ? wire::hex(payload)
                       : c.device == Http ? wire::printable(payload.left(payload.indexOf('\r')))
                                          : wire::printable(payload);
    const qint64 wait = due - s->clockMs();
    if (wait > 0)
        shown += "   (in " + QByteArray::number(wait) + " ms)";
    if (pause >= 0 && payload.size() >= 2)
        shown += "   (split, " + QByteArray::number(pause) + " ms apart)";
    trace(c.device, c.id, "->", shown);
    pump(c.id);
}

Engine::Mishap Engine::drawMishap(Device device)
{
    Mishap m;
    std::lock_guard<std::mutex> lock(s->mutex);
    if (!s->options.randomFaults)
        return m;
    std::mt19937& g = s->rng[size_t(device)];
    // About four answers in five go through unharmed.
    const quint32 roll = g() % 1000;
    if (roll < 60) {
        m.kind = Mishap::Split;
        m.ms = 5 + int(g() % 56);
    } else if (roll < 110) {
        m.kind = Mishap::Delay;
        m.ms = 20 + int(g() % 231);
    } else if (roll < 140) {
        m.kind = Mishap::Garbage;
    } else if (roll < 170) {
        m.kind = Mishap::Corrupt;
    } else if (roll < 190) {
        m.kind = Mishap::Drop;
    }
    // The web side only gets the mishaps an HTTP client is expected to survive.
    if (device == Http && m.kind != Mishap::Split && m.kind != Mishap::Delay)
        m.kind = Mishap::None;
    s->injected[size_t(device)].append(describeMishap(int(m.kind), m.ms));
    return m;
}

void Engine::pump(quint64 id)
{
    auto it = connections.find(id);
    if (it == connections.end())
        return;
    Connection& c = it->second;
    const qint64 now = s->clockMs();
    while (!c.out.isEmpty() && c.out.first().dueMs <= now) {
        const Chunk chunk = c.out.takeFirst();
        if (!chunk.bytes.isEmpty()) {
            c.socket->write(chunk.bytes);
            c.socket->flush();
        }
        if (chunk.closeAfter) {
            closeConnection(c);
            return;
        }
    }
    if (!c.out.isEmpty())
        c.timer->start(int(qMax<qint64>(0, c.out.first().dueMs - now)));
}

void Engine::closeConnection(Connection& c)
{
    if (c.closing)
        return;
    c.closing = true;
    c.out.clear();
    c.timer->stop();
    c.socket->disconnectFromHost(); // sends what is written, then closes
}

// ---- record and trace ----

void Engine::recordEvent(Device device, Event::Kind kind, quint64 id, const QByteArray& bytes)
{
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        Event e;
        e.msecs = s->recordMs();
        e.device = device;
        e.kind = kind;
        e.connection = id;
        e.bytes = bytes;
        s->events.append(e);
    }
    s->notifier.notify();
}

void Engine::recordFrame(const Connection& c, const QByteArray& frame, const QByteArray& what)
{
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        Frame f;
        f.msecs = s->recordMs();
        f.device = c.device;
        f.connection = c.id;
        f.bytes = frame;
        s->frames[size_t(c.device)].append(f);
        if (c.device == Http)
            s->httpRequests.append(frame);
    }
    s->notifier.notify();
    const QByteArray shown = c.device == Temperature ? wire::hex(frame) : wire::printable(frame);
    trace(c.device, c.id, "<-", shown + "   " + what);
}

void Engine::trace(Device device, quint64 id, const char* direction, const QByteArray& text)
{
    if (!m_verbose && !log.isOpen())
        return;
    const QByteArray line =
        QByteArray::number(double(s->recordMs()) / 1000.0, 'f', 3).rightJustified(9) + ' ' +
        QByteArray(wire::deviceName(device)).leftJustified(11) + " #" +
        QByteArray::number(id).leftJustified(5) + direction + ' ' + text + '\n';
    if (m_verbose) {
        std::fputs(line.constData(), stderr);
        std::fflush(stderr);
    }
    if (log.isOpen()) {
        log.write(line);
        log.flush();
    }
}

} // namespace detail
} // namespace boxsim
