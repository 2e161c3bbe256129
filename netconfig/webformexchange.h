#pragma once

#include "webforms.h"

#include <QObject>

#include <functional>
#include <memory>

namespace netconfig {

// Runs the web-form exchanges on a thread of its own, one at a time and one
// request after the other, so that the thread that asks for them (the
// window's) goes on running its event loop. The operator is met on the asking
// thread: a warning is shown there while the exchange waits on its own thread
// for it to be closed, so warnings and requests keep their order. Results come
// back as posted calls that emit the signals below on the asking thread.
class WebFormExchange : public QObject
{
    Q_OBJECT
public:
    // `op` shows the warnings and the wait cursor; it outlives this object.
    explicit WebFormExchange(Operator& op, QObject* parent = nullptr);
    // Cancels the exchange under way and joins the thread (a cancelled
    // exchange ends within kCancelCheckMs).
    ~WebFormExchange() override;

    bool isRunning() const { return m_job != nullptr; }

    // WebFormClient::read() or apply() with a copy of `client` (address, port,
    // limits) on the exchange's thread. False, and nothing started, while
    // another exchange is under way.
    bool startReading(const WebFormClient& client, const NetworkSettings& current);
    bool startApplying(const WebFormClient& client, const NetworkSettings& wanted);

    // Ends the exchange under way at once: its transfer is aborted, nothing
    // more is sent or shown, a wait cursor it set is taken back, and of its
    // signals only ended() comes (from within this call).
    void cancel();

signals:
    void readingFinished(const netconfig::NetworkSettings& settings);
    void applyingFinished(bool applied);
    // After every exchange, finished or cancelled.
    void ended();

protected:
    bool event(QEvent* event) override;

private:
    struct Job;
    class Worker;
    class RelayOperator;
    // What a finished exchange emits, run on the asking thread.
    using Outcome = std::function<void(WebFormExchange&)>;
    using Steps = std::function<Outcome(WebFormClient&, Operator&)>;

    bool start(const WebFormClient& client, Steps steps);
    // Posted by the exchange's thread; a job cancelled since does nothing.
    void showWarning(const std::shared_ptr<Job>& job, const QString& text);
    void showBusy(const std::shared_ptr<Job>& job, bool busy);
    void finish(const std::shared_ptr<Job>& job, const Outcome& outcome);

    Operator& m_operator;
    std::shared_ptr<Job> m_job; // the exchange under way
    std::unique_ptr<Worker> m_worker;
};

} // namespace netconfig
