#pragma once

#include "boxsimulator.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace pollertest {

// A simulated box on a loopback address of its own, its physics running fast.
inline std::unique_ptr<boxsim::BoxSimulator> startSimulator(const QString& host,
                                                            double celsius = 22.0)
{
    boxsim::Options options;
    options.host = host;
    options.httpPort = 0;
    options.timeScale = 200;
    options.initialTemperatureC = celsius;
    auto sim = std::make_unique<boxsim::BoxSimulator>(options);
    return sim->start() ? std::move(sim) : nullptr;
}

// Gives a flow controller a set point and waits until the flow has settled on it.
inline bool setFlow(boxsim::BoxSimulator& sim, boxsim::Device device, int counts, double slpm)
{
    QTcpSocket socket;
    socket.connectToHost(sim.host(), sim.port(device));
    if (!socket.waitForConnected(2000))
        return false;
    socket.write("A" + QByteArray::number(counts) + "\r");
    socket.waitForBytesWritten(2000);
    return sim.waitFor([&] { return qAbs(sim.massFlow(device) - slpm) < 1e-6; }, 3000);
}

// Every signal a poller emits, in arrival order.
struct Recorder
{
    struct Entry
    {
        QString signal;
        float a, b;
        qint64 ms;
    };

    Recorder() { clock.start(); }
    void add(const QString& signal, float a = 0, float b = 0)
    {
        entries.append(Entry{signal, a, b, clock.elapsed()});
    }
    QList<Entry> of(const QString& signal, int from = 0) const
    {
        QList<Entry> out;
        for (const Entry& e : entries.mid(from))
            out += e.signal == signal ? QList<Entry>{e} : QList<Entry>{};
        return out;
    }
    int count(const QString& signal) const { return int(of(signal).size()); }
    double meanGapMs(const QString& signal) const
    {
        const QList<Entry> l = of(signal);
        return l.size() < 2 ? 0 : double(l.last().ms - l.first().ms) / double(l.size() - 1);
    }

    QElapsedTimer clock;
    QList<Entry> entries;
};

// The class's own signals and slots in declaration order (the window connects by name).
inline QStringList ownMethods(const QMetaObject& mo)
{
    QStringList out;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        out += QString::fromLatin1(mo.method(i).methodSignature());
    return out;
}

inline bool sawDisconnect(const boxsim::BoxSimulator& sim, boxsim::Device device)
{
    return sim.waitForEvent(
        [device](const boxsim::Event& e) {
            return e.device == device && e.kind == boxsim::Event::Disconnected;
        },
        1000);
}

} // namespace pollertest
