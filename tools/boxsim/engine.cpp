#include "engine.h"

#include "wire.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <future>

namespace boxsim {
namespace detail {

namespace {

// A temperature request left incomplete this long is dropped: an RTU slave
// frames by line silence, so a later byte starts a new request.
constexpr qint64 kRtuGapMs = 1000;
constexpr int kMaxFlowLine = 256;
constexpr int kMaxHttpHead = 16384;

const QByteArray kDefaultGarbage("\x7F?~!", 4);
const QByteArray kRandomGarbage("\xFF\xFE?", 3);

bool isDecimal(const QByteArray& text, bool allowMinus)
{
    int i = (allowMinus && text.startsWith('-')) ? 1 : 0;
    if (i >= text.size())
        return false;
    for (; i < text.size(); ++i) {
        if (text.at(i) < '0' || text.at(i) > '9')
            return false;
    }
    return true;
}

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

QByteArray page(const QByteArray& title, const QByteArray& text)
{
    return "<HTML><HEAD><TITLE>" + title + "</TITLE></HEAD>\n<BODY><P>" + text +
           "</P></BODY></HTML>\n";
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

// ---- temperature controller: Modbus RTU slave 1 ----

void Engine::temperatureInput(Connection& c)
{
    while (c.input.size() >= 8 && !c.closing) {
        const QByteArray frame = c.input.left(8);
        c.input.remove(0, 8);
        const quint8 slave = quint8(frame.at(0));
        const quint8 function = quint8(frame.at(1));
        const int reg = (quint8(frame.at(2)) << 8) | quint8(frame.at(3));
        const int value = (quint8(frame.at(4)) << 8) | quint8(frame.at(5));

        if (!wire::crcMatches(frame)) {
            recordFrame(c, frame, "bad CRC, ignored");
            continue;
        }
        if (slave != 1 && slave != 0) {
            recordFrame(c, frame, "slave " + QByteArray::number(slave) + ", ignored");
            continue;
        }

        QByteArray reply;
        QByteArray what;
        auto exception = [&](quint8 code) {
            reply = wire::withCrc(QByteArray() + char(slave) + char(function | 0x80) + char(code));
            what += " -> exception " + QByteArray::number(code);
        };
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            s->advance();
            const bool refuse = s->faults[Temperature].exceptionAnswers;
            if (function == 0x03 || function == 0x04) {
                what = "read " + QByteArray::number(reg) + " x" + QByteArray::number(value);
                if (refuse) {
                    exception(0x02);
                } else if (value < 1 || value > 125) {
                    exception(0x03);
                } else {
                    reply = QByteArray() + char(slave) + char(function) + char(value * 2);
                    for (int i = 0; i < value; ++i) {
                        const int v = s->inputRegister(reg + i);
                        reply += char(v >> 8);
                        reply += char(v & 0xFF);
                    }
                    reply = wire::withCrc(reply);
                }
            } else if (function == 0x06) {
                what =
                    "write " + QByteArray::number(reg) + " = " + QByteArray::number(qint16(value));
                if (refuse) {
                    exception(0x04);
                } else {
                    s->registers[reg] = value;
                    if (reg == 1002)
                        s->temperature.target = qint16(value) / 10.0;
                    reply = frame;
                }
            } else {
                what = "function " + QByteArray::number(function);
                exception(0x01);
            }
        }
        recordFrame(c, frame, what);
        if (slave != 0) // broadcasts are carried out, never answered
            answer(c, reply, s->clockMs());
    }
}

// ---- flow controllers: ASCII lines ending in CR ----

void Engine::flowInput(Connection& c)
{
    for (;;) {
        const int end = c.input.indexOf('\r');
        if (end < 0)
            break;
        QByteArray line = c.input.left(end);
        c.input.remove(0, end + 1);
        // The window's poll ends in CR NUL; a stray LF is no part of a command either.
        line.replace('\0', QByteArray()).replace('\n', QByteArray());
        if (!line.isEmpty())
            flowLine(c, line);
        if (c.closing)
            return;
    }
    if (c.input.size() > kMaxFlowLine)
        c.input.clear();
}

void Engine::flowLine(Connection& c, const QByteArray& line)
{
    QByteArray what;
    QByteArray data;
    bool reply = true;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->advance();
        FlowState& f = s->flow(c.device);
        const QByteArray rest = line.mid(1);
        if (line.size() == 4 && line.startsWith("*@=") && line.at(3) >= 'A' && line.at(3) <= 'Z') {
            f.unit = line.at(3);
            what = QByteArray("unit id ") + f.unit;
        } else if (line.at(0) != f.unit) {
            what = QByteArray("not for unit ") + f.unit + ", ignored";
            reply = false;
        } else if (rest.isEmpty()) {
            what = "poll";
        } else if (rest.startsWith("$$W")) {
            const int eq = rest.indexOf('=');
            const QByteArray reg = rest.mid(3, eq - 3);
            const QByteArray value = rest.mid(eq + 1);
            if (eq > 3 && isDecimal(reg, false) && isDecimal(value, true)) {
                f.registers[reg.toInt()] = value.toInt();
                what = "register " + reg + " = " + value;
            } else {
                what = "unknown command, ignored";
                reply = false;
            }
        } else if (rest.startsWith("$$") && isDecimal(rest.mid(2), false) &&
                   rest.mid(2).toInt() < wire::gasCount()) {
            f.gas = rest.mid(2).toInt();
            what = "gas " + wire::gasName(f.gas);
        } else if (isDecimal(rest, true) && rest.size() <= 10) {
            const qint64 counts = std::clamp<qint64>(rest.toLongLong(), 0, 64000);
            f.mass.target = double(counts) * f.fullScale / 64000.0;
            what = "set point " + QByteArray::number(counts) +
                   " counts = " + QByteArray::number(f.mass.target, 'f', 4) + " slpm";
        } else {
            what = "unknown command, ignored";
            reply = false;
        }
        if (reply) {
            const double mass = f.mass.value;
            // Volumetric flow at the line's 24.5 C and 14.70 psia.
            const double volumetric = mass * (273.15 + 24.5) / 298.15 * 14.696 / 14.70;
            data = wire::flowDataLine(f.unit, 14.70, 24.50, volumetric, mass, f.mass.target,
                                      wire::gasName(f.gas));
        }
    }
    recordFrame(c, line + '\r', what);
    if (reply)
        answer(c, data, s->clockMs());
}

// ---- pulse generator ----

void Engine::pulseInput(Connection& c)
{
    while (!c.closing) {
        // The generator waits for '#' or '$'; anything else before it is noise.
        int start = 0;
        while (start < c.input.size() && c.input.at(start) != '#' && c.input.at(start) != '$')
            ++start;
        c.input.remove(0, start);
        if (c.input.size() < 4)
            return;
        const QByteArray command = c.input.left(4);
        if (!isDecimal(command.mid(1), false)) {
            c.input.remove(0, 1);
            continue;
        }
        c.input.remove(0, 4);

        const int widthMs = command.mid(1).toInt();
        const qint64 now = s->clockMs();
        QByteArray reply;
        // One millisecond more, so the clock's granularity never makes the
        // answer come before the pulse is over.
        qint64 readyAt = now + widthMs + 1;
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            s->advance();
            PulseTruth truth;
            truth.msecs = s->recordMs();
            truth.command = command;
            truth.sampleTemperatureC = s->temperature.value;
            truth.n2MassFlow = s->flows[0].mass.value;
            truth.o2MassFlow = s->flows[1].mass.value;
            truth.airPressureBar = s->airPressure();
            s->pulseTruth.append(truth);

            const double scale = s->options.timeScale;
            if (s->faults[Pulse].pulseFails) {
                reply = "RR1\r";
            } else if (command.at(0) == '#') {
                reply = "KE1\r";
            } else if (s->options.cameraAnswers) {
                reply = "KE2\r";
                readyAt = qMax(readyAt, now + qint64(s->options.cameraDelayMs / scale));
            } else {
                reply = "RR2\r";
                readyAt = qMax(readyAt, now + qint64(5000.0 / scale));
            }
        }
        recordFrame(c, command, "pulse " + QByteArray::number(widthMs) + " ms");
        answer(c, reply, readyAt);
    }
}

// ---- serial device server's web forms ----

void Engine::httpInput(Connection& c)
{
    int end = c.input.indexOf("\r\n\r\n");
    if (end < 0)
        end = c.input.indexOf("\n\n");
    if (end < 0) {
        if (c.input.size() > kMaxHttpHead)
            closeConnection(c);
        return;
    }
    QByteArray requestLine = c.input.left(c.input.indexOf('\n'));
    c.input.clear();
    if (requestLine.endsWith('\r'))
        requestLine.chop(1);
    // The target may hold raw blanks (the form values go out unencoded), so it
    // runs from the first blank to the protocol version.
    const int blank = requestLine.indexOf(' ');
    const QByteArray method = blank < 0 ? requestLine : requestLine.left(blank);
    QByteArray target = blank < 0 ? QByteArray() : requestLine.mid(blank + 1);
    const int version = target.lastIndexOf(" HTTP/");
    if (version >= 0)
        target.truncate(version);

    const QByteArray response = httpAnswer(method, target);
    recordFrame(c, target, method + " -> " + response.left(response.indexOf('\r')));
    answer(c, response, s->clockMs());
}

QByteArray Engine::httpAnswer(const QByteArray& method, const QByteArray& target)
{
    if (method != "GET" && method != "HEAD")
        return wire::httpResponse(405, "Method Not Allowed", page("Error", "Method not allowed"));
    const int question = target.indexOf('?');
    const QByteArray path = question < 0 ? target : target.left(question);
    const QByteArray query = question < 0 ? QByteArray() : target.mid(question + 1);
    const QByteArray saveNote = "Settings accepted. Save them and reboot to apply.";

    QByteArray body;
    if (path == "/network.html") {
        std::lock_guard<std::mutex> lock(s->mutex);
        body = wire::networkPage(s->network);
    } else if (path == "/Forms/network_1") {
        const QMap<QByteArray, QByteArray> fields = wire::parseQuery(query);
        std::lock_guard<std::mutex> lock(s->mutex);
        if (fields.contains("ip_address"))
            s->network.ipAddress = QString::fromUtf8(fields.value("ip_address"));
        if (fields.contains("subnet_mask"))
            s->network.subnetMask = QString::fromUtf8(fields.value("subnet_mask"));
        if (fields.contains("default_gateway"))
            s->network.defaultGateway = QString::fromUtf8(fields.value("default_gateway"));
        body = page("Save", saveNote);
    } else if (path == "/Forms/general_1") {
        body = page("Save", saveNote);
    } else if (path == "/Forms/save_1") {
        body = page("Saved", "Settings saved.");
    } else if (path == "/reboot.html") {
        body = page("Reboot", "The device server restarts now.");
    } else if (path == "/" || path == "/index.html") {
        body = page("Serial device server", "<A HREF=\"/network.html\">Network settings</A>");
    } else {
        return wire::httpResponse(404, "Not Found", page("Error", "Not found"));
    }
    QByteArray response = wire::httpResponse(200, "OK", body);
    if (method == "HEAD")
        response.chop(body.size());
    return response;
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
