#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>

// What the three pollers share. Each poller's thread owns its socket from the
// start of run() to its end and drives it from an event loop with timers, so
// it never blocks and always answers the window's requests promptly. The
// window's pause, re-address and stop requests are handed to that thread;
// pause and re-address wait until the thread has closed the connection.
// Readings travel back as queued calls on this object's own thread (the GUI
// thread), in the order they were decoded.
class BoxPoller : public QThread
{
public:
    struct Cycle
    {
        quint16 port;
        int connectTimeoutMs;
        int writeTimeoutMs;
        int sleepMs; // after each poll or failed connection
        QByteArray pollFrame;
    };

    ~BoxPoller() override;

    QString hostAddress() const;
    // Paused by a command (or the window): no connection until resumed.
    bool isPaused() const { return m_paused.load(); }
    // The box did not accept the last connection. The poller tries again on
    // its own every kLostRetryMs (at once when resumed) until it does.
    bool isLost() const { return m_lost.load(); }

    // Sets the pause flag and returns once the connection is closed.
    void pausePolling();
    // Clears the pause flag; a poller idling in its pause polls again at once.
    void resumePolling();
    // Ends the thread; does not wait for it (use wait()).
    void stopPolling();
    // Tests only, before start(): polls this much more often than the box needs.
    void speedUp(double scale);
    // Takes the new address and returns once the old connection is closed.
    // Readings from the old address that have not reached the receivers yet
    // are dropped.
    void setHostAddress(const QString& address);

    // Longest a pause or re-address waits for the poller thread. The thread
    // never blocks, so this only runs out if the process is badly overloaded.
    static constexpr int kRequestWaitMs = 5000;
    // A device server restarting or a cable replugged is back within a few
    // seconds; a connection attempt this often costs the box nothing.
    static constexpr int kLostRetryMs = 2000;

protected:
    BoxPoller(const QString& boxAddress, const Cycle& cycle, QObject* parent);

    // The body of run(). `clearPause`: the pause flag is cleared when the thread
    // ends, so a poller started again is not paused.
    void pollUntilStopped(bool clearPause);
    // Stops the thread and waits for it. Every derived destructor calls this
    // first: the thread calls the derived class's hooks.
    void stopAndWait();
    bool onPollerThread() const { return QThread::currentThread() == this; }

    // Hooks, called on the poller thread.
    virtual void answerReady() = 0;     // bytes have arrived
    virtual void connectFailed() = 0;   // refused, or not connected in time
    virtual void connectionReset() = 0; // a new connection: forget partial answers

    // Poller thread only.
    QByteArray readAnswerBytes();
    // After a failed connection: the poller is lost until a connection
    // succeeds. True when this failure begins the loss (the one to report),
    // false when the box was already away.
    bool beginLoss();
    // Runs `emitSignals` on this object's thread, unless the address has
    // changed since the connection that produced it.
    void deliver(std::function<void()> emitSignals);

    bool event(QEvent* event) override;

private:
    class Session;
    friend class Session;

    void runSession();
    void request(const std::function<void(Session&)>& task, bool wait);

    Cycle m_cycle;
    // Guards m_address, m_session, and pausing against a poll write. A standard
    // mutex rather than QMutex: the thread sanitizer sees every hand-over it makes.
    mutable std::mutex m_mutex;
    QString m_address;
    Session* m_session = nullptr; // lives on the poller thread while run() runs
    std::atomic<bool> m_stop{false};
    bool m_finishHandOverConnected = false; // poller thread only
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_lost{false};
    std::atomic<quint64> m_generation{0}; // bumped by every re-address
};
