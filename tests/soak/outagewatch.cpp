#include "outagewatch.h"

#include "faultschedule.h"
#include "workerthread.h"

#include "boxlink.h"

namespace {

// A loss is found on the poller's thread and reaches the window through its
// event loop, which never waits long.
constexpr qint64 kReportLagMs = 1000;
// The longest an unpaused poller takes to try the box: a poll's write wait,
// the sleep after it, and room for a busy machine.
constexpr qint64 kPollerNoticesMs =
    boxlink::kTemperaturePoll.writeMs + boxlink::kTemperaturePollSleepMs + 600;
constexpr int kSampleMs = 20;

} // namespace

OutageWatch::OutageWatch(FaultSchedule& faults, WorkerThread* temperaturePoller, int timingSlack)
    : m_faults(faults), m_poller(temperaturePoller), m_reportLagMs(kReportLagMs * timingSlack),
      m_noticeMs(kPollerNoticesMs * timingSlack)
{
    m_faults.onOutage([this](bool away) { boxAway(away); });
    connect(m_poller, &WorkerThread::connectionLost, this, [this] {
        // The window hears the report first and asks its question before this
        // runs: the report came when the question did.
        const qint64 at = m_questionAtMs >= 0 ? m_questionAtMs : m_faults.nowMs();
        m_questionAtMs = -1;
        const int outage = outageAt(at);
        if (outage < 0)
            m_problems << QStringLiteral("the temperature poller reported a loss at %1 s while "
                                         "the box was there")
                              .arg(at / 1000.0, 0, 'f', 3);
        else
            ++m_seen[outage].lossReports;
    });
    m_sampler.setInterval(kSampleMs);
    connect(&m_sampler, &QTimer::timeout, this, [this] { sample(); });
}

void OutageWatch::boxAway(bool away)
{
    if (!away) {
        sample();
        m_sampler.stop();
        return;
    }
    Seen seen;
    seen.lostBefore = m_poller->isLost();
    m_seen << seen;
    m_pollingSinceMs = -1;
    m_sampler.start();
}

void OutageWatch::sample()
{
    if (m_seen.isEmpty())
        return;
    const qint64 now = m_faults.nowMs();
    if (m_poller->isPaused()) {
        m_pollingSinceMs = -1;
        return;
    }
    if (m_pollingSinceMs < 0)
        m_pollingSinceMs = now;
    Seen& seen = m_seen.last();
    seen.longestPollingMs = qMax(seen.longestPollingMs, now - m_pollingSinceMs);
}

int OutageWatch::outageAt(qint64 atMs) const
{
    const QList<FaultSchedule::Outage> outages = m_faults.outages();
    for (int i = int(outages.size()) - 1; i >= 0; --i) {
        if (outages[i].beganMs > atMs)
            continue;
        if (outages[i].endedMs < 0 || atMs <= outages[i].endedMs + m_reportLagMs)
            return i < m_seen.size() ? i : -1;
        return -1;
    }
    return -1;
}

void OutageWatch::questionAsked(const QString& title, int openQuestions)
{
    const qint64 now = m_faults.nowMs();
    if (openQuestions > 1)
        m_problems << QStringLiteral("\"%1\" was asked at %2 s while another question was open")
                          .arg(title)
                          .arg(now / 1000.0, 0, 'f', 3);
    if (title != QLatin1String("Connection problem"))
        return;
    m_questionAtMs = now;
    const int outage = outageAt(now);
    if (outage < 0)
        m_problems << QStringLiteral("\"Connection problem\" at %1 s while the box was there")
                          .arg(now / 1000.0, 0, 'f', 3);
    else
        ++m_seen[outage].questions;
}

QStringList OutageWatch::check(OutageFigures* figures) const
{
    QStringList problems = m_problems;
    const QList<FaultSchedule::Outage> outages = m_faults.outages();
    for (int i = 0; i < m_seen.size() && i < outages.size(); ++i) {
        const Seen& seen = m_seen[i];
        const FaultSchedule::Outage& outage = outages[i];
        const QString which = QStringLiteral("outage %1 (%2 s to %3 s)")
                                  .arg(i + 1)
                                  .arg(outage.beganMs / 1000.0, 0, 'f', 3)
                                  .arg(outage.endedMs / 1000.0, 0, 'f', 3);
        if (seen.lossReports > 1)
            problems << QStringLiteral("%1 was reported %2 times").arg(which).arg(seen.lossReports);
        if (seen.questions != qMin(seen.lossReports, 1))
            problems << QStringLiteral("%1: %2 loss report(s), %3 \"Connection problem\"")
                            .arg(which)
                            .arg(seen.lossReports)
                            .arg(seen.questions);
        // A poller that was still looking for the box from an earlier outage
        // has reported this loss already.
        if (seen.lossReports == 0 && !seen.lostBefore && seen.longestPollingMs >= m_noticeMs)
            problems << QStringLiteral("%1 went unnoticed though the temperature poller polled "
                                       "for %2 ms of it")
                            .arg(which)
                            .arg(seen.longestPollingMs);
        if (figures) {
            ++figures->injected;
            figures->noticed += seen.lossReports > 0 ? 1 : 0;
            figures->questions += seen.questions;
            figures->awayMs +=
                (outage.endedMs < 0 ? m_faults.nowMs() : outage.endedMs) - outage.beganMs;
        }
    }
    return problems;
}
