#include "boxpoller.h"

#include "boxlink.h"
#include "crossthread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <memory>

using crossthread::postCall;
using crossthread::runPostedCall;

// The poller thread's side: socket, timers and the poll cycle. Created and
// destroyed by run(), so every object in it belongs to the poller thread.
class BoxPoller::Session : public QObject
{
public:
    Session(BoxPoller* owner, quint64 generation);

    void start() { sleep(0); }
    void dropSocket();
    void closeLink();
    void wake();
    void readdress(quint64 generation);
    void stop();

    QTcpSocket socket;
    quint64 generation;

protected:
    bool event(QEvent* event) override { return runPostedCall(event) || QObject::event(event); }

private:
    enum class Step
    {
        Sleeping,
        Connecting,
        Writing
    };

    void cycle();
    void writePoll();
    void connected();
    void connectErrorOrTimeout();
    void bytesWritten();
    void endOfPoll();
    void sleep(int ms);

    BoxPoller* m_owner;
    const Cycle& m_cycle;
    QTimer m_cycleTimer;
    QTimer m_connectTimer;
    QTimer m_writeTimer;
    Step m_step = Step::Sleeping;
    bool m_idleInPause = false;
};

BoxPoller::Session::Session(BoxPoller* owner, quint64 generation)
    : generation(generation), m_owner(owner), m_cycle(owner->m_cycle)
{
    for (QTimer* timer : {&m_cycleTimer, &m_connectTimer, &m_writeTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_cycleTimer, &QTimer::timeout, this, [this] { cycle(); });
    connect(&m_connectTimer, &QTimer::timeout, this, [this] { connectErrorOrTimeout(); });
    connect(&m_writeTimer, &QTimer::timeout, this, [this] { endOfPoll(); });
    connect(&socket, &QAbstractSocket::connected, this, [this] { connected(); });
    connect(&socket, &QAbstractSocket::errorOccurred, this, [this] { connectErrorOrTimeout(); });
    connect(&socket, &QIODevice::bytesWritten, this, [this] { bytesWritten(); });
    connect(&socket, &QIODevice::readyRead, this, [this] { m_owner->answerReady(); });
}

void BoxPoller::Session::dropSocket()
{
    socket.abort(); // drops unsent bytes, unlike close()
    // abort() leaves the device open after a failed connection attempt, and an
    // open socket is never connected again.
    if (socket.isOpen())
        socket.close();
    m_owner->connectionReset();
}

void BoxPoller::Session::sleep(int ms)
{
    m_step = Step::Sleeping;
    m_cycleTimer.start(ms);
}

void BoxPoller::Session::cycle()
{
    m_idleInPause = false;
    if (m_owner->m_stop) {
        stop();
        return;
    }
    if (m_owner->m_paused) {
        m_idleInPause = true;
        sleep(boxlink::kPausedPollerCheckMs);
        return;
    }
    if (socket.state() == QAbstractSocket::ConnectedState) {
        writePoll();
        return;
    }
    // Set before connecting: a loopback connect may succeed or fail right away.
    m_step = Step::Connecting;
    m_connectTimer.start(m_cycle.connectTimeoutMs);
    // A connection the box dropped leaves the device open: start afresh.
    dropSocket();
    boxlink::connectToBox(&socket, m_owner->hostAddress(), m_cycle.port);
}

void BoxPoller::Session::connected()
{
    if (m_step != Step::Connecting)
        return;
    m_connectTimer.stop();
    m_owner->m_lost = false;
    writePoll();
}

void BoxPoller::Session::connectErrorOrTimeout()
{
    // Errors of an established connection (the box hung up) need nothing here:
    // the next cycle finds the socket unconnected and connects again.
    if (m_step != Step::Connecting)
        return;
    m_connectTimer.stop();
    dropSocket();
    m_owner->connectFailed();
    sleep(m_owner->m_lost ? kLostRetryMs : m_cycle.sleepMs);
}

void BoxPoller::Session::writePoll()
{
    m_step = Step::Writing;
    m_writeTimer.start(m_cycle.writeTimeoutMs);
    {
        // pausePolling() sets the flag under the same lock, so a poll leaves
        // either before the pause or not at all. The frame goes to the system
        // now rather than on a later event pass.
        std::lock_guard<std::mutex> lock(m_owner->m_mutex);
        if (!m_owner->m_paused) {
            socket.write(m_cycle.pollFrame);
            socket.flush();
        }
    }
    if (m_owner->m_paused) // the pause on its way here closes the connection
        endOfPoll();
    else
        bytesWritten();
}

void BoxPoller::Session::bytesWritten()
{
    if (m_step == Step::Writing && socket.bytesToWrite() == 0)
        endOfPoll();
}

void BoxPoller::Session::endOfPoll()
{
    if (m_step != Step::Writing)
        return;
    m_writeTimer.stop();
    sleep(m_cycle.sleepMs);
}

void BoxPoller::Session::closeLink()
{
    m_connectTimer.stop();
    m_writeTimer.stop();
    dropSocket();
    if (m_step != Step::Sleeping)
        sleep(m_cycle.sleepMs);
}

void BoxPoller::Session::wake()
{
    if (m_step == Step::Sleeping && (m_idleInPause || m_owner->m_lost))
        sleep(0);
}

void BoxPoller::Session::readdress(quint64 newGeneration)
{
    generation = newGeneration;
    closeLink();
}

void BoxPoller::Session::stop()
{
    closeLink();
    m_cycleTimer.stop();
    m_owner->exit(0);
}

BoxPoller::BoxPoller(const QString& boxAddress, const Cycle& cycle, QObject* parent)
    : QThread(parent), m_cycle(cycle), m_address(boxAddress)
{
}

BoxPoller::~BoxPoller()
{
    stopAndWait();
}

void BoxPoller::stopAndWait()
{
    if (onPollerThread()) {
        qWarning("BoxPoller: a poller cannot be destroyed by its own thread");
        return;
    }
    stopPolling();
    wait();
    HANDED_OVER_FROM(this);
}

bool BoxPoller::event(QEvent* event)
{
    return runPostedCall(event) || QThread::event(event);
}

QString BoxPoller::hostAddress() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_address;
}

