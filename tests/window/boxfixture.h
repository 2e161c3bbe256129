#pragma once

// Drives the real main window against an in-process box simulator on a
// loopback address of the test's own.

#include "boxsimulator.h"
#include "scripteddialogs.h"
#include "tempsensor.h"

#include <QList>
#include <QString>

#include <memory>

class BoxFixture
{
public:
    BoxFixture();
    ~BoxFixture();

    // Starts a simulator on a new loopback address (fast instruments unless
    // the options say otherwise).
    boxsim::BoxSimulator* startBox(boxsim::Options options = fastOptions());
    static boxsim::Options fastOptions();

    // A fresh window on fresh settings, whose session takes its rests, polls
    // and command waits `sessionSpeedUp` times faster (1: as a user's).
    TempSensor* makeWindow();
    double sessionSpeedUp = defaultSessionSpeedUp;
    // What a test file chooses for all its fixtures.
    inline static double defaultSessionSpeedUp = 1.0;

    // Answers the address dialog with `text` and runs setIPAddress().
    void enterAddress(const QString& text);
    // Connects the window to the box and waits for its first temperature reading.
    bool connectAndWaitForReading(int timeoutMs = 5000);

    // Requests the device received after the given index (see mark()).
    QList<QByteArray> framesSince(boxsim::Device device, int fromIndex) const;
    int mark(boxsim::Device device) const;

    // True when, while connection `command` was open on `device`, no other
    // connection to that device was open and no other connection sent data.
    bool portWasExclusive(boxsim::Device device, quint64 command) const;
    // Connections made to `device` since the event index `fromEvent`.
    QList<quint64> connectionsSince(boxsim::Device device, int fromEvent) const;
    int eventMark() const;

    // Runs the event loop until `condition` holds, for at most `timeoutMs`.
    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

    std::unique_ptr<boxsim::BoxSimulator> box;
    QString host;
    ScriptedDialogs dialogs;
    std::unique_ptr<TempSensor> window;
};

template <typename T> T* findIn(QWidget* window, const char* name)
{
    return window->findChild<T*>(QString::fromLatin1(name));
}

QByteArray hex(const char* spaced);
