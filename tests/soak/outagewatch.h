#pragma once

// Holds what the window made of the box's outages against the outages the
// fault schedule injected: the temperature poller reports an outage it
// notices once (not once per try), the window asks "Connection problem" once
// for it, nothing is reported while the box is there, and no question comes
// up while another is open.

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

class FaultSchedule;
class WorkerThread;

struct OutageFigures
{
    int injected = 0;
    int noticed = 0; // reported by the temperature poller
    int questions = 0;
    qint64 awayMs = 0;
};

class OutageWatch : public QObject
{
public:
    OutageWatch(FaultSchedule& faults, WorkerThread* temperaturePoller, int timingSlack);

    // Every question the window asks, with the questions open at that moment
    // (itself included).
    void questionAsked(const QString& title, int openQuestions);

    QStringList check(OutageFigures* figures) const;

private:
    struct Seen
    {
        int lossReports = 0;
        int questions = 0;
        bool lostBefore = false;     // the poller had not found the box since an earlier outage
        qint64 longestPollingMs = 0; // the poller not paused, without a break
    };

    void boxAway(bool away);
    void sample();
    // The outage a report at `atMs` belongs to, or -1.
    int outageAt(qint64 atMs) const;

    FaultSchedule& m_faults;
    WorkerThread* m_poller;
    const qint64 m_reportLagMs;
    const qint64 m_noticeMs;
    QList<Seen> m_seen; // one per outage
    QStringList m_problems;
    QTimer m_sampler;
    qint64 m_pollingSinceMs = -1;
    qint64 m_questionAtMs = -1; // "Connection problem" asked, its report not heard yet
};
