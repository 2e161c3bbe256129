#pragma once

// The faults the soak adds on top of the simulator's seeded random mix (which
// splits, delays, prefixes junk, corrupts and drops single answers): phases of
// refused connections, silent devices, exception answers, bad CRCs, long
// delays and the like on the temperature and flow controllers, and a fault
// drawn for every single pulse command.

#include "boxsimulator.h"

#include <QDeadlineTimer>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <array>
#include <random>

class QDoubleSpinBox;

class FaultSchedule : public QObject
{
public:
    FaultSchedule(boxsim::BoxSimulator* box, quint32 seed);

    // Starts switching the controllers' faults; stop() clears every fault.
    void start();
    void stop();

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
    QString armPulse(bool cameraFeedback);

    // Only a refused connection keeps a pulse command from reaching the box.
    static bool mayLosePulse(const QString& pulseFault) { return pulseFault == "refuse"; }

    // Phases and pulse faults applied so far, as "device:kind" -> count.
    QMap<QString, int> applied() const { return m_applied; }
    QString current(boxsim::Device device) const { return m_current[size_t(device)]; }

private:
    void nextPhase(boxsim::Device device);
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
};
