#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <functional>

class BoxPoller;

// Runs the box's commands one at a time, on the thread that owns it (the GUI
// thread). A command's body may wait with the event loop; a command asked for
// meanwhile is queued and starts when the running one has ended, so two
// commands never hold connections to one port at once. The runner also holds
// the poller pauses, counted so that a poller resumes only when the last
// command that paused it is done.
class CommandRunner : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        bool ran = false; // false: cancelled before it started
        bool ok = false;  // what the body returned
    };
    using Body = std::function<bool()>;
    using Done = std::function<void(const Outcome&)>;

    explicit CommandRunner(QObject* parent = nullptr);

    // Queues a command and, unless one is running, runs the queue now: then
    // the command has ended when this returns.
    void submit(const QString& name, Body body, Done done = {});
    // A Stop or a close: cancels every queued command, tells the running one
    // to end its waits (cancelled() turns true for it), then runs `body`
    // before anything asked for later.
    void submitFirst(const QString& name, Body body, Done done = {});
    // The same without a command of its own.
    void cancelPending();

    bool busy() const { return m_running; }
    int queued() const { return int(m_queue.size()); }
    // For the running command's waits: a Stop or close has come since it began.
    bool cancelled() const { return m_running && m_cancelCount != m_cancelCountAtStart; }

    // Counted poller pauses. The pause returns once the poller has closed its
    // connection.
    void pausePoller(BoxPoller* poller);
    void resumePoller(BoxPoller* poller);
    int pauseCount(BoxPoller* poller) const { return m_pauses.value(poller); }

    // Tests run the commands' waits this many times faster; the frames and
    // their order stay the same.
    void setWaitScale(double scale) { m_waitScale = scale > 0 ? scale : 1.0; }
    // A command's wait of `ms`, as long as it lasts here.
    int waitMs(int ms) const { return int(ms / m_waitScale); }

signals:
    void commandFinished(const QString& name, bool ran, bool ok);
    // The queue has run empty.
    void idle();

private:
    struct Command
    {
        QString name;
        Body body;
        Done done;
    };

    void runQueue();
    void finish(const Command& command, const Outcome& outcome);

    std::deque<Command> m_queue;
    bool m_running = false;
    int m_cancelCount = 0;
    int m_cancelCountAtStart = 0;
    QHash<BoxPoller*, int> m_pauses;
    double m_waitScale = 1.0;
};
