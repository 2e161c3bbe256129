#pragma once

#include "monitorsource.h"

#include <QTimer>

#include <array>

class BoxSession;

namespace monitor {

// Whether each device behind the box's device server answers, from what the
// session reports: one that read a value answers; a lost box takes every
// controller with it, each back with its own next reading.
class DeviceStates
{
public:
    enum Which
    {
        Temperature,
        N2,
        O2,
        Controllers
    };
    void reading(Which which) { m_up[which] = true; }
    void boxLost() { m_up.fill(false); }
    bool up(Which which) const { return m_up[which]; }

private:
    std::array<bool, Controllers> m_up{}; // nothing answers before it is heard
};

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
    DeviceStates m_devices;
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
