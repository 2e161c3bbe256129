#pragma once

// Follows one calibration run through the window's status bar and compares
// its logs with the box's true state afterwards.

#include "boxfixture.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

class FaultSchedule;

struct BoxState
{
    double temperatureC = 0;
    double airPressureBar = -1;
    double n2 = 0;
    double o2 = 0;
};

struct RunSetup
{
    QString logPath;
    QString rawLogPath;
    bool cls = false;
    QByteArray pulseCommand; // "#010", "$010"
    int pulsesPerPoint = 1;
    int gridPoints = 0; // the reference point follows them
};

struct RunFigures
{
    int records = 0;
    int pulseCommands = 0;
    int pulsesDelivered = 0;
    int pulsesLost = 0;           // never reached the box
    int pulsesLostAway = 0;       // of those, while the box was away
    int generatorRefusals = 0;    // answered "RR1"
    int refusalsInKeptPoints = 0; // of those, beside a pulse of their point that went out
    int pointsRepeated = 0;       // withdrawn because no pulse of theirs went out
    int pointsRefused = 0;        // of those, with a pulse the generator refused
    int strayPulses = 0;          // reached the box, but on a connection dropped before the answer
};

// The window shows "Delay before pulse ... sec" right after a point's record
// is written, and "Pulse ... ms sent" right before each command goes out;
// both are shown synchronously, so the watch sees every sequence and every
// command before the box does, and arms the generator's fault for it.
class RunWatch : public QObject
{
public:
    RunWatch(BoxFixture& f, FaultSchedule& faults, const RunSetup& setup);

    // Every record of both logs against the box: one record per pulse
    // sequence that reached the generator (the window withdraws the record
    // of a point none of whose pulses went out, and repeats the point),
    // numbers without gaps, temperature and pressure as the box had
    // them when the record was written and when each of its pulses arrived.
    // A pulse command may miss the box only on a refused connection or while
    // the box was away; the generator's refusals are the box's own.
    QStringList check(RunFigures* figures) const;

    // The generator's "RR1" reaches the operator as a message box: the pulse
    // was refused and took no image.
    void pulseErrorShown();

    QString recentMessages() const { return m_messages.join(QLatin1Char('\n')); }
    // "command: generator fault, commands the box had seen before it", one per command.
    QString pulseLog() const;

private:
    struct Sequence
    {
        int recordsBefore = 0;           // records in the log when the sequence started
        BoxState box;                    // the box when the record had just been written
        bool withdrawn = false;          // the window took the record back and repeats the point
        bool withdrawnAsRefused = false; // ... saying the generator refused its pulses
    };
    struct Attempt
    {
        int sequence = 0;
        int index = 0;       // within its sequence, from 0
        int truthBefore = 0; // pulse commands the box had seen before this one
        QString fault;
        qint64 armedAtMs = 0; // on the fault schedule's clock
        qint64 endedAtMs = -1;
        bool answered = false;     // the window took an answer, or gave up waiting for one
        bool heard = false;        // the answer was a status word
        bool refused = false;      // the answer was "RR1": no image
        bool refusalShown = false; // "... refused pulse K of N ..."
    };

    void message(const QString& text);
    void pulseRefusalShown(const QString& text);
    int recordsInLog() const;
    int keptSequences() const;
    void endAttempt(bool answered, bool heard);
    qint64 attemptEndMs(int attempt) const;

    BoxFixture& m_f;
    FaultSchedule& m_faults;
    RunSetup m_setup;
    int m_truthAtStart = 0;
    QList<Sequence> m_sequences;
    QList<Attempt> m_attempts;
    QStringList m_problems;
    QStringList m_messages;
    QElapsedTimer m_clock;
};

BoxState boxState(const boxsim::BoxSimulator& box);
