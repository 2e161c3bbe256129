#include "webformexchange.h"

#include "crossthread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace netconfig {

// One exchange, shared by the asking thread and the exchange's thread.
struct WebFormExchange::Job
{
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable answered;
    bool warningClosed = false; // under mutex
    bool busyShown = false;     // asking thread only
};

// The exchange's thread: runs the posted tasks one after the other. libcurl's
// handles are made, used and freed inside them.
class WebFormExchange::Worker
{
public:
    Worker() : m_thread([this] { run(); }) {}

    ~Worker()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    void post(std::function<void()> task)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_one();
    }

private:
    void run()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
                if (m_stopping)
                    return;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::thread m_thread; // last: starts once the members above exist
};

// The operator as the exchange's thread sees it: every call is handed to the
// asking thread, and a warning waits there until the operator has closed it
// (or the exchange is cancelled).
class WebFormExchange::RelayOperator : public Operator
{
public:
    RelayOperator(WebFormExchange& exchange, std::shared_ptr<Job> job)
        : m_exchange(exchange), m_job(std::move(job))
    {
    }

    void warn(const QString& text) override
    {
        {
            std::lock_guard<std::mutex> lock(m_job->mutex);
            m_job->warningClosed = false;
        }
        WebFormExchange* exchange = &m_exchange;
        std::shared_ptr<Job> job = m_job;
        crossthread::postCall(exchange,
                              [exchange, job, text] { exchange->showWarning(job, text); });
        std::unique_lock<std::mutex> lock(m_job->mutex);
        m_job->answered.wait(lock, [this] { return m_job->warningClosed || m_job->cancelled; });
    }

    void setBusy(bool busy) override
    {
        WebFormExchange* exchange = &m_exchange;
        std::shared_ptr<Job> job = m_job;
        crossthread::postCall(exchange, [exchange, job, busy] { exchange->showBusy(job, busy); });
    }

private:
    WebFormExchange& m_exchange;
    std::shared_ptr<Job> m_job;
};

WebFormExchange::WebFormExchange(Operator& op, QObject* parent)
    : QObject(parent), m_operator(op), m_worker(std::make_unique<Worker>())
{
    // For receivers that queue the signals once more.
    qRegisterMetaType<NetworkSettings>();
}

WebFormExchange::~WebFormExchange()
{
    cancel();
    // The thread posts nothing after this; calls still queued are dropped
    // with this object.
    m_worker.reset();
}

bool WebFormExchange::startReading(const WebFormClient& client, const NetworkSettings& current)
{
    return start(client, [current](WebFormClient& webForms, Operator& op) -> Outcome {
        const NetworkSettings read = webForms.read(op, current);
        return [read](WebFormExchange& exchange) { emit exchange.readingFinished(read); };
    });
}

bool WebFormExchange::startApplying(const WebFormClient& client, const NetworkSettings& wanted)
{
    return start(client, [wanted](WebFormClient& webForms, Operator& op) -> Outcome {
        const bool applied = webForms.apply(op, wanted);
        return [applied](WebFormExchange& exchange) { emit exchange.applyingFinished(applied); };
    });
}

bool WebFormExchange::start(const WebFormClient& client, Steps steps)
{
    if (m_job)
        return false;
    auto job = std::make_shared<Job>();
    m_job = job;
    m_worker->post([this, job, webForms = client, steps = std::move(steps)]() mutable {
        webForms.setCancelFlag(&job->cancelled);
        RelayOperator relay(*this, job);
        const Outcome outcome = steps(webForms, relay);
        crossthread::postCall(this, [this, job, outcome] { finish(job, outcome); });
    });
    return true;
}

void WebFormExchange::cancel()
{
    if (!m_job)
        return;
    const std::shared_ptr<Job> job = std::move(m_job);
    {
        std::lock_guard<std::mutex> lock(job->mutex);
        job->cancelled = true;
    }
    job->answered.notify_all();
    if (job->busyShown)
        m_operator.setBusy(false);
    emit ended();
}

void WebFormExchange::showWarning(const std::shared_ptr<Job>& job, const QString& text)
{
    if (job == m_job)
        m_operator.warn(text);
    {
        std::lock_guard<std::mutex> lock(job->mutex);
        job->warningClosed = true;
    }
    job->answered.notify_all();
}

void WebFormExchange::showBusy(const std::shared_ptr<Job>& job, bool busy)
{
    if (job != m_job || job->busyShown == busy)
        return;
    job->busyShown = busy;
    m_operator.setBusy(busy);
}

void WebFormExchange::finish(const std::shared_ptr<Job>& job, const Outcome& outcome)
{
    if (job != m_job)
        return;
    m_job.reset();
    outcome(*this);
    emit ended();
}

bool WebFormExchange::event(QEvent* event)
{
    return crossthread::runPostedCall(event) || QObject::event(event);
}

} // namespace netconfig
