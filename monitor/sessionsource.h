#pragma once

#include "monitorsource.h"

#include <QTimer>

class BoxSession;

namespace monitor {

// What the monitor shows of one box session, the window's or baroterm-run's.
// It only reads the session. Made on the session's thread.
class SessionSource : public Source
{
    Q_OBJECT

public:
    explicit SessionSource(const BoxSession& session, QObject* parent = nullptr);

    const history::ReadingHistory& history() const override;
    BoxView box() const override;
    RunView run() const override;
    Counters counters() const override;

private:
    // Tells what changed since the last look: the session says nothing of
    // the run's phase, nor of an event a front-end added.
    void look();

    const BoxSession& m_session;
    qint64 m_eventsSeen = 0;
    Counters m_counters;
    RunView m_lastRun;
    BoxView m_lastBox;
    QTimer m_looks;
};

// What the page shows of them differs.
bool sameShown(const RunView& a, const RunView& b);
bool sameShown(const BoxView& a, const BoxView& b);

} // namespace monitor
