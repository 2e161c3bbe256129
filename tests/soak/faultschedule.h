#pragma once

// The faults the soak adds on top of the simulator's seeded random mix (which
// splits, delays, prefixes junk, corrupts and drops single answers): phases of
// refused connections, silent devices, exception answers, bad CRCs, long
// delays and the like on the temperature and flow controllers, a fault drawn
// for every single pulse command, and now and then the whole box away for a
// few seconds, as when its device server restarts.

#include "boxsimulator.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <array>
#include <functional>
#include <random>

class QDoubleSpinBox;

class FaultSchedule : public QObject
{
public:
    FaultSchedule(boxsim::BoxSimulator* box, quint32 seed);

    // Starts switching the controllers' faults and taking the box away;
    // stop() clears every fault and brings the box back.
    void start();
    void stop();

    // The box goes away (every port refuses) for 1 to 5 s, 20 to 50 s after
    // it came back. On by default.
    void setOutages(bool on) { m_outagesOn = on; }
    // The simulator's random mix starts over with its seed when the box comes
    // back; each return takes the next seed instead, so the mix goes on.
    void setRandomMixSeed(quint32 seed) { m_mixSeed = seed; }
    // Called just before the box goes away (true) and once it is back (false).
    void onOutage(std::function<void(bool away)> hook) { m_outageHook = std::move(hook); }
    struct Outage
    {
        qint64 beganMs = 0;  // on nowMs(), just before the box went away
        qint64 endedMs = -1; // once it listened again; -1 while away
    };
    QList<Outage> outages() const { return m_outages; }
    bool boxAway() const { return !m_outages.isEmpty() && m_outages.last().endedMs < 0; }
    // Whether the box was away at some moment from `fromMs` to `toMs`.
    bool awayBetween(qint64 fromMs, qint64 toMs) const;
    qint64 nowMs() const { return m_clock.elapsed(); }
    // How long the operator reads "Connection problem" before answering it.
    int operatorReadingMs();

    // With the guards on, faults that lose writes (refused, exception) are
    // lifted the moment `setT` moves and held back until the box has the new
    // set point, so no set point has to be sent again.
    void guardSetPoint(const QDoubleSpinBox* setT);
    // Likewise the reference point's gas is sent once: no refused flow
    // controller connections while `hold` is set.
    void holdFlowWrites(bool hold);
    // Without the guards above (the soak's default) set points are lost and
    // sent again.
    void setGuards(bool on) { m_guards = on; }

    // Draws and applies the generator's fault for the next pulse command and
    // returns its name ("clean", "refuse", "silent", ...).
    QString armPulse(bool cameraFeedback, bool lastOfPoint);

    // Only a refused connection (or the box away) keeps a pulse command from
    // reaching the box.
    static bool mayLosePulse(const QString& pulseFault) { return pulseFault == "refuse"; }

    // Phases and pulse faults applied so far, as "device:kind" -> count.
    QMap<QString, int> applied() const { return m_applied; }
    QString current(boxsim::Device device) const { return m_current[size_t(device)]; }

private:
    void nextPhase(boxsim::Device device);
    void scheduleOutage();
    void takeBoxAway();
    void bringBoxBack(bool scheduleNext);
    void setPointMoving();
    void liftWriteLosses(boxsim::Device device);
    bool writesMayBeLost(boxsim::Device device) const;
    QString draw(boxsim::Device device);
    boxsim::Faults faultsFor(boxsim::Device device, const QString& kind);
    QByteArray junk(boxsim::Device device, int length, const QByteArray& alphabet);

    boxsim::BoxSimulator* m_box;
    // One generator per device: each device's faults replay alike whatever
    // the timing between the devices.
    std::array<std::mt19937, boxsim::kDeviceCount> m_rngs;
    std::array<QStringList, boxsim::kDeviceCount> m_decks;
    std::array<QString, boxsim::kDeviceCount> m_current;
    std::array<QTimer, 3> m_phaseTimers; // temperature, N2, O2
    QMap<QString, int> m_applied;
    const QDoubleSpinBox* m_setT = nullptr;
    QDeadlineTimer m_writeHold{0};
    bool m_holdFlowWrites = false;
    bool m_guards = true;
    // Refusals still due from a pulse fault that refuses two pulses.
    int m_refusalsOwed = 0;

    bool m_outagesOn = true;
    std::mt19937 m_outageRng;
    std::mt19937 m_operatorRng;
    QTimer m_outageTimer;
    QElapsedTimer m_clock;
    QList<Outage> m_outages;
    std::function<void(bool)> m_outageHook;
    quint32 m_mixSeed = 0;
};
