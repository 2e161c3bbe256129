#include "commandrunner.h"

#include "boxpoller.h"

CommandRunner::CommandRunner(QObject* parent) : QObject(parent) {}

void CommandRunner::submit(const QString& name, Body body, Done done)
{
    m_queue.push_back({name, std::move(body), std::move(done)});
    runQueue();
}

void CommandRunner::submitFirst(const QString& name, Body body, Done done)
{
    cancelPending();
    m_queue.push_front({name, std::move(body), std::move(done)});
    runQueue();
}

void CommandRunner::cancelPending()
{
    ++m_cancelCount;
    // A done callback may queue again; those survive.
    std::deque<Command> cancelled;
    cancelled.swap(m_queue);
    for (const Command& command : cancelled)
        finish(command, Outcome{});
}

void CommandRunner::runQueue()
{
    // A command asked for from inside a running one's wait stays queued: the
    // outer call below picks it up when the running one returns.
    if (m_running)
        return;
    m_running = true;
    while (!m_queue.empty()) {
        const Command command = std::move(m_queue.front());
        m_queue.pop_front();
        m_cancelCountAtStart = m_cancelCount;
        Outcome outcome;
        outcome.ran = true;
        outcome.ok = command.body ? command.body() : true;
        finish(command, outcome);
    }
    m_running = false;
    emit idle();
}

void CommandRunner::finish(const Command& command, const Outcome& outcome)
{
    if (command.done)
        command.done(outcome);
    emit commandFinished(command.name, outcome.ran, outcome.ok);
}

void CommandRunner::pausePoller(BoxPoller* poller)
{
    if (!poller)
        return;
    // A poller that goes away takes its count with it: another one made at
    // the same address must not inherit it.
    if (!m_pauses.contains(poller))
        connect(
            poller, &QObject::destroyed, this, [this, poller] { m_pauses.remove(poller); },
            Qt::DirectConnection);
    // Paused again even when counted: the poller may have resumed on its own
    // terms, and the command needs the port now.
    ++m_pauses[poller];
    poller->pausePolling();
}

void CommandRunner::resumePoller(BoxPoller* poller)
{
    if (!poller)
        return;
    auto it = m_pauses.find(poller);
    if (it != m_pauses.end()) {
        if (it.value() > 1) {
            --it.value();
            return;
        }
        it.value() = 0; // kept, so the poller is watched only once
    }
    poller->resumePolling();
}