void BoxPoller::request(const std::function<void(Session&)>& task, bool wait)
{
    if (onPollerThread()) {
        if (m_session)
            task(*m_session);
        return;
    }
    struct Done
    {
        // Whichever thread lets go of it last follows the task's end (Qt counts
        // the references to the task where the sanitizer cannot see it).
        ~Done() { HANDED_OVER_FROM(this); }
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_session)
            return; // not running: there is no connection
        Session* session = m_session;
        postCall(session, [session, task, done] {
            task(*session);
            std::lock_guard<std::mutex> lock(done->mutex);
            done->done = true;
            done->changed.notify_all();
            HANDING_OVER_TO(done.get());
        });
    }
    if (!wait)
        return;
    std::unique_lock<std::mutex> lock(done->mutex);
    if (!done->changed.wait_for(lock, std::chrono::milliseconds(kRequestWaitMs),
                                [&] { return done->done; }))
        qWarning("BoxPoller: the poller thread did not answer within %d ms", kRequestWaitMs);
}

void BoxPoller::pausePolling()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_paused = true;
    }
    request([](Session& session) { session.closeLink(); }, true);
}

void BoxPoller::resumePolling()
{
    m_paused = false;
    request([](Session& session) { session.wake(); }, false);
}

void BoxPoller::speedUp(double scale)
{
    if (isRunning() || scale <= 0)
        return;
    m_cycle.sleepMs = int(m_cycle.sleepMs / scale);
}

void BoxPoller::stopPolling()
{
    m_stop = true;
    request([](Session& session) { session.stop(); }, false);
}

void BoxPoller::setHostAddress(const QString& address)
{
    quint64 generation = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_address = address;
        generation = ++m_generation;
    }
    request([generation](Session& session) { session.readdress(generation); }, true);
}

void BoxPoller::pollUntilStopped(bool clearPause)
{
    if (!onPollerThread()) {
        qWarning("BoxPoller: run() called outside the poller thread");
        return;
    }
    // The thread's last work on this object is the finished() signal: its
    // queued receivers (the owner's deleteLater) are served before this slot,
    // connected after them, hands the object over to whoever joins.
    if (!m_finishHandOverConnected) {
        m_finishHandOverConnected = true;
        connect(
            this, &QThread::finished, this, [this] { HANDING_OVER_TO(this); },
            Qt::DirectConnection);
    }
    runSession();
    // A poller started again polls again. Clearing here rather than at the start
    // keeps a pause requested right after start() from being lost.
    m_stop = false;
    m_lost = false;
    if (clearPause)
        m_paused = false;
    HANDING_OVER_TO(this); // to whoever joins the thread
}

void BoxPoller::runSession()
{
    Session session(this, 0);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop)
            return;
        session.generation = m_generation;
        m_session = &session;
    }
    session.start();
    exec();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_session = nullptr;
    }
    // Requests posted before the loop ended still run: their callers wait for them.
    QCoreApplication::sendPostedEvents(&session);
    session.dropSocket();
}

QByteArray BoxPoller::readAnswerBytes()
{
    return m_session ? m_session->socket.readAll() : QByteArray();
}

bool BoxPoller::beginLoss()
{
    if (m_session)
        m_session->closeLink();
    return !m_lost.exchange(true);
}

void BoxPoller::deliver(std::function<void()> emitSignals)
{
    const quint64 generation = m_session ? m_session->generation : m_generation.load();
    postCall(this, [this, generation, emitSignals = std::move(emitSignals)] {
        if (generation == m_generation.load())
            emitSignals();
    });
}
