#pragma once

#include "simstate.h"

#include <QFile>
#include <QList>
#include <QObject>

#include <array>
#include <functional>
#include <map>
#include <mutex>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace boxsim {
namespace detail {

// The network side of the simulator. Lives on the simulator's thread: every
// server, socket and timer below is created, used and deleted there. The
// devices' input handlers live in their own files (temperaturecontroller.cpp,
// flowcontrollers.cpp, pulsegenerator.cpp, webserver.cpp).
class Engine : public QObject
{
    Q_OBJECT
public:
    explicit Engine(State* state);
    ~Engine() override;

    bool listen(QString* error);
    void shutdown();
    // From another thread: runs `work` on the engine's thread and returns once it is done.
    void runOnOwnThread(const std::function<void()>& work);

private:
    // The work of runOnOwnThread() travels under a standard mutex, which the
    // thread sanitizer sees, rather than inside a queued functor.
    Q_INVOKABLE void runPendingWork();
    std::mutex m_workMutex;
    std::function<void()> m_pendingWork;

    struct Chunk
    {
        qint64 dueMs = 0;
        QByteArray bytes;
        bool closeAfter = false;
    };
    struct Connection
    {
        quint64 id = 0;
        Device device = Temperature;
        QTcpSocket* socket = nullptr;
        QTimer* timer = nullptr;
        QByteArray input;
        qint64 lastInputMs = 0;
        int answers = 0;
        bool closing = false;
        qint64 lastDueMs = 0;
        QList<Chunk> out;
    };
    // What the random mix does to one answer.
    struct Mishap
    {
        enum Kind
        {
            None,
            Split,
            Delay,
            Garbage,
            Corrupt,
            Drop
        } kind = None;
        int ms = 0;
    };

    void accept(Device device);
    void readInput(quint64 id);
    void disconnected(quint64 id);

    void temperatureInput(Connection& c);
    void flowInput(Connection& c);
    void flowLine(Connection& c, const QByteArray& line);
    void pulseInput(Connection& c);
    void httpInput(Connection& c);
    QByteArray httpAnswer(const QByteArray& method, const QByteArray& target);

    void answer(Connection& c, QByteArray bytes, qint64 readyAtMs);
    Mishap drawMishap(Device device);
    void pump(quint64 id);
    void closeConnection(Connection& c);

    void recordEvent(Device device, Event::Kind kind, quint64 id, const QByteArray& bytes);
    void recordFrame(const Connection& c, const QByteArray& frame, const QByteArray& what);
    void trace(Device device, quint64 id, const char* direction, const QByteArray& text);

    State* s;
    std::array<QTcpServer*, kDeviceCount> servers{};
    std::map<quint64, Connection> connections;
    QFile log;
    bool m_verbose = false;
};

} // namespace detail
} // namespace boxsim
